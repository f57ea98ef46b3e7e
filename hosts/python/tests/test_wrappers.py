"""The Python functions against the library's documented small examples
(exact values), the conversions to the library's layouts, the checks made
before a call, and what a terminal error does to the Python process."""

import os
import subprocess
import sys
import unittest

import numpy as np

import orvek
from orvek import _core

F = np.float32


class SmallExamples(unittest.TestCase):

    def test_two_node_admittance_matrix(self):
        r = orvek.MatricaY([], [], 0, 2, [0.5j], [0.25j], [0.25j], [[1, 2]], 1)
        self.assertEqual(r.NZ, 4)
        self.assertEqual(list(r.IROW), [1, 2, 1, 2])
        self.assertEqual(list(r.JCOL), [1, 2, 2, 1])
        self.assertEqual(list(r.A), [-1.75j, -1.75j, 2j, 2j])
        self.assertEqual(list(r.IJA), [4, 5, 6, 2, 1])
        self.assertEqual([r.SA[0], r.SA[1], r.SA[3], r.SA[4]], [-1.75j, -1.75j, 2j, 2j])
        same = orvek.MatYsa(2, [0.5j], [0.25j], [0.25j], [[1, 2]], 1)
        self.assertEqual(list(same.A), list(r.A))
        self.assertEqual(list(same.IJA), list(r.IJA))

    def test_three_node_row_order_and_shunt(self):
        r = orvek.MatricaY([0.1], [2], 1, 3, [0.5j, 1j], [0.25j] * 2, [0.25j] * 2, [[1, 2], [2, 3]], 2)
        self.assertEqual(list(r.IJA), [5, 6, 8, 9, 2, 3, 1, 2])
        self.assertEqual(list(r.A[:3]), [F(-1.75) * 1j, complex(0, F(-2.5) + F(0.1)), -0.75j])

    def test_opened_branch(self):
        r = orvek.MatY_prekin(2, [0.5j], [0.25j], [0.25j], [[1, 2]], [0], 1)
        self.assertEqual((r.NZ, list(r.A)), (2, [0.25j, 0.25j]))

    def test_symmetrical_components(self):
        r = orvek.SimFaz1(0, 0, 1, 0, 0, 0)
        self.assertEqual((r.XAR, r.XAI), (1.0, 0.0))
        self.assertEqual((F(r.XBR), F(r.XBI)), (F(-0.49999997), F(-0.8660254)))
        self.assertEqual((r.XCR, r.XCI), (-0.5, float(F(0.8660254))))
        back = orvek.FazSim1(1, 0, 1, 0, 1, 0)
        self.assertEqual((back.X0R, back.X0I, back.X2R, back.X2I), (1.0, 0.0, 0.0, 0.0))
        self.assertAlmostEqual(back.X1R, (0.5 - 0.4999999701976776) / 3, delta=1e-9)
        many = orvek.SimFaz(3, [1, 0, 0], [0, 1, 0], [0, 0, 1])
        self.assertEqual(list(many.XA), [1, 1, 1])
        self.assertEqual(many.XB[1], complex(F(-0.49999997), F(-0.8660254)))

    def test_ratio_change_and_source_voltage(self):
        r = orvek.J1J2(0, 1, 1, 2, 1, 0, 0, 0)
        self.assertEqual((r.J1R, r.J1I, r.J2R, r.J2I), (0.0, 0.75, 0.0, -0.5))
        e = orvek.EMS(1, 0, 1, 0, 0.5)
        self.assertEqual((e.ER, e.EI), (1.0, 0.5))

    def test_dense_utilities(self):
        self.assertEqual(orvek.Paralelno(2, 2).ZP, 1)
        self.assertEqual(orvek.Paralelno(1j, -1j).ZP, 0)
        inv = orvek.Inverzija([[4, 1], [1, 3]], np.zeros((2, 2)), 2)
        np.testing.assert_allclose(inv.AR, np.array([[3, -1], [-1, 4]]) / 11, rtol=1e-6)
        self.assertTrue(np.all(inv.AI == 0))
        p = orvek.OdrediSe(1, [[2.0]], [[-3.0]], [1.5], [0.0])
        self.assertEqual((p.P[0], p.Q[0]), (F(4.5), F(6.75)))
        self.assertEqual(p.CI[0], complex(3, -4.5))

    def test_topology(self):
        m = orvek.MAUX(3, [[1, 2], [2, 3]], 2)
        self.assertEqual(list(m.IJA[:5]), [5, 6, 8, 9, 2])
        self.assertEqual((m.IBR[4], m.IJA[7], m.IBR[7]), (1, 2, 2))
        self.assertEqual(sorted(zip(m.IJA[5:7], m.IBR[5:7])), [(1, 1), (3, 2)])
        t = orvek.MAUX(3, [[1, 2], [2, 3], [1, 3]], 3)
        o = orvek.MultiPodred(3, t.IJA, t.IBR)
        self.assertEqual((o.NC, list(o.CNT[0])), (1, [3, 3]))
        self.assertEqual((o.ORD[0], o.BL[2]), (1, 2))
        self.assertEqual(sorted(o.ORD[1:]), [2, 3])
        orvek.ZapisiPodredeno(o.CNT, o.ORD, o.BL, o.PAR, o.NC, [[1, 2], [2, 3], [1, 3]])

    def test_fast_decoupled_matrices(self):
        r = orvek.Matrici_VektoriBX(3, 1, [0.1j, 0.2j], [1, 1], [[1, 2], [2, 3]], 2)
        self.assertEqual((r.NZ1, list(r.IROW1), list(r.JCOL1)), (4, [1, 2, 1, 2], [1, 2, 2, 1]))
        np.testing.assert_allclose(r.VAL1, [10, 15, -10, -10], rtol=1e-6)
        self.assertEqual(r.NZ2, 1)
        np.testing.assert_allclose(r.VAL2, [10], rtol=1e-6)

    def test_order_one_factor_and_solve(self):
        f = orvek.LUR(1, 1, [4.0], [1], [1])
        self.assertEqual((f.NL, f.NFAC), (0, 1))
        x = orvek.BSR(1, f.NFAC, f.NL, f.FAC, f.IRFAC, f.JCFAC, f.IPVT, f.JPVT, [2.0], 1).X
        self.assertEqual(list(x), [0.5])


