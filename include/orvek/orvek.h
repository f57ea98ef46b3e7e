/* ORVEK: numerical routines for the analysis of electric power networks.
 *
 * Every routine is a subroutine with a fixed argument list, every argument
 * passed by reference.  Integers are 32-bit signed, reals 32-bit IEEE single
 * precision.  Arrays are column-major and 1-based; their leading dimensions
 * are fixed by the routine (below), never passed.  A complex array X(LD,2)
 * holds real parts in its first column and imaginary parts in its second, so
 * the imaginary part of element i lies LD elements after its real part.
 * The library is not re-entrant: make one call at a time.  A terminal error
 * of the sort or of the sparse solver prints its message on standard output
 * and ends the process with exit status 1. */
#ifndef ORVEK_ORVEK_H
#define ORVEK_ORVEK_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ORVEK_CALL __stdcall
#else
#define ORVEK_CALL
#endif

#if defined(_WIN32)
#if defined(ORVEK_BUILDING)
#define ORVEK_API __declspec(dllexport)
#else
#define ORVEK_API
#endif
#elif defined(ORVEK_BUILDING)
#define ORVEK_API __attribute__((visibility("default")))
#else
#define ORVEK_API
#endif

/* Leading dimensions and capacities of the exported routines. */
#define ORVEK_LD_BRANCH 5000   /* per-branch arrays: Z, YA, YB, NODES, SE1, IE1 ... */
#define ORVEK_LD_NODE 1000     /* per-node complex arrays: V, E, Z0, B, X ...        */
#define ORVEK_LD_NONZERO 10000 /* triplet values A, row-indexed values SA           */
#define ORVEK_LD_FACTOR 30000  /* complex factor values FAC of LUC / BSC            */
#define ORVEK_LD_DENSE 100     /* dense matrices of Inverzija, OdrediPe, OdrediSe   */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Admittance-matrix assembly ------------------------------------------ */

/* Nodal admittance matrix with nodal shunts, as a triplet list and in the
 * row-indexed sparse form. */
ORVEK_API void ORVEK_CALL MatricaY(
    const float *BSH,   /* in: BSH(NSH) shunt susceptances                    */
    const int32_t *KSH, /* in: KSH(NSH) shunt nodes, 1..N                     */
    const int32_t *NSH, /* in: number of nodal shunts                         */
    const int32_t *N,   /* in: number of nodes                                */
    const float *Z,     /* in: Z(5000,2) series impedance R, X                */
    const float *YA,    /* in: YA(5000,2) admittance at the first end         */
    const float *YB,    /* in: YB(5000,2) admittance at the second end        */
    const int32_t *NODES, /* in: NODES(5000,2) end nodes                      */
    const int32_t *NB,  /* in: number of branches, 1..5000                    */
    int32_t *IROW,      /* out: IROW(NZ) triplet rows                         */
    int32_t *JCOL,      /* out: JCOL(NZ) triplet columns                      */
    float *A,           /* out: A(10000,2) triplet values                     */
    int32_t *NZ,        /* out: number of triplets                            */
    float *SA,          /* out: SA(10000,2) row-indexed values                */
    int32_t *IJA);      /* out: IJA(NZ+1) row-indexed index array             */

/* Removes the row and column of node KREF from a row-indexed matrix of N+1
 * nodes and renumbers the rest; both forms out, columns ascending. */
ORVEK_API void ORVEK_CALL MatricaYR(
    const int32_t *KREF, /* in: old number of the removed node                */
    const float *SA,     /* in: SA(10000,2) input values (N+1 nodes)          */
    const int32_t *IJA,  /* in: IJA(IJA(N+2)-1) input index array             */
    const int32_t *IOLD, /* in: IOLD(N) old number of new node i              */
    const int32_t *INEW, /* in: INEW(N+1) new number of old node c            */
    const int32_t *N,    /* in: number of nodes after the reduction           */
    float *SAR,          /* out: SAR(10000,2) reduced values                  */
    int32_t *IJAR,       /* out: IJAR(NZ+1) reduced index array               */
    int32_t *IROW,       /* out: IROW(NZ) triplet rows                        */
    int32_t *JCOL,       /* out: JCOL(NZ) triplet columns                     */
    float *A,            /* out: A(10000,2) triplet values                    */
    int32_t *NZ);        /* out: number of triplets                           */

