"""The studies against the command line's numbers (printed to nine
significant digits, which shows any difference of a single-precision value),
the low-level native faces, and the threaded road."""

import threading

import scipy.sparse

import numpy as np
import pandas as pd
import pytest

import orvek
from conftest import assert_same_table, case_path, run_study

# case, command-line options, the same as keyword arguments.
STUDIES = [
    ("case30.m", ["--fault", "3ph,slg"], dict(faults="3ph,slg")),
    ("case30.m", ["--fault", "all", "--flat", "--x0", "open", "--xd", "0.25", "--x2", "0.3", "--z0-line", "2.5",
                  "--flat-start", "--q-limits"],
     dict(faults="all", flat=True, x0="open", xd=0.25, x2=0.3, z0_line=2.5, flat_start=True, q_limits=True)),
    ("case30.m", ["--fault", "llg", "--tol", "1e-6", "--max-iter", "50", "--xfmr0", "block", "--refine-faults"],
     dict(faults="llg", tol=1e-6, max_iter=50, xfmr0="block", refine=True)),
    ("case1354pegase.m", ["--fault", "3ph,slg"], dict(faults="3ph,slg")),
]
PF_KEYWORDS = ("tol", "max_iter", "flat_start", "q_limits")


@pytest.mark.parametrize("name,args,kwargs", STUDIES)
def test_power_flow_and_fault_levels_match_the_command_line(name, args, kwargs, tmp_path):
    path = case_path(name)
    cli = run_study([path] + args, tmp_path)
    case = orvek.load_case(path)
    pf = orvek.power_flow(case, **{k: v for k, v in kwargs.items() if k in PF_KEYWORDS})
    assert pf.converged
    for table in ("buses", "branches", "generators"):
        assert_same_table(getattr(pf, table), cli[table])
    assert_same_table(orvek.fault_levels(case, **kwargs), cli["faults"])
    tables = orvek.study_tables(case, **kwargs)
    for table in ("summary", "buses", "branches", "generators", "faults"):
        if table == "summary":
            tables[table] = tables[table].drop(columns=["seconds"], errors="ignore")
            cli[table] = cli[table].drop(columns=["seconds"], errors="ignore")
        assert_same_table(tables[table], cli[table])


@pytest.mark.parametrize("name,bus", [("case30.m", 5), ("case118.m", 69)])
def test_one_fault_in_detail_matches_the_command_line(name, bus, tmp_path):
    path = case_path(name)
    cli = run_study([path, "--fault", "all", "--node", str(bus)], tmp_path)
    detail = orvek.fault_detail(orvek.load_case(path), bus, faults="all")
    assert_same_table(detail.levels, cli["faults"])
    assert_same_table(detail.voltages, cli["fault_voltages"])
    assert_same_table(detail.currents, cli["fault_branches"])


def test_admittance_factor_solve_and_fault_roads_agree():
    # The README's two-node network: the ctypes layer's numbers.
    y = orvek.assemble_admittance(2, [1], [2], [0.5j], [0.25j], [0.25j])
    assert y.dtype == np.complex64
    assert np.array_equal(y.toarray(), np.array([[-1.75j, 2j], [2j, -1.75j]], dtype=np.complex64))
    # The three-phase fault level of every bus of case30 from the low-level
    # calls (positive sequence with the generators behind x'' = 0.2 on
    # their base, as the study builds it) against the study's.
    case = orvek.load_case(case_path("case30.m"))
    net = case.network
    n = net["n"]
    gen_b = -1.0 / (0.2 * case.base_mva / net["gen_mbase"])
    ypos = orvek.assemble_admittance(n, net["from"], net["to"], net["z"], net["ya"], net["yb"],
                                     np.concatenate([net["shunt_node"], net["gen_node"]]),
                                     np.concatenate([net["shunt_b"], gen_b]))
    ypos = (ypos + scipy.sparse.diags(net["gsh"])).tocsr()
    f = orvek.factor(ypos)
    assert f.complete and f.n == n and not f.warnings
    ub = net["base_kv"].astype(np.float32)
    e = np.ones(n, dtype=np.complex128)           # complex128 accepted, converted once
    study = orvek.fault_levels(case, faults="3ph", flat=True)
    for k in range(1, n + 1):
        col = orvek.solve(f, np.eye(n)[k - 1])
        assert np.abs(ypos @ col - np.eye(n)[k - 1]).max() < 1e-4
        r = orvek.fault("3ph", k, ub, e, col, col, col)
        ia = abs(complex(r.currents[1])) * case.base_mva / (3 ** 0.5 * ub[k - 1])
        assert ia == pytest.approx(study.loc[(int(net["bus_of_node"][k - 1]), "3ph"), "ia"], rel=1e-5)
    currents = orvek.fault_study("3ph", f, f, f, ub, e)
    assert currents.shape == (n, 3) and currents.dtype == np.complex64


def test_studies_from_several_threads_give_the_serial_results():
    cases = [orvek.load_case(case_path(n)) for n in ("case30.m", "case118.m", "case300.m")]
    jobs = [(c, faults) for c in cases for faults in ("3ph,slg", "all")]
    serial = [orvek.fault_levels(c, faults=f) for c, f in jobs]
    results = [None] * (3 * len(jobs))
    own = [orvek.Workspace() for _ in results]

    def work(i):
        c, f = jobs[i % len(jobs)]
        # A third of the threads bring their own workspace.
        results[i] = orvek.fault_levels(c, faults=f, ws=own[i] if i % 3 == 0 else None)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(results))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, r in enumerate(results):
        pd.testing.assert_frame_equal(r, serial[i % len(jobs)], check_exact=True)
