"""The argument table of the 28 ORVEK routines: one line per argument.

Each routine is listed once, its arguments in the library's order, as
``NAME kind direction [need=EXPR] [len=EXPR]``:

kind
    ``int`` / ``real``: a scalar (int32 / float32) passed by reference;
    ``int(SIZE)`` / ``real(SIZE)``: a one-dimensional array;
    ``cplx(LD)``: a split-complex array X(LD,2), real parts in column 1;
    ``int(LD,2)`` / ``real(LD,M)``: a two-dimensional array with leading
    dimension LD; ``pair``: one complex value as two consecutive reals.
direction
    ``in``, ``out`` or ``inout``, as the header states it.
need=EXPR
    how many entries (rows) of an input the library reads; the wrappers
    refuse shorter arrays before calling.
len=EXPR
    how many entries of an output carry results; the wrappers return that
    many.
min=EXPR, max=EXPR
    bounds of an integer count, checked before anything is allocated or
    called: the library's capacities where an array's size depends on the
    count (and where the library itself would stop the process).

SIZE, need and len are expressions over the routine's integer arguments
(inputs and, for len, outputs too); an array name used as a function is
read 1-based, so ``IJA(N+1)-1`` means what it says in the header;
``count(CNT,NC,j)`` is CNT(NC,j), or 0 when NC = 0.  A SIZE
of an output is the room the wrappers allocate.
"""

LD_BRANCH = 5000
LD_NODE = 1000
LD_NONZERO = 10000
LD_FACTOR = 30000
LD_DENSE = 100