/* Admittance matrix of the branches alone, triplet list only. */
ORVEK_API void ORVEK_CALL MatY(
    const int32_t *N,     /* in: number of nodes                              */
    const float *Z,       /* in: Z(5000,2)                                    */
    const float *YA,      /* in: YA(5000,2)                                   */
    const float *YB,      /* in: YB(5000,2)                                   */
    const int32_t *NODES, /* in: NODES(5000,2)                                */
    const int32_t *NB,    /* in: number of branches, 1..5000                  */
    int32_t *IROW,        /* out: IROW(NZ)                                    */
    int32_t *JCOL,        /* out: JCOL(NZ)                                    */
    float *A,             /* out: A(10000,2)                                  */
    int32_t *NZ);         /* out: number of triplets                          */

/* Removes every flagged node from a row-indexed matrix and renumbers the
 * rest; triplet list only. */
ORVEK_API void ORVEK_CALL MatYR(
    const int32_t *NIN,   /* in: number of nodes of the input matrix          */
    const int32_t *IDROP, /* in: IDROP(NIN) nonzero removes old node c        */
    const float *SA,      /* in: SA(10000,2) input values                     */
    const int32_t *IJA,   /* in: IJA(IJA(NIN+1)-1) input index array          */
    const int32_t *IOLD,  /* in: IOLD(N) old number of new node i             */
    const int32_t *INEW,  /* in: INEW(NIN) new number of old node c           */
    const int32_t *N,     /* in: number of nodes after the reduction          */
    int32_t *IROW,        /* out: IROW(NZ)                                    */
    int32_t *JCOL,        /* out: JCOL(NZ)                                    */
    float *A,             /* out: A(10000,2)                                  */
    int32_t *NZ);         /* out: number of triplets                          */

/* Admittance matrix of the branches alone, in both forms. */
ORVEK_API void ORVEK_CALL MatYsa(
    const int32_t *N,     /* in: number of nodes                              */
    const float *Z,       /* in: Z(5000,2)                                    */
    const float *YA,      /* in: YA(5000,2)                                   */
    const float *YB,      /* in: YB(5000,2)                                   */
    const int32_t *NODES, /* in: NODES(5000,2)                                */
    const int32_t *NB,    /* in: number of branches, 1..5000                  */
    int32_t *IROW,        /* out: IROW(NZ)                                    */
    int32_t *JCOL,        /* out: JCOL(NZ)                                    */
    float *A,             /* out: A(10000,2)                                  */
    int32_t *NZ,          /* out: number of triplets                          */
    float *SA,            /* out: SA(10000,2)                                 */
    int32_t *IJA);        /* out: IJA(NZ+1)                                   */

/* Admittance matrix with opened branches (status other than 1): their end
 * admittances stay, their series element is left out. Triplet list only. */
ORVEK_API void ORVEK_CALL MatY_prekin(
    const int32_t *N,     /* in: number of nodes                              */
    const float *Z,       /* in: Z(5000,2)                                    */
    const float *YA,      /* in: YA(5000,2)                                   */
    const float *YB,      /* in: YB(5000,2)                                   */
    const int32_t *NODES, /* in: NODES(5000,2)                                */
    const int32_t *ISTAT, /* in: ISTAT(NB) 1 in service, other opened         */
    const int32_t *NB,    /* in: number of branches, 1..5000                  */
    int32_t *IROW,        /* out: IROW(NZ)                                    */
    int32_t *JCOL,        /* out: JCOL(NZ)                                    */
    float *A,             /* out: A(10000,2)                                  */
    int32_t *NZ);         /* out: number of triplets                          */

/* ---- Sparse LU solution -------------------------------------------------- */

