"""The three declarations of the 28 routines agree: the Python table and the
Fortran module against the C header (names, order, types, directions,
leading dimensions), the export table, and the docs pages."""

import os
import re
import unittest

import header
import orvek

DIRECTION = {"in": "in", "out": "out", "in-out": "inout"}
DOCS = os.path.join(header.REPOSITORY, "docs")
PAGES = {
    "assembly.md": ["MatricaY", "MatricaYR", "MatY", "MatYR", "MatYsa", "MatY_prekin"],
    "sparse.md": ["LUR", "LUC", "BSR", "BSC"],
    "sequence.md": ["SimFaz", "SimFaz1", "FazSim1", "Sg", "So", "J1J2", "EMS", "NaponiKV", "StruiKV"],
    "topology.md": ["MAUX", "MultiPodred", "ZapisiPodredeno", "Inverzija", "MNOZI", "Paralelno", "OdrediPe",
                    "OdrediSe", "Matrici_VektoriBX"],
}


def python_shape(arg):
    """The header's "(dims)" of a table argument as the Python table states it."""
    if arg.base == "cplx":
        return [str(arg.ld), "2"]
    if arg.base == "pair":
        return ["2"]
    if arg.is_table:
        return [str(arg.ld)] if arg.columns == 1 else [str(arg.ld), str(arg.columns)]
    return None


class Declarations(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.header = header.read_header()
        cls.fortran = header.read_fortran()

    def test_header_has_the_28_exports_in_the_export_table(self):
        with open(os.path.join(header.REPOSITORY, "frame", "exports.def")) as f:
            exports = re.findall(r"^\s+(\w+)\s+@\d+", f.read(), re.M)
        self.assertEqual(len(self.header), 28)
        self.assertEqual(sorted(r.name for r in self.header), sorted(exports))

    def test_python_table_follows_the_header(self):
        self.assertEqual([r.name for r in self.header], list(orvek.ROUTINES))
        for c in self.header:
            py = orvek.ROUTINES[c.name]
            self.assertEqual([a.name for a in c.arguments], [a.name for a in py.arguments], c.name)
            for ca, pa in zip(c.arguments, py.arguments):
                where = "%s %s" % (c.name, ca.name)
                self.assertEqual(DIRECTION[ca.direction], pa.direction, where)
                self.assertEqual(ca.const, pa.direction == "in", where)
                self.assertEqual(ca.ctype, "int32_t" if pa.base == "int" else "float", where)
                shape = python_shape(pa)
                if shape is not None and ca.shape is not None:
                    self.assertEqual(ca.shape, shape, where)
                if ca.shape and ca.shape[-1] == "2" and ca.shape[0].isdigit() and ca.ctype == "float":
                    self.assertEqual(python_shape(pa), ca.shape, where + ": a split-complex array")

    def test_fortran_module_follows_the_header(self):
        self.assertEqual(sorted(self.fortran), sorted(r.name for r in self.header))
        for c in self.header:
            binding, arguments = self.fortran[c.name]
            self.assertEqual(binding, c.name)
            self.assertEqual([a.name for a in c.arguments], [a.name for a in arguments], c.name)
            for ca, fa in zip(c.arguments, arguments):
                where = "%s %s" % (c.name, ca.name)
                self.assertEqual(DIRECTION[ca.direction], fa.intent, where)
                self.assertEqual("integer" if ca.ctype == "int32_t" else "real", fa.ftype, where)
                if ca.shape and all(d.isdigit() for d in ca.shape):
                    self.assertEqual(ca.shape, fa.dims, where + ": explicit shape with the leading dimension")

    def test_docs_carry_every_argument_table(self):
        routines = {r.name: r for r in self.header}
        documented = set()
        for page, names in PAGES.items():
            path = os.path.join(DOCS, page)
            with open(path) as f:
                text = f.read()
            for name in names:
                self.assertIn("## `%s`" % name, text, page)
                self.assertIn(header.markdown_table(routines[name]), text, "%s: table of %s" % (page, name))
                documented.add(name)
        self.assertEqual(documented, set(routines))
        self.assertTrue(os.path.exists(os.path.join(DOCS, "frame.md")))


if __name__ == "__main__":
    unittest.main()
