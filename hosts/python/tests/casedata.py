"""Test networks for the Python host tests: a small reader of power-flow case
files (MATPOWER case format, version 2: baseMVA, bus, gen and branch tables)
and the network arrays the library's routines take, built from them.

Cases are read from $ORVEK_CASES or from ../shared/cases beside the
repository; tests skip when the folder is absent.
"""

import os
import re

import numpy as np

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def cases_dir():
    return os.environ.get("ORVEK_CASES") or os.path.join(REPOSITORY, "..", "shared", "cases")


def case_path(name):
    return os.path.join(cases_dir(), name)


def _matrix(text, name):
    match = re.search(r"mpc\.%s\s*=\s*\[(.*?)\]\s*;" % name, text, re.S)
    if not match:
        raise ValueError("no table mpc.%s" % name)
    rows = []
    for line in match.group(1).split("\n"):
        line = line.split("%")[0]
        for row in line.split(";"):
            if row.strip():
                rows.append([float(v) for v in row.split()])
    return np.array(rows)


def read_case(path):
    """baseMVA and the bus, gen and branch tables of a case file."""
    with open(path) as f:
        text = f.read()
    base = float(re.search(r"mpc\.baseMVA\s*=\s*([0-9.eE+-]+)", text).group(1))
    return base, _matrix(text, "bus"), _matrix(text, "gen"), _matrix(text, "branch")


class Network:
    """Per-unit network over nodes 1..N in power-flow order: PQ nodes, then
    PV nodes (buses with a generator in service), the reference node last."""

    def __init__(self, path):
        self.base, bus, gen, branch = read_case(path)
        gen = gen[gen[:, 7] > 0]
        branch = branch[branch[:, 10] > 0]
        generator_buses = set(gen[:, 0].astype(int))
        kind = {}
        for row in bus:
            number, code = int(row[0]), int(row[1])
            if code == 2 and number not in generator_buses:
                code = 1
            kind[number] = code
        order = ([int(b) for b in bus[:, 0] if kind[int(b)] == 1] + [int(b) for b in bus[:, 0] if kind[int(b)] == 2]
                 + [int(b) for b in bus[:, 0] if kind[int(b)] == 3])
        assert sum(1 for k in kind.values() if k == 3) == 1, "one reference bus"
        self.node = {b: i + 1 for i, b in enumerate(order)}
        self.n = len(order)
        self.npq = sum(1 for k in kind.values() if k == 1)
        row_of = {int(row[0]): row for row in bus}
        rows = [row_of[b] for b in order]
        self.pd = np.array([r[2] for r in rows]) / self.base
        self.qd = np.array([r[3] for r in rows]) / self.base
        assert not any(r[4] for r in rows), "no shunt conductances in the test cases"
        self.bs = np.array([r[5] for r in rows]) / self.base
        self.base_kv = np.array([r[9] for r in rows])
        self.pg = np.zeros(self.n)
        self.vset = np.ones(self.n)
        self.gen_nodes = []
        self.gen_mbase = []
        for g in gen:
            k = self.node[int(g[0])] - 1
            self.pg[k] += g[1] / self.base
            self.gen_nodes.append(k + 1)
            self.gen_mbase.append(g[6] if g[6] > 0 else self.base)
            if kind[int(g[0])] != 1:
                self.vset[k] = g[5]

        # Branches: file data and exact pi-equivalents (ratio t at the first end).
        self.nb = len(branch)
        self.nodes = np.array([[self.node[int(r[0])], self.node[int(r[1])]] for r in branch], dtype=np.int32)
        self.r, self.x, self.b = branch[:, 2], branch[:, 3], branch[:, 4]
        self.ratio = np.where(branch[:, 8] == 0, 1.0, branch[:, 8])
        assert not branch[:, 9].any(), "no phase shifters in the test cases"
        y = 1 / (self.r + 1j * self.x)
        t = self.ratio
        self.z = t * (self.r + 1j * self.x)
        self.ya = (y + 0.5j * self.b) / t**2 - y / t
        self.yb = y + 0.5j * self.b - y / t

    def shunts(self):
        """MatricaY's nodal shunts: the bus susceptances."""
        k = np.nonzero(self.bs)[0]
        return self.bs[k].astype(np.float32), (k + 1).astype(np.int32)


def as_float(values):
    """Values as the library receives them: rounded to single precision."""
    values = np.asarray(values)
    if np.iscomplexobj(values):
        return values.astype(np.complex64).astype(np.complex128)
    return values.astype(np.float32).astype(np.float64)


def dense_admittance(n, z, ya, yb, nodes, bsh=(), ksh=()):
    """Y in double precision from the single-precision data the library gets."""
    z, ya, yb = as_float(z), as_float(ya), as_float(yb)
    y = np.zeros((n, n), dtype=np.complex128)
    for b, (i, j) in enumerate(nodes):
        ys = 1 / z[b]
        y[i - 1, i - 1] += ys + ya[b]
        y[j - 1, j - 1] += ys + yb[b]
        y[i - 1, j - 1] -= ys
        y[j - 1, i - 1] -= ys
    for value, k in zip(as_float(np.asarray(bsh, dtype=np.float64)), ksh):
        y[k - 1, k - 1] += 1j * value
    return y


def dense_from_triplets(n, irow, jcol, values):
    m = np.zeros((n, n), dtype=np.complex128 if np.iscomplexobj(values) else np.float64)
    for i, j, v in zip(irow, jcol, values):
        assert m[i - 1, j - 1] == 0, "position (%d, %d) twice" % (i, j)
        m[i - 1, j - 1] = v
    return m