/* IPARAM(6) and RPARAM(5) of LUR and LUC. Both routines set IPARAM(1) = 0,
 * so the factorization runs with the defaults and writes them back; the
 * statistics are outputs.
 *   IPARAM(1)  0 on entry asks for the defaults; 1 once they are applied
 *   IPARAM(2)  pivot search in rows (1), columns (2) or both (3; default)
 *   IPARAM(3)  candidate rows and columns costed per step (default 3)
 *   IPARAM(4)  out: the largest number of entries held during elimination
 *   IPARAM(5)  integer workspace limit; 0 (default) sizes it for 3*NZ
 *              entries, otherwise it holds (IPARAM(5) - 15*N)/5 entries and
 *              must be at least 15*N + 5*NZ (15*N + 6*NZ for LUC)
 *   IPARAM(6)  unused (0)
 *   RPARAM(1)  growth factor beyond which a warning is raised (1.0E16)
 *   RPARAM(2)  pivot threshold: an entry may be a pivot when its magnitude
 *              is at least the largest of its row or column over RPARAM(2)
 *              (default 10)
 *   RPARAM(3)  drop tolerance: multipliers of magnitude at most RPARAM(3)
 *              are discarded; 0 (default) keeps every one
 *   RPARAM(4)  out: growth factor, largest |U| over largest |A|
 *   RPARAM(5)  out: smallest pivot magnitude
 * LUC also clears IPARAM(4), RPARAM(4) and RPARAM(5) with the defaults. */

/* Factors a real sparse matrix given as triplets: M = A(IPVT,JPVT) = L*U. */
ORVEK_API void ORVEK_CALL LUR(
    const int32_t *N,    /* in: order of the matrix                           */
    const int32_t *NZ,   /* in: number of triplets                            */
    const float *A,      /* in: A(NZ) triplet values                          */
    const int32_t *IROW, /* in: IROW(NZ) triplet rows                         */
    const int32_t *JCOL, /* in: JCOL(NZ) triplet columns                      */
    int32_t *IPARAM,     /* in-out: IPARAM(6), defaults written back          */
    float *RPARAM,       /* in-out: RPARAM(5), defaults and statistics        */
    int32_t *NFAC,       /* out: number of factor entries                     */
    int32_t *NL,         /* out: number of L entries                          */
    float *FAC,          /* out: FAC(3*NZ) factor values                      */
    int32_t *IRFAC,      /* out: IRFAC(3*NZ) factor rows                      */
    int32_t *JCFAC,      /* out: JCFAC(3*NZ) factor columns                   */
    int32_t *IPVT,       /* out: IPVT(N) row permutation                      */
    int32_t *JPVT);      /* out: JPVT(N) column permutation                   */

/* Factors a complex sparse matrix given as triplets (NZ <= 10000). */
ORVEK_API void ORVEK_CALL LUC(
    const int32_t *N,    /* in: order of the matrix                           */
    const int32_t *NZ,   /* in: number of triplets, 1..10000                  */
    const float *A,      /* in: A(10000,2) triplet values                     */
    const int32_t *IROW, /* in: IROW(NZ)                                      */
    const int32_t *JCOL, /* in: JCOL(NZ)                                      */
    int32_t *IPARAM,     /* in-out: IPARAM(6)                                 */
    float *RPARAM,       /* in-out: RPARAM(5)                                 */
    int32_t *NFAC,       /* out: number of factor entries                     */
    int32_t *NL,         /* out: number of L entries                          */
    float *FAC,          /* out: FAC(30000,2) factor values                   */
    int32_t *IRFAC,      /* out: IRFAC(3*NZ)                                  */
    int32_t *JCFAC,      /* out: JCFAC(3*NZ)                                  */
    int32_t *IPVT,       /* out: IPVT(N)                                      */
    int32_t *JPVT);      /* out: JPVT(N)                                      */

/* Solves A*x = b (IPATH 1) or A'*x = b (IPATH 2) with the factors of LUR,
 * for any order. IPVT and JPVT are negated entry by entry while the solve
 * permutes with them and restored before it returns: they must be writable. */
ORVEK_API void ORVEK_CALL BSR(
    const int32_t *N,     /* in: order of the system                          */
    const int32_t *NFAC,  /* in: from LUR                                     */
    const int32_t *NL,    /* in: from LUR                                     */
    const float *FAC,     /* in: FAC(NFAC)                                    */
    const int32_t *IRFAC, /* in: IRFAC(NFAC)                                  */
    const int32_t *JCFAC, /* in: JCFAC(NFAC)                                  */
    const int32_t *IPVT,  /* in: IPVT(N); marked while in use, then restored  */
    const int32_t *JPVT,  /* in: JPVT(N); marked while in use, then restored  */
    const float *B,       /* in: B(N) right-hand side                         */
    const int32_t *IPATH, /* in: 1 or 2                                       */
    float *X);            /* out: X(N) solution; may be B                     */

