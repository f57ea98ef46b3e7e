! Fortran host test of the fault-study road through module orvek: MatricaY
! assembles each sequence network of a three-node network, LUC factors it,
! BSC solves for the impedance column of the fault node, NaponiKV gives the
! fault currents and node voltages, StruiKV the branch currents. Every result
! is compared with a double-precision reference computed here from the same
! branch data (dense admittance matrix, Gaussian elimination). Prints one
! line per failed check and a closing "N passed, M failed" line; exits 1 on
! any failure.
program fault_road
  use orvek
  implicit none

  integer, parameter :: dp = kind(1.0d0)
  integer(c_int32_t), parameter :: NN = 3, NBR = 2, KF = 3
  integer :: passed = 0, failed = 0

  ! Host arrays with the library's leading dimensions.
  real(c_float) :: Z(5000, 2), YA(5000, 2), YB(5000, 2), A(10000, 2), SA(10000, 2)
  integer(c_int32_t) :: NODES(5000, 2), IROW(10000), JCOL(10000), IJA(10001)
  real(c_float) :: BSH(1)
  integer(c_int32_t) :: KSH(1), NSH, N, NB, NZ
  real(c_float) :: FAC(30000, 2), RPARAM(5), B(1000, 2), X(1000, 2)
  integer(c_int32_t) :: IRFAC(30000), JCFAC(30000), IPVT(1000), JPVT(1000), IPARAM(6), NFAC, NL, IPATH
  real(c_float) :: E(1000, 2), ZC0(1000, 2), ZC1(1000, 2), ZC2(1000, 2), VA(1000, 2), VB(1000, 2), VC(1000, 2)
  real(c_float) :: UB(NN), IFS(3, 2), IE1(5000, 2), IE2(5000, 2)
  integer(c_int32_t) :: ITYPE, K

  ! Sequence data: line impedances (positive = negative, zero = 3x), end
  ! admittances j0.25 (positive, negative) and j0.15 (zero), generator at
  ! node 1 as a nodal susceptance -1/x.
  complex(dp), parameter :: ZPOS(2) = [(0.05_dp, 0.5_dp), (0.1_dp, 1.0_dp)]
  real(dp), parameter :: BEND(0:2) = [0.15_dp, 0.25_dp, 0.25_dp]
  real(dp), parameter :: BGEN(0:2) = [-10.0_dp, -5.0_dp, -5.0_dp]
  integer, parameter :: ENDS(2, 2) = reshape([1, 2, 2, 3], [2, 2])

  complex(dp) :: zcol(NN, 0:2), zk(0:2), i1, i0, i2, vs(0:2), ph(3), yref(NN, NN), inj(NN), rot, rot2, saved(0:2, NN)
  integer :: s, i, bb

  ! ---- 1. The two-node network with its exact values ------------------------
  Z = 0; YA = 0; YB = 0; NODES = 0
  N = 2; NB = 1; NSH = 0
  Z(1, 2) = 0.5; YA(1, 2) = 0.25; YB(1, 2) = 0.25
  NODES(1, 1) = 1; NODES(1, 2) = 2
  call MatricaY(BSH, KSH, NSH, N, Z, YA, YB, NODES, NB, IROW, JCOL, A, NZ, SA, IJA)
  call check_int("two-node NZ", NZ, 4)
  call check_exact("two-node A(1)", A(1, 1), A(1, 2), 0.0, -1.75)
  call check_exact("two-node A(2)", A(2, 1), A(2, 2), 0.0, -1.75)
  call check_exact("two-node A(3)", A(3, 1), A(3, 2), 0.0, 2.0)
  call check_exact("two-node A(4)", A(4, 1), A(4, 2), 0.0, 2.0)
  call check_int("two-node IJA(1)", IJA(1), 4)
  call check_int("two-node IJA(3)", IJA(3), 6)
  call check_int("two-node IJA(4)", IJA(4), 2)

  ! ---- 2. Impedance columns of the fault node, one per sequence network -----
  N = NN; NB = NBR; NSH = 1; KSH(1) = 1
  do s = 0, 2
    call set_branches(s)
    BSH(1) = real(BGEN(s), c_float)
    call MatricaY(BSH, KSH, NSH, N, Z, YA, YB, NODES, NB, IROW, JCOL, A, NZ, SA, IJA)
    call check_int("three-node NZ", NZ, 7)
    IPARAM = 0; RPARAM = 0
    call LUC(N, NZ, A, IROW, JCOL, IPARAM, RPARAM, NFAC, NL, FAC, IRFAC, JCFAC, IPVT, JPVT)
    call check_int("LUC IPARAM(1) written back", IPARAM(1), 1)
    B = 0; B(KF, 1) = 1; IPATH = 1
    call BSC(N, NFAC, NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, IPATH, X)

    call reference_matrix(s, yref)
    zcol(:, s) = solve(yref, unit(KF))
    do i = 1, NN
      call check_close("impedance column", cmplx(X(i, 1), X(i, 2), dp), zcol(i, s), 2.0e-6_dp)
    end do
    select case (s)
    case (0); ZC0(1:NN, 1) = X(1:NN, 1); ZC0(1:NN, 2) = X(1:NN, 2)
    case (1); ZC1(1:NN, 1) = X(1:NN, 1); ZC1(1:NN, 2) = X(1:NN, 2)
    case (2); ZC2(1:NN, 1) = X(1:NN, 1); ZC2(1:NN, 2) = X(1:NN, 2)
    end select
  end do

  ! ---- 3. Single-phase-to-earth fault at node 3 ------------------------------
  ! Reference from the single-precision columns: I0 = I1 = I2 = E/(Z0K+Z1K+Z2K).
  E = 0; E(1:NN, 1) = 1; UB = 110
  ITYPE = 4; K = KF
  do s = 0, 2
    zk(s) = column_entry(s, KF)
  end do
  i1 = cmplx(1.0_dp, 0.0_dp, dp) / (zk(0) + zk(1) + zk(2))
  i0 = i1; i2 = i1
  call save_columns()
  call NaponiKV(N, ITYPE, K, UB, E, ZC0, ZC1, ZC2, VA, VB, VC, IFS)
  call check_close("1ph I0", cmplx(IFS(1, 1), IFS(1, 2), dp), i0, 1.0e-5_dp)
  call check_close("1ph I1", cmplx(IFS(2, 1), IFS(2, 2), dp), i1, 1.0e-5_dp)
  call check_close("1ph I2", cmplx(IFS(3, 1), IFS(3, 2), dp), i2, 1.0e-5_dp)
  rot = cmplx(-0.5_dp, sqrt(3.0_dp) / 2, dp); rot2 = rot * rot
  do i = 1, NN
    vs(1) = 1 - saved(1, i) * i1
    vs(2) = -saved(2, i) * i2
    vs(0) = -saved(0, i) * i0
    call check_close("1ph V0", cmplx(ZC0(i, 1), ZC0(i, 2), dp), vs(0), 1.0e-5_dp)
    call check_close("1ph V1", cmplx(ZC1(i, 1), ZC1(i, 2), dp), vs(1), 1.0e-5_dp)
    call check_close("1ph V2", cmplx(ZC2(i, 1), ZC2(i, 2), dp), vs(2), 1.0e-5_dp)
    ph = [vs(0) + vs(1) + vs(2), vs(0) + rot2 * vs(1) + rot * vs(2), vs(0) + rot * vs(1) + rot2 * vs(2)]
    call check_close("1ph VA", cmplx(VA(i, 1), VA(i, 2), dp), ph(1), 1.0e-5_dp)
    call check_close("1ph VB", cmplx(VB(i, 1), VB(i, 2), dp), ph(2), 1.0e-5_dp)
    call check_close("1ph VC", cmplx(VC(i, 1), VC(i, 2), dp), ph(3), 1.0e-5_dp)
  end do
  ! The faulted phase is at earth potential at the fault node.
  call check_true("1ph VA(K) = 0", abs(cmplx(VA(KF, 1), VA(KF, 2), dp)) < 1.0e-5_dp)

  ! ---- 4. Branch currents of the positive sequence: Kirchhoff at each node ---
  ! Y*V1 = Y*E - I1 at node K, so the currents leaving every node into its
  ! branches and its shunt add up to (Y*E)(i) - delta(i,K)*I1.
  call set_branches(1)
  call StruiKV(NB, Z, YA, YB, NODES, N, ZC1, IE1, IE2)
  call reference_matrix(1, yref)
  inj = matmul(yref, [(cmplx(1.0_dp, 0.0_dp, dp), i = 1, NN)])
  inj(KF) = inj(KF) - i1
  do i = 1, NN
    vs(1) = cmplx(ZC1(i, 1), ZC1(i, 2), dp) * merge(cmplx(0.0_dp, BGEN(1), dp), (0.0_dp, 0.0_dp), i == 1)
    do bb = 1, NBR
      if (ENDS(1, bb) == i) vs(1) = vs(1) + cmplx(IE1(bb, 1), IE1(bb, 2), dp)
      if (ENDS(2, bb) == i) vs(1) = vs(1) - cmplx(IE2(bb, 1), IE2(bb, 2), dp)
    end do
    call check_close("Kirchhoff", vs(1), inj(i), 1.0e-4_dp)
  end do

  ! ---- 5. Three-phase fault: no zero or negative sequence --------------------
  call restore_columns()
  ITYPE = 1
  call NaponiKV(N, ITYPE, K, UB, E, ZC0, ZC1, ZC2, VA, VB, VC, IFS)
  call check_close("3ph I1", cmplx(IFS(2, 1), IFS(2, 2), dp), 1 / zk(1), 1.0e-5_dp)
  call check_true("3ph I0 = I2 = 0", all(IFS([1, 3], :) == 0))
  call check_true("3ph V0 = V2 = 0", all(ZC0(1:NN, :) == 0) .and. all(ZC2(1:NN, :) == 0))
  call check_true("3ph V1(K) = 0", abs(cmplx(ZC1(KF, 1), ZC1(KF, 2), dp)) < 1.0e-5_dp)

  write (*, '(a, i0, a, i0, a)') "fortran fault road: ", passed, " passed, ", failed, " failed"
  if (failed > 0) stop 1

