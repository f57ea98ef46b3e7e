"""Every error arrives as a Python exception naming what went wrong; none
ends the process."""

import pickle

import numpy as np
import pytest
import scipy.sparse

import orvek
from orvek import _native

# Branch 2 (status %s) joins buses 3 and 4 to the source at bus 1.
TWO_BUSES = """function mpc = two
mpc.baseMVA = 100;
mpc.bus = [
 1 3 0 0 0 0 1 1 0 132 1 1.1 0.9;
 2 1 10 5 0 0 1 1 0 132 1 1.1 0.9;
 3 1 10 5 0 0 1 1 0 132 1 1.1 0.9;
 4 1 10 5 0 0 1 1 0 132 1 1.1 0.9;
];
mpc.gen = [ 1 0 0 100 -100 1 100 1 200 0 ];
mpc.branch = [
 1 2 0.01 0.1 0 0 0 0 0 0 1 -360 360;
 2 3 0.01 0.1 0 0 0 0 0 0 %s -360 360;
 3 4 0.01 0.1 0 0 0 0 0 0 1 -360 360;
];
"""

SINGULAR = scipy.sparse.csr_matrix(np.array([[1, 2], [2, 4]], dtype=np.complex64))

# (call, exception, words the message must contain)
BAD_ARGUMENTS = [
    (lambda: orvek.solve(orvek.factor(np.eye(3)), np.ones(4)), ValueError, ["b", "holds 4", "3"]),
    (lambda: orvek.solve(orvek.factor(np.eye(3)), np.ones(3, dtype=complex)), TypeError, ["b", "real"]),
    (lambda: orvek.solve(orvek.factor(np.eye(3)), np.ones((3, 1))), ValueError, ["b", "one-dimensional"]),
    (lambda: orvek.solve("factors", np.ones(3)), TypeError, ["factors"]),
    (lambda: orvek.factor(np.ones((2, 3))), ValueError, ["a", "square"]),
    (lambda: orvek.factor(np.array([["a"]])), TypeError, ["a", "numeric"]),
    (lambda: orvek.fault("3ph", 0, [1.0], [1.0], [1j], [1j], [1j]), ValueError, ["k = 0", "n = 1"]),
    (lambda: orvek.fault("3ph", 2, [1.0], [1.0], [1j], [1j], [1j]), ValueError, ["k = 2"]),
    (lambda: orvek.fault("xx", 1, [1.0], [1.0], [1j], [1j], [1j]), ValueError, ["fault_type", "xx"]),
    (lambda: orvek.fault(9, 1, [1.0], [1.0], [1j], [1j], [1j]), ValueError, ["fault_type = 9"]),
    (lambda: orvek.fault(1, 1, [1.0], [1.0], [1j, 2j], [1j], [1j]), ValueError, ["z0", "holds 2"]),
    (lambda: orvek.fault(1, 1, [1.0], ["x"], [1j], [1j], [1j]), TypeError, ["e", "numeric"]),
    (lambda: orvek.assemble_admittance(2, [1], [3], [1j], [0], [0]), ValueError, ["to[0] = 3", "n = 2"]),
    (lambda: orvek.assemble_admittance(2, [1, 2], [2], [1j], [0], [0]), ValueError, ["to", "holds 1"]),
    (lambda: orvek.assemble_admittance(0, [], [], [], [], []), ValueError, ["n = 0"]),
    (lambda: orvek.assemble_admittance(2.5, [1], [2], [1j], [0], [0]), TypeError, ["n must be an integer"]),
    (lambda: orvek.fault_study(1, None, None, None, [1.0], [1.0]), TypeError, ["zero"]),
    (lambda: orvek.fault_detail(orvek.parse_case(TWO_BUSES % 1), 9), ValueError, ["bus 9"]),
    (lambda: orvek.fault_levels(orvek.parse_case(TWO_BUSES % 1), faults="3ph,zz"), ValueError, ["faults", "zz"]),
    (lambda: orvek.power_flow(orvek.parse_case(TWO_BUSES % 1), tol=-1), ValueError, ["tol"]),
    (lambda: orvek.power_flow(orvek.parse_case(TWO_BUSES % 1), max_iter="9"), TypeError, ["max_iter"]),
    (lambda: orvek.fault_levels(orvek.parse_case(TWO_BUSES % 1), xfmr0="x"), ValueError, ["xfmr0"]),
    (lambda: orvek.power_flow(42), TypeError, ["case"]),
    (lambda: orvek.parse_case(TWO_BUSES % 1).without_branches([4]), ValueError, ["branches[0] = 4"]),
    (lambda: orvek.contingency_fault_levels(orvek.parse_case(TWO_BUSES % 1), outages=[5]), ValueError,
     ["outages[0] = 5"]),
    (lambda: orvek.contingency_fault_levels(orvek.parse_case(TWO_BUSES % 0), outages=[2]), ValueError,
     ["out of service"]),
    (lambda: orvek.solve(orvek.factor(np.eye(2)), np.ones(2), ws="mine"), TypeError, ["ws"]),
]


