"""Shared fixtures of the compiled module's tests: the shared cases
($ORVEK_CASES or ../shared/cases beside the repository; tests skip when
absent) and the study program ($ORVEK_STUDY_PROGRAM) whose numbers the
studies must reproduce."""

import os
import subprocess

import pytest

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))))


def case_path(name):
    folder = os.environ.get("ORVEK_CASES") or os.path.join(REPOSITORY, "..", "shared", "cases")
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        pytest.skip("no shared case %s (set ORVEK_CASES)" % name)
    return path


def run_study(args):
    """Standard output of orvek-study with args (skips without the program)."""
    program = os.environ.get("ORVEK_STUDY_PROGRAM")
    if not program or not os.path.exists(program):
        pytest.skip("orvek-study not given (ORVEK_STUDY_PROGRAM)")
    done = subprocess.run([program] + args, capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        if "takes at most" in done.stderr:
            pytest.skip("the command line refuses the case: " + done.stderr.strip())
        if "needs --table NAME" in done.stderr:
            pytest.skip("orvek-study writes the study engine's tables; the module still drives the earlier study")
        raise AssertionError("orvek-study %s failed: %s" % (" ".join(args), done.stderr))
    return done.stdout


def csv_records(text):
    """The command line's CSV as {record kind: [row cells, ...]}. A command
    line that writes the study engine's tables instead (one table per file)
    is compared once this module forwards to that engine: skip until then."""
    records = {}
    for line in text.splitlines():
        cells = line.split(",")
        records.setdefault(cells[0], []).append(cells[1:])
    if "record" not in records:
        pytest.skip("orvek-study writes the study engine's tables; the module still drives the earlier study")
    return records


def full(value):
    """The command line's number format."""
    return "%.9g" % value
