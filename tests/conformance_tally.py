# SPDX-License-Identifier: BSD-2-Clause
"""The report of the conformance scripts: a line a case, a summary line, and the exit status
(failure also when no case ran, so that a wrong data directory cannot pass)."""


class Tally:
    def __init__(self, what):
        self.what = what
        self.passed = 0
        self.failed = 0

    def record(self, name, problems, context=""):
        """`context` (how the case was run) is shown with a failure only."""
        if problems:
            self.failed += 1
            print("FAIL %s%s: %s" % (name, " (%s)" % context if context else "", "; ".join(problems)))
        else:
            self.passed += 1
            print("ok   %s" % name)

    def finish(self):
        print("%s: %d passed, %d failed" % (self.what, self.passed, self.failed))
        return 1 if self.failed or not self.passed else 0
