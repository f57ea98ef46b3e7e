"""The studies against the command line's numbers (printed to nine
significant digits, which shows any difference of a single-precision value),
the low-level native faces, and the threaded road."""

import threading

import scipy.sparse

import numpy as np
import pandas as pd
import pytest

import orvek
from conftest import case_path, csv_records, full, run_study

# case, command-line options, the same as keyword arguments.
STUDIES = [
    ("case30.m", [], {}),
    ("case30.m", ["--flat", "--x0", "open", "--xd", "0.25", "--x2", "0.3", "--z0-line", "2.5"],
     dict(flat=True, x0="open", xd=0.25, x2=0.3, z0_line=2.5)),
    ("case118.m", ["--tol", "1e-3", "--x0", "0.1"], dict(tol=1e-3, x0=0.1)),
    ("case1354pegase.m", [], {}),
]


@pytest.mark.parametrize("name,args,kwargs", STUDIES)
def test_power_flow_and_fault_levels_match_the_command_line(name, args, kwargs):
    path = case_path(name)
    cli = csv_records(run_study([path, "--format", "csv", "--fault", "3ph,slg"] + args))
    case = orvek.load_case(path)
    pf_kwargs = {k: v for k, v in kwargs.items() if k in ("tol", "max_iter")}
    pf = orvek.power_flow(case, **pf_kwargs)
    assert pf.converged and str(pf.iterations) == cli["summary"][0][5]
    ours = [[str(bus), row.type] + [full(row[c]) for c in ("vm_pu", "va_deg", "p_mw", "q_mvar")]
            for bus, row in pf.buses.iterrows()]
    assert ours == cli["bus"]

    levels = orvek.fault_levels(case, faults="3ph,slg", **kwargs)
    unit = levels.attrs["current_unit"]
    columns = ["ia_" + unit, "ib_" + unit, "ic_" + unit, "va_pu", "vb_pu", "vc_pu", "i1_re_pu", "i1_im_pu",
               "zkk1_pu"]
    ours = [[str(bus), fault] + [full(v) for v in row] for (bus, fault), row in levels[columns].iterrows()]
    assert ours == cli["fault"]


@pytest.mark.parametrize("name,bus", [("case30.m", 5), ("case118.m", 69)])
def test_one_fault_in_detail_matches_the_command_line(name, bus):
    path = case_path(name)
    cli = csv_records(run_study([path, "--format", "csv", "--fault", "all", "--node", str(bus)]))
    detail = orvek.fault_detail(orvek.load_case(path), bus, faults="all")
    assert [[str(b), f] + [full(v) for v in row] for (b, f), row in detail.levels.iloc[:, :9].iterrows()] \
        == cli["fault"]
    assert [[f, str(b)] + [full(v) for v in row] for (f, b), row in detail.voltages.iterrows()] == cli["voltage"]
    assert [[r[0], str(r[2]), str(r[3])] + [full(v) for v in r[4:]]
            for r in detail.currents.reset_index().itertuples(index=False)] == cli["branch"]


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
        assert ia == pytest.approx(study.loc[(int(net["bus_of_node"][k - 1]), "3ph"), "ia_kA"], rel=1e-5)
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
