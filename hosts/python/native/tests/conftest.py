"""Shared fixtures of the compiled module's tests: the shared cases
($ORVEK_CASES or ../shared/cases beside the repository; tests skip when
absent) and the study program ($ORVEK_STUDY_PROGRAM) whose numbers the
studies must reproduce."""

import os
import subprocess

import numpy as np
import pandas as pd
import pytest

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))))


def case_path(name):
    folder = os.environ.get("ORVEK_CASES") or os.path.join(REPOSITORY, "..", "shared", "cases")
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        pytest.skip("no shared case %s (set ORVEK_CASES)" % name)
    return path


def run_study(args, folder):
    """The tables orvek-study writes with args into folder as CSV files
    (--format csv --output folder), by name; skips without the program."""
    program = os.environ.get("ORVEK_STUDY_PROGRAM")
    if not program or not os.path.exists(program):
        pytest.skip("orvek-study not given (ORVEK_STUDY_PROGRAM)")
    done = subprocess.run([program] + args + ["--format", "csv", "--output", str(folder), "--quiet"],
                          capture_output=True, text=True, timeout=600)
    if done.returncode not in (0, 2):
        raise AssertionError("orvek-study %s failed: %s" % (" ".join(args), done.stderr))
    return {name[:-4]: pd.read_csv(os.path.join(folder, name), float_precision="round_trip", keep_default_na=False,
                                   na_values=[""])
            for name in os.listdir(folder) if name.endswith(".csv")}


def assert_same_table(ours, cli):
    """A DataFrame of the module (its index as leading columns) equals the
    command line's CSV table: the same columns, integers and texts equal,
    reals bit for bit (the CSV holds the shortest text of each double)."""
    ours = ours.reset_index() if any(n is not None for n in ours.index.names) else ours
    assert list(ours.columns) == list(cli.columns)
    assert len(ours) == len(cli)
    for column in cli.columns:
        a, b = ours[column], cli[column]
        numeric = [pd.api.types.is_numeric_dtype(x) and not pd.api.types.is_bool_dtype(x) for x in (a, b)]
        if all(numeric):
            np.testing.assert_array_equal(a.to_numpy(dtype=float), b.to_numpy(), err_msg=column)
        else:
            left = [str(v).lower() if v is not None and v == v else "" for v in a.tolist()]
            right = [str(v).lower() if v == v else "" for v in b.tolist()]
            assert left == right, column