/* Solves A*x = b (IPATH 1) or conj(A)'*x = b (IPATH 2) with the factors of
 * LUC (N <= 1000, NFAC <= 30000). */
ORVEK_API void ORVEK_CALL BSC(
    const int32_t *N,     /* in: order of the system, 1..1000                 */
    const int32_t *NFAC,  /* in: from LUC                                     */
    const int32_t *NL,    /* in: from LUC                                     */
    const float *FAC,     /* in: FAC(30000,2)                                 */
    const int32_t *IRFAC, /* in: IRFAC(NFAC)                                  */
    const int32_t *JCFAC, /* in: JCFAC(NFAC)                                  */
    const int32_t *IPVT,  /* in: IPVT(N)                                      */
    const int32_t *JPVT,  /* in: JPVT(N)                                      */
    const float *B,       /* in: B(1000,2) right-hand side                    */
    const int32_t *IPATH, /* in: 1 or 2                                       */
    float *X);            /* out: X(1000,2) solution; may be B                */

/* ---- Sequence and fault quantities --------------------------------------- */

/* Sequence (0, 1, 2) to phase (a, b, c) values of entries 1..N. */
ORVEK_API void ORVEK_CALL SimFaz(
    const int32_t *N, /* in: number of entries, at most 5000                  */
    const float *X0,  /* in: X0(5000,2)                                       */
    const float *X1,  /* in: X1(5000,2)                                       */
    const float *X2,  /* in: X2(5000,2)                                       */
    float *XA,        /* out: XA(5000,2); may be X0                           */
    float *XB,        /* out: XB(5000,2); may be X1                           */
    float *XC);       /* out: XC(5000,2); may be X2                           */

/* Sequence to phase values of one complex quantity. */
ORVEK_API void ORVEK_CALL SimFaz1(
    const float *X0R, const float *X0I, /* in: zero sequence                  */
    const float *X1R, const float *X1I, /* in: positive sequence              */
    const float *X2R, const float *X2I, /* in: negative sequence              */
    float *XAR, float *XAI,             /* out: phase a                       */
    float *XBR, float *XBI,             /* out: phase b                       */
    float *XCR, float *XCI);            /* out: phase c                       */

/* Phase to sequence values of one complex quantity (inverse of SimFaz1). */
ORVEK_API void ORVEK_CALL FazSim1(
    float *X0R, float *X0I,             /* out: zero sequence                 */
    float *X1R, float *X1I,             /* out: positive sequence             */
    float *X2R, float *X2I,             /* out: negative sequence             */
    const float *XAR, const float *XAI, /* in: phase a                        */
    const float *XBR, const float *XBI, /* in: phase b                        */
    const float *XCR, const float *XCI);/* in: phase c                        */

/* Complex power at both ends of every branch, S = V*conj(I). */
ORVEK_API void ORVEK_CALL Sg(
    const float *Z,       /* in: Z(5000,2)                                    */
    const float *YA,      /* in: YA(5000,2)                                   */
    const float *YB,      /* in: YB(5000,2)                                   */
    const int32_t *NODES, /* in: NODES(5000,2)                                */
    const int32_t *NB,    /* in: number of branches, at most 5000             */
    const float *V,       /* in: V(1000,2) node voltages                      */
    const int32_t *N,     /* in: number of nodes, at most 1000                */
    float *SE1,           /* out: SE1(5000,2) power in at the first end       */
    float *SE2);          /* out: SE2(5000,2) power out at the second end     */

/* Complex power injected at node K from the row-indexed matrix. */
ORVEK_API void ORVEK_CALL So(
    const int32_t *N,   /* in: order of the matrix, at most 1000              */
    const int32_t *K,   /* in: node, 1..N                                     */
    const float *V,     /* in: V(1000,2) node voltages                        */
    const float *SA,    /* in: SA(10000,2) row-indexed values                 */
    const int32_t *IJA, /* in: IJA(IJA(N+1)-1) row-indexed index array        */
    float *SR,          /* out: active power                                  */
    float *SI);         /* out: reactive power                                */