class Layouts(unittest.TestCase):

    def test_split_complex_buffer_has_the_leading_dimension(self):
        arg = orvek.ROUTINES["MatricaY"].arguments[4]  # Z(5000,2)
        buffer, rows = _core._split(orvek.ROUTINES["MatricaY"], arg, [1 + 2j, 3 - 4j])
        flat = buffer.reshape(-1, order="F")
        self.assertEqual(rows, 2)
        self.assertEqual(flat.size, 10000)
        self.assertEqual(list(flat[[0, 1, 5000, 5001]]), [1, 3, 2, -4])
        self.assertTrue(buffer.flags.f_contiguous)

    def test_split_pairs_are_accepted_as_complex(self):
        r = orvek.SimFaz(2, np.array([[1, 2], [3, 4]], dtype=F), [0, 0], [0, 0])
        self.assertEqual(list(r.XA), [1 + 2j, 3 + 4j])

    def test_node_table_keeps_columns_apart(self):
        arg = orvek.ROUTINES["MAUX"].arguments[1]  # NODES(5000,2)
        buffer, rows = _core._table_buffer(orvek.ROUTINES["MAUX"], arg, [[1, 2], [3, 4]])
        flat = buffer.reshape(-1, order="F")
        self.assertEqual(list(flat[[0, 1, 5000, 5001]]), [1, 3, 2, 4])

    def test_every_routine_has_a_function_and_a_signature(self):
        self.assertEqual(len(orvek.ROUTINES), 28)
        for name, routine in orvek.ROUTINES.items():
            self.assertTrue(callable(getattr(orvek, name)))
            self.assertIn(name + "(", getattr(orvek, name).__doc__)
        self.assertEqual(sorted(orvek.available()), sorted(orvek.ROUTINES))


