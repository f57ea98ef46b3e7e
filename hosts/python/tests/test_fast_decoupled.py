"""The fast decoupled road on case30 through the Python package:
Matrici_VektoriBX builds the two constant matrices, LUR factors each once,
BSR solves with them at every iteration and MNOZI gives the node powers from
MatricaY's row-indexed matrix. The converged voltages are compared with a
Newton-Raphson power flow in double precision computed here with numpy."""

import os
import unittest

import numpy as np

import casedata
import orvek

EPS = float(np.finfo(np.float32).eps)
TOLERANCE = 1e-4   # largest power mismatch accepted, per unit
MAX_ITERATIONS = 40


def newton_raphson(y, pspec, qspec, vm, npq, n):
    """Polar Newton-Raphson in double precision; node n is the reference,
    nodes 1..npq are PQ, the rest PV."""
    vm, va = vm.astype(float).copy(), np.zeros(n)
    pv_pq = np.arange(n - 1)
    pq = np.arange(npq)
    for _ in range(30):
        v = vm * np.exp(1j * va)
        s = v * np.conj(y @ v)
        mismatch = np.concatenate([pspec[pv_pq] - s.real[pv_pq], qspec[pq] - s.imag[pq]])
        if np.abs(mismatch).max() < 1e-11:
            return vm, va
        # dS/dVa and dS/dVm (complex), the usual closed forms.
        i = y @ v
        ds_dva = 1j * np.diag(v) @ np.conj(np.diag(i) - y @ np.diag(v))
        ds_dvm = np.diag(v) @ np.conj(y @ np.diag(v / vm)) + np.diag(v / vm) @ np.diag(np.conj(i))
        jac = np.block([[ds_dva.real[np.ix_(pv_pq, pv_pq)], ds_dvm.real[np.ix_(pv_pq, pq)]],
                        [ds_dva.imag[np.ix_(pq, pv_pq)], ds_dvm.imag[np.ix_(pq, pq)]]])
        step = np.linalg.solve(jac, mismatch)
        va[pv_pq] += step[:n - 1]
        vm[pq] += step[n - 1:]
    raise AssertionError("the reference power flow did not converge")