/* Change of a branch's end currents when its ratio goes from T1 to T2. */
ORVEK_API void ORVEK_CALL J1J2(
    const float *R, const float *X,     /* in: series resistance, reactance   */
    const float *T1, const float *T2,   /* in: ratio before and after         */
    const float *E1R, const float *E1I, /* in: first-end voltage              */
    const float *E2R, const float *E2I, /* in: second-end voltage             */
    float *J1R, float *J1I,             /* out: change at the first end       */
    float *J2R, float *J2I);            /* out: change at the second end      */

/* Source voltage behind a series reactance X from terminal V and power S. */
ORVEK_API void ORVEK_CALL EMS(
    const float *VR, const float *VI, /* in: terminal voltage                 */
    const float *SR, const float *SI, /* in: power delivered at the terminal  */
    const float *X,                   /* in: series reactance                 */
    float *ER, float *EI);            /* out: source voltage                  */

/* Solid fault of type ITYPE at node K: sequence fault currents, sequence
 * voltages (over Z0, Z1, Z2) and phase voltages of every node. */
ORVEK_API void ORVEK_CALL NaponiKV(
    const int32_t *N,     /* in: number of nodes, at most 1000                */
    const int32_t *ITYPE, /* in: 1 3-phase, 2 ph-ph, 3 2ph-earth, 4 1ph-earth */
    const int32_t *K,     /* in: fault node, 1..N                             */
    const float *UB,      /* in: UB(N) base voltages (zero thresholds only)   */
    const float *E,       /* in: E(1000,2) pre-fault voltages                 */
    float *Z0,            /* in-out: Z0(1000,2) impedances to K; out V0       */
    float *Z1,            /* in-out: Z1(1000,2) impedances to K; out V1       */
    float *Z2,            /* in-out: Z2(1000,2) impedances to K; out V2       */
    float *VA,            /* out: VA(1000,2) phase a voltages                 */
    float *VB,            /* out: VB(1000,2) phase b voltages                 */
    float *VC,            /* out: VC(1000,2) phase c voltages                 */
    float *IFS);          /* out: IFS(3,2) fault currents I0, I1, I2          */

/* Current entering every branch at its first end and leaving at its second. */
ORVEK_API void ORVEK_CALL StruiKV(
    const int32_t *NB,    /* in: number of branches, at most 5000             */
    const float *Z,       /* in: Z(5000,2)                                    */
    const float *YA,      /* in: YA(5000,2)                                   */
    const float *YB,      /* in: YB(5000,2)                                   */
    const int32_t *NODES, /* in: NODES(5000,2)                                */
    const int32_t *N,     /* in: number of nodes, at most 1000                */
    const float *V,       /* in: V(1000,2) node voltages                      */
    float *IE1,           /* out: IE1(5000,2)                                 */
    float *IE2);          /* out: IE2(5000,2)                                 */

/* ---- Topology and dense utilities ---------------------------------------- */

/* Node adjacency lists with the branch of every neighbour. */
ORVEK_API void ORVEK_CALL MAUX(
    const int32_t *N,     /* in: number of nodes                              */
    const int32_t *NODES, /* in: NODES(5000,2)                                */
    const int32_t *NB,    /* in: number of branches, 1..2499                  */
    int32_t *IJA,         /* in-out: IJA(N+1+2*NB) pointers and neighbours    */
    int32_t *IBR);        /* out: IBR(N+1+2*NB) branch of each neighbour      */

/* Breadth-first node ordering by connected component. */
ORVEK_API void ORVEK_CALL MultiPodred(
    const int32_t *N,   /* in: number of nodes                                */
    const int32_t *IJA, /* in: adjacency from MAUX                            */
    const int32_t *IBR, /* in: branch numbers from MAUX                       */
    int32_t *ORD,       /* out: ORD(N) node order                             */
    int32_t *CNT,       /* out: CNT(1000,2) cumulative counts per component   */
    int32_t *BL,        /* out: BL(NB) tree branches then chords              */
    int32_t *PAR,       /* out: PAR(N) parent positions                       */
    int32_t *NC);       /* out: number of components                          */

