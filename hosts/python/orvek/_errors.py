"""Exceptions of the orvek package: library errors, study errors, case errors.

Every error of a native call arrives as one of these; none ends the process.
"""


class Error(Exception):
    """An error of the ORVEK library or of a study.

    routine, type, code and message are those of the first message that
    stopped the call (type 3 WARNING, 4 FATAL, 5 TERMINAL); reports holds every
    message as (routine, type, code, message) tuples, printed the text the
    exported routine would have written, call the native function.
    """

    def __init__(self, message, routine="", type=0, code=0, call="", reports=(), printed="", text=None):
        super().__init__(text or message)
        self.message = message
        self.routine = routine
        self.type = type
        self.code = code
        self.call = call
        self.reports = list(reports)
        self.printed = printed

    def __reduce__(self):
        return (_rebuild, (type(self), self.__dict__, str(self)))


def _rebuild(cls, fields, text):
    err = cls.__new__(cls)
    Exception.__init__(err, text)
    err.__dict__.update(fields)
    return err


class StudyError(Error):
    """A study that cannot be run (a singular sequence network, a node
    without a zero-sequence path, a power flow that did not converge).
    When the library warned, routine/type/code are its first warning's."""

    def __init__(self, message, reports=(), **fields):
        reports = list(reports)
        # The stopping message: the first FATAL or TERMINAL one, else the first.
        stopping = [r for r in reports if r[1] >= 4] or reports or [("study", 4, 0, message)]
        first = stopping[0]
        fields.setdefault("routine", first[0])
        fields.setdefault("type", first[1])
        fields.setdefault("code", first[2])
        super().__init__(message, reports=reports, **fields)


class CaseError(Error, ValueError):
    """A case file that cannot be read or built into a network; the message
    names the file and, where there is one, the line."""

    def __init__(self, message, **fields):
        fields.setdefault("routine", "load_case")
        fields.setdefault("type", 4)
        super().__init__(message, **fields)
