! Fortran interfaces of the ORVEK library: module orvek declares all 28
! routines as bind(C) subroutines, every argument by reference, with the
! library's argument names, an intent per argument's direction and
! explicit-shape dummies with the fixed leading dimensions (5000 per branch,
! 1000 per node, 10000 per nonzero, 30000 per complex factor, 100 dense).
! A complex array X(LD,2) holds real parts in column 1, imaginary parts in
! column 2. Arrays whose length the library derives from an output (NZ,
! IJA(N+1)...) are assumed-size. Where the C header allows an output to be
! the same array as an input (BSR, BSC, SimFaz), Fortran's rules on
! aliased dummies still apply: pass separate arrays from Fortran.
! A terminal error of the sort or of the sparse solver prints its message
! and ends the process with exit status 1. The library is not re-entrant.
module orvek
  use, intrinsic :: iso_c_binding, only: c_float, c_int32_t
  implicit none
  private
  public :: c_float, c_int32_t
  public :: ORVEK_LD_BRANCH, ORVEK_LD_NODE, ORVEK_LD_NONZERO, ORVEK_LD_FACTOR, ORVEK_LD_DENSE
  public :: MatricaY, MatricaYR, MatY, MatYR, MatYsa, MatY_prekin
  public :: LUR, LUC, BSR, BSC
  public :: SimFaz, SimFaz1, FazSim1, Sg, So, J1J2, EMS, NaponiKV, StruiKV
  public :: MAUX, MultiPodred, ZapisiPodredeno, Inverzija, MNOZI, Paralelno, OdrediPe, OdrediSe
  public :: Matrici_VektoriBX

  ! Leading dimensions and capacities of the exported routines.
  integer(c_int32_t), parameter :: ORVEK_LD_BRANCH = 5000
  integer(c_int32_t), parameter :: ORVEK_LD_NODE = 1000
  integer(c_int32_t), parameter :: ORVEK_LD_NONZERO = 10000
  integer(c_int32_t), parameter :: ORVEK_LD_FACTOR = 30000
  integer(c_int32_t), parameter :: ORVEK_LD_DENSE = 100

  interface
    ! ---- Admittance-matrix assembly ---------------------------------------

    ! Nodal admittance matrix with nodal shunts, as a triplet list and in
    ! the row-indexed sparse form.
    subroutine MatricaY(BSH, KSH, NSH, N, Z, YA, YB, NODES, NB, IROW, JCOL, A, NZ, SA, IJA) &
        bind(C, name="MatricaY")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: NSH, N, NB
      real(c_float), intent(in) :: BSH(NSH)           ! shunt susceptances
      integer(c_int32_t), intent(in) :: KSH(NSH)      ! shunt nodes, 1..N
      real(c_float), intent(in) :: Z(5000, 2)         ! series impedance R, X
      real(c_float), intent(in) :: YA(5000, 2)        ! admittance at the first end
      real(c_float), intent(in) :: YB(5000, 2)        ! admittance at the second end
      integer(c_int32_t), intent(in) :: NODES(5000, 2) ! end nodes
      integer(c_int32_t), intent(out) :: IROW(*)      ! IROW(NZ) triplet rows
      integer(c_int32_t), intent(out) :: JCOL(*)      ! JCOL(NZ) triplet columns
      real(c_float), intent(out) :: A(10000, 2)       ! triplet values
      integer(c_int32_t), intent(out) :: NZ           ! number of triplets
      real(c_float), intent(out) :: SA(10000, 2)      ! row-indexed values
      integer(c_int32_t), intent(out) :: IJA(*)       ! IJA(NZ+1) row-indexed index array
    end subroutine MatricaY

    ! Removes the row and column of node KREF from a row-indexed matrix of
    ! N+1 nodes and renumbers the rest; both forms out, columns ascending.
    subroutine MatricaYR(KREF, SA, IJA, IOLD, INEW, N, SAR, IJAR, IROW, JCOL, A, NZ) &
        bind(C, name="MatricaYR")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: KREF          ! old number of the removed node
      real(c_float), intent(in) :: SA(10000, 2)       ! input values (N+1 nodes)
      integer(c_int32_t), intent(in) :: IJA(*)        ! IJA(IJA(N+2)-1) input index array
      integer(c_int32_t), intent(in) :: N             ! number of nodes after the reduction
      integer(c_int32_t), intent(in) :: IOLD(N)       ! old number of new node i
      integer(c_int32_t), intent(in) :: INEW(N + 1)   ! new number of old node c
      real(c_float), intent(out) :: SAR(10000, 2)     ! reduced values
      integer(c_int32_t), intent(out) :: IJAR(*)      ! IJAR(NZ+1) reduced index array
      integer(c_int32_t), intent(out) :: IROW(*)      ! IROW(NZ) triplet rows
      integer(c_int32_t), intent(out) :: JCOL(*)      ! JCOL(NZ) triplet columns
      real(c_float), intent(out) :: A(10000, 2)       ! triplet values
      integer(c_int32_t), intent(out) :: NZ           ! number of triplets
    end subroutine MatricaYR

    ! Admittance matrix of the branches alone, triplet list only.
    subroutine MatY(N, Z, YA, YB, NODES, NB, IROW, JCOL, A, NZ) bind(C, name="MatY")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes
      real(c_float), intent(in) :: Z(5000, 2)
      real(c_float), intent(in) :: YA(5000, 2)
      real(c_float), intent(in) :: YB(5000, 2)
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
      integer(c_int32_t), intent(in) :: NB            ! number of branches, 1..5000
      integer(c_int32_t), intent(out) :: IROW(*)      ! IROW(NZ)
      integer(c_int32_t), intent(out) :: JCOL(*)      ! JCOL(NZ)
      real(c_float), intent(out) :: A(10000, 2)
      integer(c_int32_t), intent(out) :: NZ           ! number of triplets
    end subroutine MatY

    ! Removes every flagged node from a row-indexed matrix and renumbers the
    ! rest; triplet list only.
    subroutine MatYR(NIN, IDROP, SA, IJA, IOLD, INEW, N, IROW, JCOL, A, NZ) bind(C, name="MatYR")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: NIN           ! number of nodes of the input matrix
      integer(c_int32_t), intent(in) :: IDROP(NIN)    ! nonzero removes old node c
      real(c_float), intent(in) :: SA(10000, 2)       ! input values
      integer(c_int32_t), intent(in) :: IJA(*)        ! IJA(IJA(NIN+1)-1) input index array
      integer(c_int32_t), intent(in) :: N             ! number of nodes after the reduction
      integer(c_int32_t), intent(in) :: IOLD(N)       ! old number of new node i
      integer(c_int32_t), intent(in) :: INEW(NIN)     ! new number of old node c
      integer(c_int32_t), intent(out) :: IROW(*)      ! IROW(NZ)
      integer(c_int32_t), intent(out) :: JCOL(*)      ! JCOL(NZ)
      real(c_float), intent(out) :: A(10000, 2)
      integer(c_int32_t), intent(out) :: NZ           ! number of triplets
    end subroutine MatYR

    ! Admittance matrix of the branches alone, in both forms.
    subroutine MatYsa(N, Z, YA, YB, NODES, NB, IROW, JCOL, A, NZ, SA, IJA) bind(C, name="MatYsa")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes
      real(c_float), intent(in) :: Z(5000, 2)
      real(c_float), intent(in) :: YA(5000, 2)
      real(c_float), intent(in) :: YB(5000, 2)
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
      integer(c_int32_t), intent(in) :: NB            ! number of branches, 1..5000
      integer(c_int32_t), intent(out) :: IROW(*)      ! IROW(NZ)
      integer(c_int32_t), intent(out) :: JCOL(*)      ! JCOL(NZ)
      real(c_float), intent(out) :: A(10000, 2)
      integer(c_int32_t), intent(out) :: NZ           ! number of triplets
      real(c_float), intent(out) :: SA(10000, 2)
      integer(c_int32_t), intent(out) :: IJA(*)       ! IJA(NZ+1)
    end subroutine MatYsa

    ! Admittance matrix with opened branches (status other than 1): their
    ! end admittances stay, their series element is left out. Triplets only.
    subroutine MatY_prekin(N, Z, YA, YB, NODES, ISTAT, NB, IROW, JCOL, A, NZ) bind(C, name="MatY_prekin")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes
      real(c_float), intent(in) :: Z(5000, 2)
      real(c_float), intent(in) :: YA(5000, 2)
      real(c_float), intent(in) :: YB(5000, 2)
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
      integer(c_int32_t), intent(in) :: NB            ! number of branches, 1..5000
      integer(c_int32_t), intent(in) :: ISTAT(NB)     ! 1 in service, other opened
      integer(c_int32_t), intent(out) :: IROW(*)      ! IROW(NZ)
      integer(c_int32_t), intent(out) :: JCOL(*)      ! JCOL(NZ)
      real(c_float), intent(out) :: A(10000, 2)
      integer(c_int32_t), intent(out) :: NZ           ! number of triplets
    end subroutine MatY_prekin

    ! ---- Sparse LU solution ------------------------------------------------

    ! Factors a real sparse matrix given as triplets: M = A(IPVT,JPVT) = L*U.
    subroutine LUR(N, NZ, A, IROW, JCOL, IPARAM, RPARAM, NFAC, NL, FAC, IRFAC, JCFAC, IPVT, JPVT) &
        bind(C, name="LUR")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! order of the matrix
      integer(c_int32_t), intent(in) :: NZ            ! number of triplets
      real(c_float), intent(in) :: A(NZ)              ! triplet values
      integer(c_int32_t), intent(in) :: IROW(NZ)      ! triplet rows
      integer(c_int32_t), intent(in) :: JCOL(NZ)      ! triplet columns
      integer(c_int32_t), intent(inout) :: IPARAM(6)  ! defaults written back
      real(c_float), intent(inout) :: RPARAM(5)       ! defaults and statistics
      integer(c_int32_t), intent(out) :: NFAC         ! number of factor entries
      integer(c_int32_t), intent(out) :: NL           ! number of L entries
      real(c_float), intent(out) :: FAC(3 * NZ)       ! factor values
      integer(c_int32_t), intent(out) :: IRFAC(3 * NZ) ! factor rows
      integer(c_int32_t), intent(out) :: JCFAC(3 * NZ) ! factor columns
      integer(c_int32_t), intent(out) :: IPVT(N)      ! row permutation
      integer(c_int32_t), intent(out) :: JPVT(N)      ! column permutation
    end subroutine LUR

    ! Factors a complex sparse matrix given as triplets (NZ <= 10000).
    subroutine LUC(N, NZ, A, IROW, JCOL, IPARAM, RPARAM, NFAC, NL, FAC, IRFAC, JCFAC, IPVT, JPVT) &
        bind(C, name="LUC")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! order of the matrix
      integer(c_int32_t), intent(in) :: NZ            ! number of triplets, 1..10000
      real(c_float), intent(in) :: A(10000, 2)        ! triplet values
      integer(c_int32_t), intent(in) :: IROW(NZ)
      integer(c_int32_t), intent(in) :: JCOL(NZ)
      integer(c_int32_t), intent(inout) :: IPARAM(6)
      real(c_float), intent(inout) :: RPARAM(5)
      integer(c_int32_t), intent(out) :: NFAC         ! number of factor entries
      integer(c_int32_t), intent(out) :: NL           ! number of L entries
      real(c_float), intent(out) :: FAC(30000, 2)     ! factor values
      integer(c_int32_t), intent(out) :: IRFAC(3 * NZ)
      integer(c_int32_t), intent(out) :: JCFAC(3 * NZ)
      integer(c_int32_t), intent(out) :: IPVT(N)
      integer(c_int32_t), intent(out) :: JPVT(N)
    end subroutine LUC

    ! Solves A*x = b (IPATH 1) or A'*x = b (IPATH 2) with the factors of LUR.
    subroutine BSR(N, NFAC, NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, IPATH, X) bind(C, name="BSR")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! order of the system
      integer(c_int32_t), intent(in) :: NFAC          ! from LUR
      integer(c_int32_t), intent(in) :: NL            ! from LUR
      real(c_float), intent(in) :: FAC(NFAC)
      integer(c_int32_t), intent(in) :: IRFAC(NFAC)
      integer(c_int32_t), intent(in) :: JCFAC(NFAC)
      ! IPVT and JPVT are negated while in use and restored: pass variables.
      integer(c_int32_t), intent(in) :: IPVT(N)
      integer(c_int32_t), intent(in) :: JPVT(N)
      real(c_float), intent(in) :: B(N)               ! right-hand side
      integer(c_int32_t), intent(in) :: IPATH         ! 1 or 2
      real(c_float), intent(out) :: X(N)              ! solution
    end subroutine BSR

    ! Solves A*x = b (IPATH 1) or conj(A)'*x = b (IPATH 2) with the factors
    ! of LUC (N <= 1000, NFAC <= 30000).
    subroutine BSC(N, NFAC, NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, IPATH, X) bind(C, name="BSC")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! order of the system, 1..1000
      integer(c_int32_t), intent(in) :: NFAC          ! from LUC
      integer(c_int32_t), intent(in) :: NL            ! from LUC
      real(c_float), intent(in) :: FAC(30000, 2)
      integer(c_int32_t), intent(in) :: IRFAC(NFAC)
      integer(c_int32_t), intent(in) :: JCFAC(NFAC)
      integer(c_int32_t), intent(in) :: IPVT(N)
      integer(c_int32_t), intent(in) :: JPVT(N)
      real(c_float), intent(in) :: B(1000, 2)         ! right-hand side
      integer(c_int32_t), intent(in) :: IPATH         ! 1 or 2
      real(c_float), intent(out) :: X(1000, 2)        ! solution
    end subroutine BSC

    ! ---- Sequence and fault quantities -------------------------------------

    ! Sequence (0, 1, 2) to phase (a, b, c) values of entries 1..N.
    subroutine SimFaz(N, X0, X1, X2, XA, XB, XC) bind(C, name="SimFaz")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of entries, at most 5000
      real(c_float), intent(in) :: X0(5000, 2)
      real(c_float), intent(in) :: X1(5000, 2)
      real(c_float), intent(in) :: X2(5000, 2)
      real(c_float), intent(out) :: XA(5000, 2)
      real(c_float), intent(out) :: XB(5000, 2)
      real(c_float), intent(out) :: XC(5000, 2)
    end subroutine SimFaz

    ! Sequence to phase values of one complex quantity.
    subroutine SimFaz1(X0R, X0I, X1R, X1I, X2R, X2I, XAR, XAI, XBR, XBI, XCR, XCI) bind(C, name="SimFaz1")
      import :: c_float
      real(c_float), intent(in) :: X0R, X0I           ! zero sequence
      real(c_float), intent(in) :: X1R, X1I           ! positive sequence
      real(c_float), intent(in) :: X2R, X2I           ! negative sequence
      real(c_float), intent(out) :: XAR, XAI          ! phase a
      real(c_float), intent(out) :: XBR, XBI          ! phase b
      real(c_float), intent(out) :: XCR, XCI          ! phase c
    end subroutine SimFaz1

    ! Phase to sequence values of one complex quantity (inverse of SimFaz1).
    subroutine FazSim1(X0R, X0I, X1R, X1I, X2R, X2I, XAR, XAI, XBR, XBI, XCR, XCI) bind(C, name="FazSim1")
      import :: c_float
      real(c_float), intent(out) :: X0R, X0I          ! zero sequence
      real(c_float), intent(out) :: X1R, X1I          ! positive sequence
      real(c_float), intent(out) :: X2R, X2I          ! negative sequence
      real(c_float), intent(in) :: XAR, XAI           ! phase a
      real(c_float), intent(in) :: XBR, XBI           ! phase b
      real(c_float), intent(in) :: XCR, XCI           ! phase c
    end subroutine FazSim1

    ! Complex power at both ends of every branch, S = V*conj(I).
    subroutine Sg(Z, YA, YB, NODES, NB, V, N, SE1, SE2) bind(C, name="Sg")
      import :: c_float, c_int32_t
      real(c_float), intent(in) :: Z(5000, 2)
      real(c_float), intent(in) :: YA(5000, 2)
      real(c_float), intent(in) :: YB(5000, 2)
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
      integer(c_int32_t), intent(in) :: NB            ! number of branches, at most 5000
      real(c_float), intent(in) :: V(1000, 2)         ! node voltages
      integer(c_int32_t), intent(in) :: N             ! number of nodes, at most 1000
      real(c_float), intent(out) :: SE1(5000, 2)      ! power in at the first end
      real(c_float), intent(out) :: SE2(5000, 2)      ! power out at the second end
    end subroutine Sg

    ! Complex power injected at node K from the row-indexed matrix.
    subroutine So(N, K, V, SA, IJA, SR, SI) bind(C, name="So")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! order of the matrix, at most 1000
      integer(c_int32_t), intent(in) :: K             ! node, 1..N
      real(c_float), intent(in) :: V(1000, 2)         ! node voltages
      real(c_float), intent(in) :: SA(10000, 2)       ! row-indexed values
      integer(c_int32_t), intent(in) :: IJA(*)        ! IJA(IJA(N+1)-1) row-indexed index array
      real(c_float), intent(out) :: SR                ! active power
      real(c_float), intent(out) :: SI                ! reactive power
    end subroutine So

    ! Change of a branch's end currents when its ratio goes from T1 to T2.
    subroutine J1J2(R, X, T1, T2, E1R, E1I, E2R, E2I, J1R, J1I, J2R, J2I) bind(C, name="J1J2")
      import :: c_float
      real(c_float), intent(in) :: R, X               ! series resistance, reactance
      real(c_float), intent(in) :: T1, T2             ! ratio before and after
      real(c_float), intent(in) :: E1R, E1I           ! first-end voltage
      real(c_float), intent(in) :: E2R, E2I           ! second-end voltage
      real(c_float), intent(out) :: J1R, J1I          ! change at the first end
      real(c_float), intent(out) :: J2R, J2I          ! change at the second end
    end subroutine J1J2

    ! Source voltage behind a series reactance X from terminal V and power S.
    subroutine EMS(VR, VI, SR, SI, X, ER, EI) bind(C, name="EMS")
      import :: c_float
      real(c_float), intent(in) :: VR, VI             ! terminal voltage
      real(c_float), intent(in) :: SR, SI             ! power delivered at the terminal
      real(c_float), intent(in) :: X                  ! series reactance
      real(c_float), intent(out) :: ER, EI            ! source voltage
    end subroutine EMS

    ! Solid fault of type ITYPE at node K: sequence fault currents, sequence
    ! voltages (over Z0, Z1, Z2) and phase voltages of every node.
    subroutine NaponiKV(N, ITYPE, K, UB, E, Z0, Z1, Z2, VA, VB, VC, IFS) bind(C, name="NaponiKV")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes, at most 1000
      integer(c_int32_t), intent(in) :: ITYPE         ! 1 3-phase, 2 ph-ph, 3 2ph-earth, 4 1ph-earth
      integer(c_int32_t), intent(in) :: K             ! fault node, 1..N
      real(c_float), intent(in) :: UB(N)              ! base voltages (zero thresholds only)
      real(c_float), intent(in) :: E(1000, 2)         ! pre-fault voltages
      real(c_float), intent(inout) :: Z0(1000, 2)     ! impedances to K; out V0
      real(c_float), intent(inout) :: Z1(1000, 2)     ! impedances to K; out V1
      real(c_float), intent(inout) :: Z2(1000, 2)     ! impedances to K; out V2
      real(c_float), intent(out) :: VA(1000, 2)       ! phase a voltages
      real(c_float), intent(out) :: VB(1000, 2)       ! phase b voltages
      real(c_float), intent(out) :: VC(1000, 2)       ! phase c voltages
      real(c_float), intent(out) :: IFS(3, 2)         ! fault currents I0, I1, I2
    end subroutine NaponiKV

    ! Current entering every branch at its first end and leaving at its second.
    subroutine StruiKV(NB, Z, YA, YB, NODES, N, V, IE1, IE2) bind(C, name="StruiKV")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: NB            ! number of branches, at most 5000
      real(c_float), intent(in) :: Z(5000, 2)
      real(c_float), intent(in) :: YA(5000, 2)
      real(c_float), intent(in) :: YB(5000, 2)
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
      integer(c_int32_t), intent(in) :: N             ! number of nodes, at most 1000
      real(c_float), intent(in) :: V(1000, 2)         ! node voltages
      real(c_float), intent(out) :: IE1(5000, 2)
      real(c_float), intent(out) :: IE2(5000, 2)
    end subroutine StruiKV

    ! ---- Topology and dense utilities --------------------------------------

    ! Node adjacency lists with the branch of every neighbour.
    subroutine MAUX(N, NODES, NB, IJA, IBR) bind(C, name="MAUX")
      import :: c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
      integer(c_int32_t), intent(in) :: NB            ! number of branches, 1..2499
      integer(c_int32_t), intent(inout) :: IJA(N + 1 + 2 * NB) ! pointers and neighbours
      integer(c_int32_t), intent(out) :: IBR(N + 1 + 2 * NB)   ! branch of each neighbour
    end subroutine MAUX

    ! Breadth-first node ordering by connected component.
    subroutine MultiPodred(N, IJA, IBR, ORD, CNT, BL, PAR, NC) bind(C, name="MultiPodred")
      import :: c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes
      integer(c_int32_t), intent(in) :: IJA(*)        ! adjacency from MAUX
      integer(c_int32_t), intent(in) :: IBR(*)        ! branch numbers from MAUX
      integer(c_int32_t), intent(out) :: ORD(N)       ! node order
      integer(c_int32_t), intent(out) :: CNT(1000, 2) ! cumulative counts per component
      integer(c_int32_t), intent(out) :: BL(*)        ! BL(NB) tree branches then chords
      integer(c_int32_t), intent(out) :: PAR(N)       ! parent positions
      integer(c_int32_t), intent(out) :: NC           ! number of components
    end subroutine MultiPodred

    ! Stores the component records of an ordering in the library.
    subroutine ZapisiPodredeno(CNT, ORD, BL, PAR, NC, NODES) bind(C, name="ZapisiPodredeno")
      import :: c_int32_t
      integer(c_int32_t), intent(in) :: CNT(1000, 2)  ! from MultiPodred
      integer(c_int32_t), intent(in) :: ORD(*)        ! ORD(N)
      integer(c_int32_t), intent(in) :: BL(*)         ! BL(NB)
      integer(c_int32_t), intent(in) :: PAR(*)        ! PAR(N)
      integer(c_int32_t), intent(in) :: NC            ! number of components, at most 50
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
    end subroutine ZapisiPodredeno

    ! In-place inverse of a dense complex matrix (no pivoting).
    subroutine Inverzija(AR, AI, N) bind(C, name="Inverzija")
      import :: c_float, c_int32_t
      real(c_float), intent(inout) :: AR(100, 100)    ! real parts
      real(c_float), intent(inout) :: AI(100, 100)    ! imaginary parts
      integer(c_int32_t), intent(in) :: N             ! order, 1..100
    end subroutine Inverzija

    ! Node powers S = V*conj(Y*V) from the row-indexed matrix.
    subroutine MNOZI(SA, IJA, VM, VA, S, N) bind(C, name="MNOZI")
      import :: c_float, c_int32_t
      real(c_float), intent(in) :: SA(10000, 2)       ! row-indexed values
      integer(c_int32_t), intent(in) :: IJA(*)        ! IJA(IJA(N+1)-1) index array
      integer(c_int32_t), intent(in) :: N             ! number of nodes, 1..1000
      real(c_float), intent(in) :: VM(N)              ! voltage magnitudes
      real(c_float), intent(in) :: VA(N)              ! voltage angles, radians
      real(c_float), intent(out) :: S(1000, 2)        ! node powers
    end subroutine MNOZI

    ! Admittance of two impedances in parallel, (Z1+Z2)/(Z1*Z2).
    subroutine Paralelno(Z1, Z2, ZP) bind(C, name="Paralelno")
      import :: c_float
      real(c_float), intent(in) :: Z1(2)              ! real, imaginary part
      real(c_float), intent(in) :: Z2(2)
      real(c_float), intent(out) :: ZP(2)
    end subroutine Paralelno

    ! Real node powers from a dense admittance matrix.
    subroutine OdrediPe(N, GR, GI, VM, VA, P) bind(C, name="OdrediPe")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes, 1..100
      real(c_float), intent(in) :: GR(100, 100)       ! real parts
      real(c_float), intent(in) :: GI(100, 100)       ! imaginary parts
      real(c_float), intent(in) :: VM(N)
      real(c_float), intent(in) :: VA(N)              ! radians
      real(c_float), intent(out) :: P(N)
    end subroutine OdrediPe

    ! Node powers and currents from a dense admittance matrix.
    subroutine OdrediSe(N, GR, GI, VM, VA, P, Q, CI) bind(C, name="OdrediSe")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes, 1..100
      real(c_float), intent(in) :: GR(100, 100)
      real(c_float), intent(in) :: GI(100, 100)
      real(c_float), intent(in) :: VM(N)
      real(c_float), intent(in) :: VA(N)              ! radians
      real(c_float), intent(out) :: P(N)              ! active power
      real(c_float), intent(out) :: Q(N)              ! reactive power
      real(c_float), intent(out) :: CI(100, 2)        ! node currents
    end subroutine OdrediSe

    ! The two constant matrices of a fast decoupled power flow (BX scheme).
    subroutine Matrici_VektoriBX(N, NPQ, Z, T, NODES, NB, IROW1, JCOL1, VAL1, NZ1, IROW2, JCOL2, VAL2, NZ2) &
        bind(C, name="Matrici_VektoriBX")
      import :: c_float, c_int32_t
      integer(c_int32_t), intent(in) :: N             ! number of nodes; node N is the reference
      integer(c_int32_t), intent(in) :: NPQ           ! order of the second matrix, 0..N
      real(c_float), intent(in) :: Z(5000, 2)         ! R, X
      real(c_float), intent(in) :: T(5000)            ! ratio at the first end
      integer(c_int32_t), intent(in) :: NODES(5000, 2)
      integer(c_int32_t), intent(in) :: NB            ! number of branches, 1..5000
      integer(c_int32_t), intent(out) :: IROW1(*)     ! rows of the first matrix
      integer(c_int32_t), intent(out) :: JCOL1(*)     ! columns of the first matrix
      real(c_float), intent(out) :: VAL1(*)           ! values of the first matrix
      integer(c_int32_t), intent(out) :: NZ1          ! entries of the first matrix
      integer(c_int32_t), intent(out) :: IROW2(*)     ! rows of the second matrix
      integer(c_int32_t), intent(out) :: JCOL2(*)     ! columns of the second matrix
      real(c_float), intent(out) :: VAL2(*)           ! values of the second matrix
      integer(c_int32_t), intent(out) :: NZ2          ! entries of the second matrix
    end subroutine Matrici_VektoriBX
  end interface
end module orvek