@unittest.skipUnless(os.path.exists(casedata.case_path("case30.m")), "case30.m not found (set ORVEK_CASES)")
class FastDecoupledOnCase30(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        net = cls.net = casedata.Network(casedata.case_path("case30.m"))
        cls.bsh, cls.ksh = net.shunts()
        cls.y = orvek.MatricaY(cls.bsh, cls.ksh, len(cls.bsh), net.n, net.z, net.ya, net.yb, net.nodes, net.nb)
        cls.bx = orvek.Matrici_VektoriBX(net.n, net.npq, net.r + 1j * net.x, net.ratio, net.nodes, net.nb)
        cls.b1 = orvek.LUR(net.n - 1, cls.bx.NZ1, cls.bx.VAL1, cls.bx.IROW1, cls.bx.JCOL1)
        cls.b2 = orvek.LUR(net.npq, cls.bx.NZ2, cls.bx.VAL2, cls.bx.IROW2, cls.bx.JCOL2)

    def solve(self, f, n, b, ipath=1):
        return orvek.BSR(n, f.NFAC, f.NL, f.FAC, f.IRFAC, f.JCFAC, f.IPVT, f.JPVT, b, ipath).X

    def test_constant_matrices_match_their_definition(self):
        net, bx = self.net, self.bx
        r, x = casedata.as_float(net.r), casedata.as_float(net.x)
        t = casedata.as_float(net.ratio)
        b1 = np.zeros((net.n, net.n))
        b2 = np.zeros((net.n, net.n))
        for (i, j), g, xb, tb in zip(net.nodes, x / (r**2 + x**2), x, t):
            b1[i - 1, i - 1] += g
            b1[j - 1, j - 1] += g
            b1[i - 1, j - 1] -= g
            b1[j - 1, i - 1] -= g
            b2[i - 1, i - 1] += 1 / (xb * tb**2)
            b2[j - 1, j - 1] += 1 / xb
            b2[i - 1, j - 1] -= 1 / (xb * tb)
            b2[j - 1, i - 1] -= 1 / (xb * tb)
        got1 = casedata.dense_from_triplets(net.n - 1, bx.IROW1, bx.JCOL1, bx.VAL1)
        got2 = casedata.dense_from_triplets(net.npq, bx.IROW2, bx.JCOL2, bx.VAL2)
        ref1, ref2 = b1[:net.n - 1, :net.n - 1], b2[:net.npq, :net.npq]
        self.assertLess(np.abs(got1 - ref1).max(), 8 * EPS * np.abs(ref1).max())
        self.assertLess(np.abs(got2 - ref2).max(), 8 * EPS * np.abs(ref2).max())
        # Diagonals first, then one pair per node pair inside the matrix.
        self.assertEqual(list(bx.IROW1[:net.n - 1]), list(range(1, net.n)))
        self.assertEqual(list(bx.JCOL1[:net.n - 1]), list(range(1, net.n)))

    def test_solves_have_small_residuals_both_ways(self):
        net, bx = self.net, self.bx
        m = casedata.dense_from_triplets(net.n - 1, bx.IROW1, bx.JCOL1, bx.VAL1)
        rng = np.random.default_rng(7)
        b = rng.standard_normal(net.n - 1).astype(np.float32)
        for ipath, a in ((1, m), (2, m.T)):
            x = self.solve(self.b1, net.n - 1, b, ipath).astype(float)
            residual = np.linalg.norm(a @ x - b) / (np.linalg.norm(a, 1) * np.linalg.norm(x) * EPS)
            self.assertLess(residual, 50, "IPATH = %d" % ipath)

    def test_node_power_of_so_agrees_with_mnozi(self):
        net = self.net
        rng = np.random.default_rng(3)
        vm = (1 + 0.05 * rng.standard_normal(net.n)).astype(np.float32)
        va = (0.1 * rng.standard_normal(net.n)).astype(np.float32)
        s = orvek.MNOZI(self.y.SA, self.y.IJA, vm, va, net.n).S
        v = vm.astype(float) * np.exp(1j * va.astype(float))
        ydense = casedata.dense_admittance(net.n, net.z, net.ya, net.yb, net.nodes, self.bsh, self.ksh)
        np.testing.assert_allclose(s, v * np.conj(ydense @ v), atol=2e-4)
        vc = (vm * np.cos(va) + 1j * vm * np.sin(va)).astype(np.complex64)
        for k in range(1, net.n + 1):
            so = orvek.So(net.n, k, vc, self.y.SA, self.y.IJA)
            self.assertAlmostEqual(so.SR, float(s[k - 1].real), delta=2e-4)
            self.assertAlmostEqual(so.SI, float(s[k - 1].imag), delta=2e-4)

    def test_power_flow_converges_to_the_newton_solution(self):
        net = self.net
        n, npq = net.n, net.npq
        pspec = net.pg - net.pd
        qspec = -net.qd
        vm = net.vset.astype(np.float32)
        va = np.zeros(n, dtype=np.float32)
        for iteration in range(MAX_ITERATIONS):
            s = orvek.MNOZI(self.y.SA, self.y.IJA, vm, va, n).S
            dp = (pspec[:n - 1] - s.real[:n - 1]).astype(np.float32)
            dq = (qspec[:npq] - s.imag[:npq]).astype(np.float32)
            if max(np.abs(dp).max(), np.abs(dq).max()) < TOLERANCE:
                break
            va[:n - 1] += self.solve(self.b1, n - 1, dp / vm[:n - 1])
            s = orvek.MNOZI(self.y.SA, self.y.IJA, vm, va, n).S
            dq = (qspec[:npq] - s.imag[:npq]).astype(np.float32)
            vm[:npq] += self.solve(self.b2, npq, dq / vm[:npq])
        else:
            self.fail("no convergence in %d iterations" % MAX_ITERATIONS)
        self.assertGreater(iteration, 2)
        ydense = casedata.dense_admittance(n, net.z, net.ya, net.yb, net.nodes, self.bsh, self.ksh)
        ref_vm, ref_va = newton_raphson(ydense, pspec, qspec, net.vset, npq, n)
        np.testing.assert_allclose(vm, ref_vm, atol=5e-4)
        np.testing.assert_allclose(va, ref_va, atol=5e-4)
        if os.environ.get("ORVEK_REPORT"):
            print("\nfast decoupled: %d iterations, max dVm %.2e, max dVa %.2e rad"
                  % (iteration, np.abs(vm - ref_vm).max(), np.abs(va - ref_va).max()))
        # The solution is not the flat start: the case carries real load.
        self.assertGreater(np.abs(ref_va).max(), 0.05)


if __name__ == "__main__":
    unittest.main()