@pytest.mark.parametrize("index", range(len(BAD_ARGUMENTS)))
def test_bad_arguments_name_the_argument(index):
    call, kind, words = BAD_ARGUMENTS[index]
    with pytest.raises(kind) as caught:
        call()
    for word in words:
        assert word in str(caught.value)


def test_library_errors_carry_routine_type_code_and_message():
    # The native checks behind the Python ones (called without them).
    with pytest.raises(orvek.Error) as caught:
        _native.fault(1, 5, np.ones(2, np.float32), np.ones(2, np.complex64), np.ones(2, np.complex64),
                      np.ones(2, np.complex64), np.ones(2, np.complex64))
    e = caught.value
    assert (e.routine, e.type, e.code, e.message) == ("Fault", 5, 3, "K = 5 must lie between 1 and N = 2.")
    assert e.call == "Fault" and e.reports[0] == ("Fault", 5, 3, e.message)
    copy = pickle.loads(pickle.dumps(e))      # errors travel from Dask workers
    assert (copy.routine, copy.code, str(copy)) == (e.routine, e.code, str(e))


def test_a_singular_matrix_is_an_error_of_the_factorization():
    with pytest.raises(orvek.Error) as caught:
        orvek.factor(SINGULAR)
    e = caught.value
    assert (e.call, e.routine, e.type, e.code) == ("Factor", "L5TZG", 5, 23)
    assert e.message.startswith("Factorization stopped after 2 rows")


def test_a_disconnected_network_is_refused_with_the_command_lines_message():
    case = orvek.parse_case(TWO_BUSES % 0, "two.m")  # buses 3 and 4 cut off
    for study in (lambda: orvek.fault_levels(case, flat=True), lambda: orvek.power_flow(case)):
        with pytest.raises(orvek.StudyError) as caught:
            study()
        assert caught.value.message == ("two.m: bus 3 is not connected to the reference bus 1 by branches in "
                                        "service (an island without a reference bus)")


def test_a_power_flow_that_does_not_converge_stops_the_fault_study():
    case = orvek.parse_case(TWO_BUSES % 1)
    assert not orvek.power_flow(case, max_iter=1, tol=1e-12).converged
    with pytest.raises(orvek.StudyError, match="did not converge in 1 iterations"):
        orvek.fault_levels(case, max_iter=1, tol=1e-12)


def test_case_errors_name_the_file_and_line(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(orvek.CaseError, match="^missing.m: cannot open the case file$"):
        orvek.load_case("missing.m")
    with pytest.raises(orvek.CaseError, match=r"bad.m:4: ") as caught:
        orvek.parse_case(TWO_BUSES.replace(" 1 3 0 0", " 1 3 x 0") % 1, "bad.m")
    assert isinstance(caught.value, ValueError) and caught.value.routine == "load_case"


def test_a_workspace_serves_one_call_at_a_time():
    ws = orvek.Workspace()
    f = orvek.factor(np.eye(3), ws=ws)
    assert np.array_equal(orvek.solve(f, np.arange(3.0), ws=ws), np.arange(3.0, dtype=np.float32))
