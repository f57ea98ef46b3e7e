"""The fault-study road on case30 through the Python package: MatricaY for
each sequence network, LUC, BSC for the impedance column of the fault node,
NaponiKV for every fault type, StruiKV, Sg and SimFaz for the branches;
each step compared with a double-precision computation in numpy from the
same single-precision data."""

import os
import unittest

import numpy as np

import casedata
import orvek

EPS = float(np.finfo(np.float32).eps)
ROT = np.exp(2j * np.pi / 3)  # the rotation operator a
GEN_X1, GEN_X0, ZERO_LINE_FACTOR = 0.2, 0.1, 3.0  # sequence data (the case has none)


def sequence_networks(net):
    """(z, ya, yb, bsh, ksh) of the zero, positive and negative sequence networks."""
    gen_k = np.array(net.gen_nodes, dtype=np.int32)
    scale = net.base / np.array(net.gen_mbase)
    bs, ks = net.shunts()
    positive = (net.z, net.ya, net.yb, np.concatenate([bs, -1 / (GEN_X1 * scale)]), np.concatenate([ks, gen_k]))
    zero = (ZERO_LINE_FACTOR * net.z, net.ya, net.yb, -1 / (GEN_X0 * scale), gen_k)
    return [zero, positive, positive]


def fault_parameters(itype, z0k, z2k):
    """ZF, C2 = I2/I1, C0 = I0/I1 of a solid fault."""
    if itype == 2:
        return z2k, -1, 0
    if itype == 3:
        d = z0k + z2k
        return z0k * z2k / d, -z0k / d, -z2k / d
    if itype == 4:
        return z0k + z2k, 1, 1
    return 0, 0, 0