class ChecksBeforeTheCall(unittest.TestCase):

    def test_arrays_longer_than_the_leading_dimension(self):
        with self.assertRaisesRegex(ValueError, "MatY: Z has 5001 entries; its leading dimension is 5000"):
            orvek.MatY(2, np.ones(5001) * 0.5j, [0], [0], [[1, 2]], 1)

    def test_counts_beyond_the_leading_dimension(self):
        z = np.ones(10) * 0.5j
        with self.assertRaisesRegex(ValueError, "NB = 6000 exceeds the leading dimension 5000 of Z"):
            orvek.MatY(2, z, z, z, [[1, 2]] * 10, 6000)

    def test_arrays_shorter_than_what_is_read(self):
        with self.assertRaisesRegex(ValueError, "KSH has 1 entries, but the routine reads NSH = 2"):
            orvek.MatricaY([0.1, 0.2], [1], 2, 2, [0.5j], [0], [0], [[1, 2]], 1)
        with self.assertRaisesRegex(ValueError, "IJA"):
            orvek.MNOZI([1, 2], [4, 5], [1, 1], [0, 0], 2)

    def test_argument_errors(self):
        with self.assertRaisesRegex(TypeError, "missing argument NB"):
            orvek.MatY(2, [0.5j], [0], [0], [[1, 2]])
        with self.assertRaisesRegex(TypeError, "has no input argument NZ"):
            orvek.MatY(2, [0.5j], [0], [0], [[1, 2]], 1, NZ=3)
        with self.assertRaisesRegex(ValueError, "does not fit a 32-bit integer"):
            orvek.SimFaz(2**31, [0], [0], [0])