/* Stores the component records of an ordering in the library. */
ORVEK_API void ORVEK_CALL ZapisiPodredeno(
    const int32_t *CNT,    /* in: CNT(1000,2) from MultiPodred                */
    const int32_t *ORD,    /* in: ORD(N)                                      */
    const int32_t *BL,     /* in: BL(NB)                                      */
    const int32_t *PAR,    /* in: PAR(N)                                      */
    const int32_t *NC,     /* in: number of components, at most 50            */
    const int32_t *NODES); /* in: NODES(5000,2)                               */

/* In-place inverse of a dense complex matrix (no pivoting). */
ORVEK_API void ORVEK_CALL Inverzija(
    float *AR,         /* in-out: AR(100,100) real parts                      */
    float *AI,         /* in-out: AI(100,100) imaginary parts                 */
    const int32_t *N); /* in: order, 1..100                                   */

/* Node powers S = V*conj(Y*V) from the row-indexed matrix. */
ORVEK_API void ORVEK_CALL MNOZI(
    const float *SA,   /* in: SA(10000,2) row-indexed values                  */
    const int32_t *IJA,/* in: IJA(IJA(N+1)-1) index array                     */
    const float *VM,   /* in: VM(N) voltage magnitudes                        */
    const float *VA,   /* in: VA(N) voltage angles, radians                   */
    float *S,          /* out: S(1000,2) node powers                          */
    const int32_t *N); /* in: number of nodes, 1..1000                        */

/* Admittance of two impedances in parallel, (Z1+Z2)/(Z1*Z2). */
ORVEK_API void ORVEK_CALL Paralelno(
    const float *Z1, /* in: Z1(2) real, imaginary part                        */
    const float *Z2, /* in: Z2(2)                                             */
    float *ZP);      /* out: ZP(2)                                            */

/* Real node powers from a dense admittance matrix. */
ORVEK_API void ORVEK_CALL OdrediPe(
    const int32_t *N, /* in: number of nodes, 1..100                          */
    const float *GR,  /* in: GR(100,100) real parts                           */
    const float *GI,  /* in: GI(100,100) imaginary parts                      */
    const float *VM,  /* in: VM(N)                                            */
    const float *VA,  /* in: VA(N) radians                                    */
    float *P);        /* out: P(N)                                            */

/* Node powers and currents from a dense admittance matrix. */
ORVEK_API void ORVEK_CALL OdrediSe(
    const int32_t *N, /* in: number of nodes, 1..100                          */
    const float *GR,  /* in: GR(100,100)                                      */
    const float *GI,  /* in: GI(100,100)                                      */
    const float *VM,  /* in: VM(N)                                            */
    const float *VA,  /* in: VA(N) radians                                    */
    float *P,         /* out: P(N) active power                               */
    float *Q,         /* out: Q(N) reactive power                             */
    float *CI);       /* out: CI(100,2) node currents                         */

/* The two constant matrices of a fast decoupled power flow (BX scheme). */
ORVEK_API void ORVEK_CALL Matrici_VektoriBX(
    const int32_t *N,     /* in: number of nodes; node N is the reference     */
    const int32_t *NPQ,   /* in: order of the second matrix, 0..N             */
    const float *Z,       /* in: Z(5000,2) R, X                               */
    const float *T,       /* in: T(5000) ratio at the first end               */
    const int32_t *NODES, /* in: NODES(5000,2)                                */
    const int32_t *NB,    /* in: number of branches, 1..5000                  */
    int32_t *IROW1,       /* out: rows of the first matrix                    */
    int32_t *JCOL1,       /* out: columns of the first matrix                 */
    float *VAL1,          /* out: values of the first matrix                  */
    int32_t *NZ1,         /* out: entries of the first matrix                 */
    int32_t *IROW2,       /* out: rows of the second matrix                   */
    int32_t *JCOL2,       /* out: columns of the second matrix                */
    float *VAL2,          /* out: values of the second matrix                 */
    int32_t *NZ2);        /* out: entries of the second matrix                */

#ifdef __cplusplus
}
#endif

#endif /* ORVEK_ORVEK_H */