contains

  ! Single-precision columns as BSC returned them, kept for the references.
  subroutine save_columns()
    saved(0, :) = cmplx(ZC0(1:NN, 1), ZC0(1:NN, 2), dp)
    saved(1, :) = cmplx(ZC1(1:NN, 1), ZC1(1:NN, 2), dp)
    saved(2, :) = cmplx(ZC2(1:NN, 1), ZC2(1:NN, 2), dp)
  end subroutine save_columns

  subroutine restore_columns()
    ZC0(1:NN, 1) = real(real(saved(0, :)), c_float); ZC0(1:NN, 2) = real(aimag(saved(0, :)), c_float)
    ZC1(1:NN, 1) = real(real(saved(1, :)), c_float); ZC1(1:NN, 2) = real(aimag(saved(1, :)), c_float)
    ZC2(1:NN, 1) = real(real(saved(2, :)), c_float); ZC2(1:NN, 2) = real(aimag(saved(2, :)), c_float)
  end subroutine restore_columns

  complex(dp) function column_entry(seq, node)
    integer, intent(in) :: seq, node
    select case (seq)
    case (0); column_entry = cmplx(ZC0(node, 1), ZC0(node, 2), dp)
    case (1); column_entry = cmplx(ZC1(node, 1), ZC1(node, 2), dp)
    case default; column_entry = cmplx(ZC2(node, 1), ZC2(node, 2), dp)
    end select
  end function column_entry

  subroutine set_branches(seq)
    integer, intent(in) :: seq
    real(dp) :: scale
    scale = merge(3.0_dp, 1.0_dp, seq == 0)
    Z = 0; YA = 0; YB = 0; NODES = 0
    do bb = 1, NBR
      Z(bb, 1) = real(scale * real(ZPOS(bb)), c_float); Z(bb, 2) = real(scale * aimag(ZPOS(bb)), c_float)
      YA(bb, 2) = real(BEND(seq), c_float); YB(bb, 2) = real(BEND(seq), c_float)
      NODES(bb, 1) = ENDS(1, bb); NODES(bb, 2) = ENDS(2, bb)
    end do
  end subroutine set_branches

  ! Dense admittance matrix of sequence network seq, in double precision
  ! from the single-precision data the library was given.
  subroutine reference_matrix(seq, y)
    integer, intent(in) :: seq
    complex(dp), intent(out) :: y(NN, NN)
    complex(dp) :: ybr
    real(dp) :: scale
    integer :: p, q
    scale = merge(3.0_dp, 1.0_dp, seq == 0)
    y = 0
    y(1, 1) = cmplx(0.0_dp, real(real(BGEN(seq), c_float), dp), dp)
    do bb = 1, NBR
      ybr = 1 / cmplx(real(real(scale * real(ZPOS(bb)), c_float), dp), &
                     real(real(scale * aimag(ZPOS(bb)), c_float), dp), dp)
      p = ENDS(1, bb); q = ENDS(2, bb)
      y(p, p) = y(p, p) + ybr + cmplx(0.0_dp, real(real(BEND(seq), c_float), dp), dp)
      y(q, q) = y(q, q) + ybr + cmplx(0.0_dp, real(real(BEND(seq), c_float), dp), dp)
      y(p, q) = y(p, q) - ybr
      y(q, p) = y(q, p) - ybr
    end do
  end subroutine reference_matrix

  function unit(node) result(u)
    integer, intent(in) :: node
    complex(dp) :: u(NN)
    u = 0; u(node) = 1
  end function unit

  ! Gaussian elimination with partial pivoting on a copy of y.
  function solve(y, rhs) result(xs)
    complex(dp), intent(in) :: y(NN, NN), rhs(NN)
    complex(dp) :: xs(NN), m(NN, NN), r(NN), t(NN), tr
    integer :: c, p, rr
    m = y; r = rhs
    do c = 1, NN
      p = maxloc(abs(m(c:, c)), 1) + c - 1
      t = m(c, :); m(c, :) = m(p, :); m(p, :) = t
      tr = r(c); r(c) = r(p); r(p) = tr
      do rr = c + 1, NN
        tr = m(rr, c) / m(c, c)
        m(rr, :) = m(rr, :) - tr * m(c, :)
        r(rr) = r(rr) - tr * r(c)
      end do
    end do
    do c = NN, 1, -1
      xs(c) = (r(c) - sum(m(c, c + 1:) * xs(c + 1:))) / m(c, c)
    end do
  end function solve

  subroutine record(ok, what)
    logical, intent(in) :: ok
    character(*), intent(in) :: what
    if (ok) then
      passed = passed + 1
    else
      failed = failed + 1
      write (*, '(a, a)') "FAILED: ", what
    end if
  end subroutine record

  subroutine check_true(what, ok)
    character(*), intent(in) :: what
    logical, intent(in) :: ok
    call record(ok, what)
  end subroutine check_true

  subroutine check_int(what, got, want)
    character(*), intent(in) :: what
    integer(c_int32_t), intent(in) :: got, want
    if (got /= want) write (*, '(a, a, i0, a, i0)') what, ": got ", got, ", want ", want
    call record(got == want, what)
  end subroutine check_int

  subroutine check_exact(what, re, im, want_re, want_im)
    character(*), intent(in) :: what
    real(c_float), intent(in) :: re, im
    real, intent(in) :: want_re, want_im
    if (re /= want_re .or. im /= want_im) write (*, '(a, a, 2es16.8)') what, ": got ", re, im
    call record(re == want_re .and. im == want_im, what)
  end subroutine check_exact

  ! |got - want| <= tol * max(1, |want|)
  subroutine check_close(what, got, want, tol)
    character(*), intent(in) :: what
    complex(dp), intent(in) :: got, want
    real(dp), intent(in) :: tol
    logical :: ok
    ok = abs(got - want) <= tol * max(1.0_dp, abs(want))
    if (.not. ok) write (*, '(a, a, 2es16.8, a, 2es16.8)') what, ": got ", got, ", want ", want
    call record(ok, what)
  end subroutine check_close
end program fault_road