TABLE = """
MatricaY
  BSH real(NSH) in
  KSH int(NSH) in
  NSH int in
  N int in
  Z cplx(5000) in need=NB
  YA cplx(5000) in need=NB
  YB cplx(5000) in need=NB
  NODES int(5000,2) in need=NB
  NB int in
  IROW int(10000) out len=NZ
  JCOL int(10000) out len=NZ
  A cplx(10000) out len=NZ
  NZ int out
  SA cplx(10000) out len=NZ+1
  IJA int(10001) out len=NZ+1

MatricaYR
  KREF int in
  SA cplx(10000) in need=IJA(N+2)-1
  IJA int(N+2) in need=IJA(N+2)-1
  IOLD int(N) in
  INEW int(N+1) in
  N int in
  SAR cplx(10000) out len=IJAR(N+1)-1
  IJAR int(10001) out len=IJAR(N+1)-1
  IROW int(10000) out len=NZ
  JCOL int(10000) out len=NZ
  A cplx(10000) out len=NZ
  NZ int out

MatY
  N int in
  Z cplx(5000) in need=NB
  YA cplx(5000) in need=NB
  YB cplx(5000) in need=NB
  NODES int(5000,2) in need=NB
  NB int in
  IROW int(10000) out len=NZ
  JCOL int(10000) out len=NZ
  A cplx(10000) out len=NZ
  NZ int out

MatYR
  NIN int in
  IDROP int(NIN) in
  SA cplx(10000) in need=IJA(NIN+1)-1
  IJA int(NIN+1) in need=IJA(NIN+1)-1
  IOLD int(N) in
  INEW int(NIN) in
  N int in
  IROW int(10000) out len=NZ
  JCOL int(10000) out len=NZ
  A cplx(10000) out len=NZ
  NZ int out

MatYsa
  N int in
  Z cplx(5000) in need=NB
  YA cplx(5000) in need=NB
  YB cplx(5000) in need=NB
  NODES int(5000,2) in need=NB
  NB int in
  IROW int(10000) out len=NZ
  JCOL int(10000) out len=NZ
  A cplx(10000) out len=NZ
  NZ int out
  SA cplx(10000) out len=NZ+1
  IJA int(10001) out len=NZ+1

MatY_prekin
  N int in
  Z cplx(5000) in need=NB
  YA cplx(5000) in need=NB
  YB cplx(5000) in need=NB
  NODES int(5000,2) in need=NB
  ISTAT int(NB) in
  NB int in
  IROW int(10000) out len=NZ
  JCOL int(10000) out len=NZ
  A cplx(10000) out len=NZ
  NZ int out

LUR
  N int in min=1 max=NZ
  NZ int in min=1 max=715827882
  A real(NZ) in
  IROW int(NZ) in
  JCOL int(NZ) in
  IPARAM int(6) inout
  RPARAM real(5) inout
  NFAC int out
  NL int out
  FAC real(3*NZ) out len=NFAC
  IRFAC int(3*NZ) out len=NFAC
  JCFAC int(3*NZ) out len=NFAC
  IPVT int(N) out len=N
  JPVT int(N) out len=N

LUC
  N int in min=1 max=NZ
  NZ int in min=1 max=10000
  A cplx(10000) in need=NZ
  IROW int(NZ) in
  JCOL int(NZ) in
  IPARAM int(6) inout
  RPARAM real(5) inout
  NFAC int out
  NL int out
  FAC cplx(30000) out len=NFAC
  IRFAC int(3*NZ) out len=NFAC
  JCFAC int(3*NZ) out len=NFAC
  IPVT int(N) out len=N
  JPVT int(N) out len=N

BSR
  N int in max=1000
  NFAC int in
  NL int in
  FAC real(NFAC) in
  IRFAC int(NFAC) in
  JCFAC int(NFAC) in
  IPVT int(N) in
  JPVT int(N) in
  B real(N) in
  IPATH int in
  X real(max(N,NFAC)) out len=N

BSC
  N int in
  NFAC int in
  NL int in
  FAC cplx(30000) in need=NFAC
  IRFAC int(NFAC) in
  JCFAC int(NFAC) in
  IPVT int(N) in
  JPVT int(N) in
  B cplx(1000) in need=N
  IPATH int in
  X cplx(1000) out len=N

SimFaz
  N int in min=0 max=5000
  X0 cplx(5000) in need=N
  X1 cplx(5000) in need=N
  X2 cplx(5000) in need=N
  XA cplx(5000) out len=N
  XB cplx(5000) out len=N
  XC cplx(5000) out len=N

SimFaz1
  X0R real in
  X0I real in
  X1R real in
  X1I real in
  X2R real in
  X2I real in
  XAR real out
  XAI real out
  XBR real out
  XBI real out
  XCR real out
  XCI real out

FazSim1
  X0R real out
  X0I real out
  X1R real out
  X1I real out
  X2R real out
  X2I real out
  XAR real in
  XAI real in
  XBR real in
  XBI real in
  XCR real in
  XCI real in

Sg
  Z cplx(5000) in need=NB
  YA cplx(5000) in need=NB
  YB cplx(5000) in need=NB
  NODES int(5000,2) in need=NB
  NB int in
  V cplx(1000) in need=N
  N int in
  SE1 cplx(5000) out len=NB
  SE2 cplx(5000) out len=NB

So
  N int in
  K int in
  V cplx(1000) in need=N
  SA cplx(10000) in need=IJA(N+1)-1
  IJA int(N+1) in need=IJA(N+1)-1
  SR real out
  SI real out

J1J2
  R real in
  X real in
  T1 real in
  T2 real in
  E1R real in
  E1I real in
  E2R real in
  E2I real in
  J1R real out
  J1I real out
  J2R real out
  J2I real out

EMS
  VR real in
  VI real in
  SR real in
  SI real in
  X real in
  ER real out
  EI real out

NaponiKV
  N int in
  ITYPE int in
  K int in
  UB real(N) in
  E cplx(1000) in need=N
  Z0 cplx(1000) inout need=N len=N
  Z1 cplx(1000) inout need=N len=N
  Z2 cplx(1000) inout need=N len=N
  VA cplx(1000) out len=N
  VB cplx(1000) out len=N
  VC cplx(1000) out len=N
  IFS cplx(3) out len=3

StruiKV
  NB int in
  Z cplx(5000) in need=NB
  YA cplx(5000) in need=NB
  YB cplx(5000) in need=NB
  NODES int(5000,2) in need=NB
  N int in
  V cplx(1000) in need=N
  IE1 cplx(5000) out len=NB
  IE2 cplx(5000) out len=NB

MAUX
  N int in max=6000
  NODES int(5000,2) in need=NB
  NB int in min=0 max=2499
  IJA int(N+1+2*NB) inout len=N+1+2*NB
  IBR int(N+1+2*NB) out len=N+1+2*NB

MultiPodred
  N int in min=1 max=6000
  IJA int(N+1) in need=IJA(N+1)-1
  IBR int(N+1) in need=IJA(N+1)-1
  ORD int(N) out len=N
  CNT int(1000,2) out len=NC
  BL int(max(1,IJA(N+1)-IJA(1))) out len=CNT(NC+1000)
  PAR int(N) out len=N
  NC int out

ZapisiPodredeno
  CNT int(1000,2) in need=NC
  ORD int(count(CNT,NC,1)) in
  BL int(count(CNT,NC,2)) in
  PAR int(count(CNT,NC,1)) in
  NC int in min=0 max=50
  NODES int(5000,2) in need=count(CNT,NC,2)

Inverzija
  AR real(100,100) inout need=N len=N
  AI real(100,100) inout need=N len=N
  N int in min=0 max=100

MNOZI
  SA cplx(10000) in need=IJA(N+1)-1
  IJA int(N+1) in need=IJA(N+1)-1
  VM real(N) in
  VA real(N) in
  S cplx(1000) out len=N
  N int in max=1000

Paralelno
  Z1 pair in
  Z2 pair in
  ZP pair out

OdrediPe
  N int in min=0 max=100
  GR real(100,100) in need=N
  GI real(100,100) in need=N
  VM real(N) in
  VA real(N) in
  P real(N) out len=N

OdrediSe
  N int in min=0 max=100
  GR real(100,100) in need=N
  GI real(100,100) in need=N
  VM real(N) in
  VA real(N) in
  P real(N) out len=N
  Q real(N) out len=N
  CI cplx(100) out len=N

Matrici_VektoriBX
  N int in max=9999
  NPQ int in
  Z cplx(5000) in need=NB
  T real(5000,1) in need=NB
  NODES int(5000,2) in need=NB
  NB int in min=0 max=5000
  IROW1 int(max(1,N+2*NB)) out len=NZ1
  JCOL1 int(max(1,N+2*NB)) out len=NZ1
  VAL1 real(max(1,N+2*NB)) out len=NZ1
  NZ1 int out
  IROW2 int(max(1,N+2*NB)) out len=NZ2
  JCOL2 int(max(1,N+2*NB)) out len=NZ2
  VAL2 real(max(1,N+2*NB)) out len=NZ2
  NZ2 int out
"""