@unittest.skipUnless(os.path.exists(casedata.case_path("case30.m")), "case30.m not found (set ORVEK_CASES)")
class FaultRoadOnCase30(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.net = casedata.Network(casedata.case_path("case30.m"))
        cls.seq = sequence_networks(cls.net)
        cls.matrices, cls.factors, cls.dense = [], [], []
        n = cls.net.n
        for z, ya, yb, bsh, ksh in cls.seq:
            m = orvek.MatricaY(bsh, ksh, len(bsh), n, z, ya, yb, cls.net.nodes, cls.net.nb)
            cls.matrices.append(m)
            cls.factors.append(orvek.LUC(n, m.NZ, m.A, m.IROW, m.JCOL))
            cls.dense.append(casedata.dense_admittance(n, z, ya, yb, cls.net.nodes, bsh, ksh))

    def column(self, s, k):
        f = self.factors[s]
        b = np.zeros(self.net.n, dtype=complex)
        b[k - 1] = 1
        return orvek.BSC(self.net.n, f.NFAC, f.NL, f.FAC, f.IRFAC, f.JCFAC, f.IPVT, f.JPVT, b, 1).X

    def test_assembled_matrices_match_the_dense_reference(self):
        for s, m in enumerate(self.matrices):
            y = casedata.dense_from_triplets(self.net.n, m.IROW, m.JCOL, m.A)
            ref = self.dense[s]
            self.assertEqual(m.NZ, np.count_nonzero(ref) + np.sum(np.diag(ref) == 0))
            self.assertLess(np.abs(y - ref).max(), 4 * EPS * np.abs(ref).max(), "sequence %d" % s)

    def test_factor_defaults_are_written_back(self):
        for f in self.factors:
            self.assertEqual(f.IPARAM[0], 1)
            self.assertEqual(list(f.IPARAM[[1, 2, 4, 5]]), [3, 3, 0, 0])
            self.assertEqual(f.RPARAM[1], np.float32(10.0))
            self.assertGreater(f.RPARAM[4], 1e-20)  # no singularity warning
            self.assertLessEqual(f.NFAC, 3 * self.matrices[0].NZ)

    def test_impedance_columns_solve_the_network(self):
        for s in range(3):
            y = self.dense[s]
            for k in (1, 12, self.net.n):
                x = self.column(s, k).astype(np.complex128)
                e = np.zeros(self.net.n)
                e[k - 1] = 1
                residual = np.linalg.norm(y @ x - e) / (np.linalg.norm(y, 1) * np.linalg.norm(x) * EPS)
                self.assertLess(residual, 50, "sequence %d, node %d" % (s, k))
                exact = np.linalg.solve(y, e)
                self.assertLess(np.abs(x - exact).max(), 1e-4 * np.abs(exact).max())

    def test_conjugate_transposed_solve(self):
        f, y = self.factors[1], self.dense[1]
        rng = np.random.default_rng(30)
        b = (rng.standard_normal(self.net.n) + 1j * rng.standard_normal(self.net.n)).astype(np.complex64)
        x = orvek.BSC(self.net.n, f.NFAC, f.NL, f.FAC, f.IRFAC, f.JCFAC, f.IPVT, f.JPVT, b, 2).X
        residual = np.linalg.norm(y.conj().T @ x - b) / (np.linalg.norm(y, 1) * np.linalg.norm(x) * EPS)
        self.assertLess(residual, 50)

    def test_every_fault_type_at_three_nodes(self):
        n = self.net.n
        e = np.ones(n, dtype=complex)
        ub = self.net.base_kv.astype(np.float32)
        for k in (1, 12, n):
            cols = [self.column(s, k) for s in range(3)]
            z = [c.astype(np.complex128) for c in cols]
            for itype in (1, 2, 3, 4, 0):
                r = orvek.NaponiKV(n, itype, k, ub, e, cols[0], cols[1], cols[2])
                zf, c2, c0 = fault_parameters(itype, z[0][k - 1], z[2][k - 1])
                i1 = 1 / (z[1][k - 1] + zf)
                currents = np.array([c0 * i1, i1, c2 * i1])
                where = "type %d at node %d" % (itype, k)
                np.testing.assert_allclose(r.IFS, currents, atol=2e-5 * abs(i1), err_msg=where)
                if itype in (1, 0):
                    self.assertTrue(np.all(r.IFS[[0, 2]] == 0), where)
                    self.assertTrue(np.all(r.Z0 == 0) and np.all(r.Z2 == 0), where)
                v1 = 1 - z[1] * currents[1]
                v2 = -z[2] * currents[2]
                v0 = -z[0] * currents[0]
                for got, want, name in ((r.Z0, v0, "V0"), (r.Z1, v1, "V1"), (r.Z2, v2, "V2"),
                                        (r.VA, v0 + v1 + v2, "VA"),
                                        (r.VB, v0 + ROT**2 * v1 + ROT * v2, "VB"),
                                        (r.VC, v0 + ROT * v1 + ROT**2 * v2, "VC")):
                    np.testing.assert_allclose(got, want, atol=2e-5, err_msg=where + " " + name)
                if itype == 4:  # the faulted phase is at earth potential at the fault
                    self.assertLess(abs(r.VA[k - 1]), 2e-5, where)

    def test_branch_currents_powers_and_phase_values(self):
        n, net, k = self.net.n, self.net, 12
        cols = [self.column(s, k) for s in range(3)]
        r = orvek.NaponiKV(n, 4, k, net.base_kv, np.ones(n), cols[0], cols[1], cols[2])
        volts = [r.Z0, r.Z1, r.Z2]
        currents = []
        for s, (z, ya, yb, bsh, ksh) in enumerate(self.seq):
            c = orvek.StruiKV(net.nb, z, ya, yb, net.nodes, n, volts[s])
            currents.append(c)
            v = volts[s].astype(np.complex128)
            # Kirchhoff: branch currents leaving each node plus its shunt current = (Y V)(i).
            leaving = np.zeros(n, dtype=complex)
            np.add.at(leaving, net.nodes[:, 0] - 1, c.IE1)
            np.add.at(leaving, net.nodes[:, 1] - 1, -c.IE2.astype(np.complex128))
            shunt = np.zeros(n, dtype=complex)
            np.add.at(shunt, np.asarray(ksh) - 1, 1j * casedata.as_float(bsh))
            np.testing.assert_allclose(leaving + shunt * v, self.dense[s] @ v, atol=1e-4,
                                       err_msg="sequence %d" % s)
            # The same branches' powers agree with the currents.
            p = orvek.Sg(z, ya, yb, net.nodes, net.nb, volts[s], n)
            vk, vm = v[net.nodes[:, 0] - 1], v[net.nodes[:, 1] - 1]
            np.testing.assert_allclose(p.SE1, vk * np.conj(c.IE1), atol=1e-5)
            np.testing.assert_allclose(p.SE2, vm * np.conj(c.IE2), atol=1e-5)
        # The fault current leaves the positive network at the fault node.
        ph = orvek.SimFaz(net.nb, currents[0].IE1, currents[1].IE1, currents[2].IE1)
        i0, i1, i2 = (c.IE1.astype(np.complex128) for c in currents)
        np.testing.assert_allclose(ph.XA, i0 + i1 + i2, atol=1e-5)
        np.testing.assert_allclose(ph.XB, i0 + ROT**2 * i1 + ROT * i2, atol=1e-5)
        np.testing.assert_allclose(ph.XC, i0 + ROT * i1 + ROT**2 * i2, atol=1e-5)


if __name__ == "__main__":
    unittest.main()
