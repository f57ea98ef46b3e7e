"""Reads the declarations of the public C header and of the Fortran module,
so that tests can hold the Python table, the Fortran interfaces and the
documentation to the header's words. Run as a script, it prints the
markdown argument table of each routine named on the command line."""

import os
import re
import sys

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
HEADER = os.path.join(REPOSITORY, "include", "orvek", "orvek.h")
FORTRAN = os.path.join(REPOSITORY, "hosts", "fortran", "orvek.f90")


class CArgument:
    def __init__(self, name, ctype, const, direction, comment):
        self.name, self.ctype, self.const, self.direction, self.comment = name, ctype, const, direction, comment

    @property
    def shape(self):
        """The leading "NAME(dims)" of the comment, if any, as a list of dims."""
        m = re.match(r"%s\(([^)]*(?:\([^)]*\)[^)]*)*)\)" % re.escape(self.name), self.comment)
        return [d.strip() for d in m.group(1).split(",")] if m else None


class CRoutine:
    def __init__(self, name, summary, arguments):
        self.name, self.summary, self.arguments = name, summary, arguments


def _direction(comment):
    m = re.match(r"\s*(in-out|in|out):\s*(.*)$", comment)
    return (m.group(1), m.group(2).strip()) if m else (None, comment.strip())


def read_header(path=HEADER):
    """Routines of the header in their order, with their arguments."""
    with open(path) as f:
        lines = f.read().split("\n")
    routines = []
    i = 0
    while i < len(lines):
        m = re.match(r"ORVEK_API void ORVEK_CALL (\w+)\(", lines[i])
        if not m:
            i += 1
            continue
        # The comment block just above the declaration is its summary.
        j, block = i - 1, []
        while j >= 0 and lines[j].strip() and not lines[j].strip().startswith("ORVEK_API"):
            block.insert(0, lines[j].strip())
            if lines[j].strip().startswith("/*"):
                break
            j -= 1
        summary = " ".join(" ".join(block).replace("/*", " ").replace("*/", " ").replace(" * ", " ").split())
        arguments, last = [], "in"
        i += 1
        while True:
            code, _, comment = lines[i].partition("/*")
            comment = comment.replace("*/", "").strip()
            for const, ctype, name in re.findall(r"(const\s+)?(float|int32_t)\s*\*\s*(\w+)", code):
                direction, words = _direction(comment)
                if direction is None:  # a continuation: the direction of the line before
                    direction = last
                last = direction
                arguments.append(CArgument(name, ctype, bool(const), direction, words))
            if ");" in code:
                break
            i += 1
        routines.append(CRoutine(m.group(1), summary, arguments))
        i += 1
    return routines


class FArgument:
    def __init__(self, name, ftype, intent, dims):
        self.name, self.ftype, self.intent, self.dims = name, ftype, intent, dims


def read_fortran(path=FORTRAN):
    """Subroutines of the Fortran module: {name: (binding name, [FArgument in order])}."""
    with open(path) as f:
        text = re.sub(r"&\s*\n\s*", " ", f.read())
    result = {}
    for m in re.finditer(r"subroutine (\w+)\(([^)]*)\)\s*bind\(C, name=\"(\w+)\"\)(.*?)end subroutine \1", text, re.S):
        order = [a.strip() for a in m.group(2).split(",")]
        declared = {}
        for line in m.group(4).split("\n"):
            line = line.split("!")[0]
            d = re.match(r"\s*(integer|real)\(c_\w+\), intent\((in|out|inout)\) :: (.*)$", line)
            if not d:
                continue
            for entity in re.findall(r"(\w+)(?:\(([^()]*(?:\([^()]*\)[^()]*)*)\))?", d.group(3)):
                declared[entity[0]] = FArgument(entity[0], d.group(1), d.group(2),
                                                [x.strip() for x in entity[1].split(",")] if entity[1] else [])
        result[m.group(1)] = (m.group(3), [declared.get(a) or FArgument(a, None, None, []) for a in order])
    return result


def c_type(argument):
    return ("const " if argument.const else "") + argument.ctype + " *"


def markdown_table(routine):
    """The argument table of one routine, in the header's words."""
    lines = ["| # | Argument | C type | Direction | Meaning (header) |", "|---|---|---|---|---|"]
    for i, a in enumerate(routine.arguments, 1):
        lines.append("| %d | `%s` | `%s` | %s | %s |" % (i, a.name, c_type(a), a.direction, a.comment or ""))
    return "\n".join(lines)


if __name__ == "__main__":
    routines = {r.name: r for r in read_header()}
    for name in sys.argv[1:]:
        print("%s\n\n%s\n" % (routines[name].summary, markdown_table(routines[name])))