class LosslessConversions(unittest.TestCase):
    """Each call is refused before the library is called (a call that
    reached it would end the process or give a wrong result), with the
    exception type and the words naming the argument."""

    NODES = [[1, 2], [2, 3]]
    REFUSED = [
        # (routine, arguments, exception, message pattern)
        ("MAUX", (3, [[1, 2**32 + 2], [2, 3]], 2), ValueError, "MAUX: NODES holds a value that does not fit"),
        ("MAUX", (3, [[1.9, 2], [2, 3]], 2), ValueError, "MAUX: NODES holds a value that is not an integer"),
        ("MAUX", (3, NODES, 1.9), ValueError, "MAUX: NB = 1.9 is not an integer"),
        ("MAUX", ("3", NODES, 2), TypeError, "MAUX: N must be a number, not '3'"),
        ("MAUX", (3, [["1", "2"], ["2", "3"]], 2), TypeError, "MAUX: NODES must hold numbers"),
        ("MAUX", (3, [[1], [2]], 2), ValueError, r"MAUX: NODES must have at most 5000 rows and exactly 2 columns"),
        ("MAUX", (3, [[1, 2, 3]], 1), ValueError, r"MAUX: NODES must have at most 5000 rows and exactly 2"),
        ("MAUX", (2**31 - 10, NODES, 2), ValueError, "MAUX: N = 2147483638 must be at most 6000"),
        ("MAUX", (3, NODES, True), TypeError, "MAUX: NB must be a number, not True"),
        ("SimFaz", (-1, [0], [0], [0]), ValueError, "SimFaz: N = -1 must be at least 0"),
        ("SimFaz", (1, [None], [0], [0]), TypeError, "SimFaz: X0 must hold numbers"),
        ("SimFaz", (1, None, [0], [0]), TypeError, "SimFaz: missing argument X0"),
        ("SimFaz", (1, [1e60], [0], [0]), ValueError, "SimFaz: X0 holds a value beyond single precision"),
        ("SimFaz", (1, [1e-50j], [0], [0]), ValueError, "SimFaz: X0 holds a value that single precision rounds"),
        ("SimFaz", (1, np.ones((2, 3)), [0], [0]), ValueError, r"SimFaz: X0 must be one-dimensional"),
        ("SimFaz1", (None, 0, 1, 0, 0, 0), TypeError, "SimFaz1: X0R must be a number, not None"),
        ("SimFaz1", ("2", 0, 1, 0, 0, 0), TypeError, "SimFaz1: X0R must be a number, not '2'"),
        ("SimFaz1", (1j, 0, 1, 0, 0, 0), TypeError, "SimFaz1: X0R must be real"),
        ("SimFaz1", (1e39, 0, 1, 0, 0, 0), ValueError, "SimFaz1: X0R holds a value beyond single precision"),
        ("Paralelno", ("2", 2), TypeError, "Paralelno: Z1 must be a number, not '2'"),
        ("Inverzija", ([[4, 1, 0], [1, 3, 0]], np.zeros((2, 3)), 2), ValueError,
         r"Inverzija: AR must have shape \(N, N\) = \(2, 2\), not \(2, 3\)"),
        ("Inverzija", ([[4, 1], [1, 3]], np.zeros((2, 1)), 2), ValueError, r"Inverzija: AI must have shape"),
        ("OdrediPe", (2, [[1, 2], [3, 4]], [[0, 0]], [1, 1], [0, 0]), ValueError,
         r"OdrediPe: GI has 1 entries, but the routine reads N = 2"),
        ("OdrediPe", (2, [[1, 2], [3, 4]], [[0], [0]], [1, 1], [0, 0]), ValueError,
         r"OdrediPe: GI must have shape \(N, N\) = \(2, 2\), not \(2, 1\)"),
        ("OdrediPe", (2, [[1, 2], [3, 4]], np.zeros((2, 2)), [1, 1], [[0, 0]]), ValueError,
         "OdrediPe: VA must be one-dimensional"),
        ("ZapisiPodredeno", (np.zeros((1000, 2)), [], [], [], 51, NODES), ValueError,
         "ZapisiPodredeno: NC = 51 must be at most 50"),
        ("LUR", (3, 1, [4.0], [1], [1]), ValueError, "LUR: N = 3 must be at most NZ = 1"),
        ("LUR", (1, 0, [], [], []), ValueError, "LUR: N = 1 must be at most NZ = 0"),
        ("LUC", (1, 10001, [0], [1], [1]), ValueError, "LUC: NZ = 10001 must be at most 10000"),
        ("LUR", (1, 1, ["4"], [1], [1]), TypeError, "LUR: A must hold numbers"),
        ("LUR", (1, 1, [4.0 + 1j], [1], [1]), ValueError, "LUR: A must be real, not complex"),
    ]

    def test_lossy_or_malformed_arguments_are_refused_before_the_call(self):
        for routine, args, error, pattern in self.REFUSED:
            with self.subTest(routine=routine, pattern=pattern):
                with self.assertRaisesRegex(error, pattern):
                    getattr(orvek, routine)(*args)

    def test_exact_conversions_are_accepted(self):
        # Integral floats and numpy integers are integers; NC = 0 stores nothing.
        m = orvek.MAUX(np.int64(3), np.array(self.NODES, dtype=np.float64), 2.0)
        self.assertEqual(list(m.IJA[:5]), [5, 6, 8, 9, 2])
        self.assertEqual(orvek.ZapisiPodredeno(np.zeros((1000, 2)), [], [], [], 0, self.NODES), ())
        self.assertEqual(len(orvek.SimFaz(0, [], [], []).XA), 0)
        self.assertEqual(orvek.SimFaz1(np.float32(1), 0, 0, 0, 0, 0).XAR, 1.0)


class TerminalErrors(unittest.TestCase):

    def test_a_terminal_error_ends_the_python_process(self):
        script = ("import orvek\nprint('before the call')\n"
                  "orvek.MatY(2, [0.5j], [0], [0], [[1, 2]], 0)\nprint('after the call')\n")
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60,
                              env=dict(os.environ))
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertTrue(done.stdout.startswith("before the call\n"), done.stdout)
        self.assertTrue(done.stdout.endswith("Stop - Program terminated.\n"), done.stdout)
        self.assertIn("TERMINAL", done.stdout)
        self.assertNotIn("after the call", done.stdout)


if __name__ == "__main__":
    unittest.main()
