#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""Runs `varnic-cli compress` with the options of every case in the conformance manifest and
checks the result byte for byte (and against the manifest's SHA-256); refused cases must exit
with status 2 and write nothing. Options after the data directory are added to every case (the
optimizer's level 0 must be the classic encoder byte for byte)."""
import hashlib
import json
import os
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from conformance_tally import Tally  # noqa: E402


def main():
    tool, data, extra = sys.argv[1], sys.argv[2], sys.argv[3:]
    with open(os.path.join(data, "manifest.json")) as f:
        cases = json.load(f)["cases"]
    tally = Tally("conformance")
    with tempfile.TemporaryDirectory() as scratch:
        for case in cases:
            if "options" not in case:  # rewritten from another case, not made by the encoder
                continue
            name = case["case"]
            out = os.path.join(scratch, name + ".cod")
            cmd = [tool, "compress", os.path.join(data, "pics", case["picture"]), "-o", out, "--quiet"]
            cmd += shlex.split(case["options"]) + extra
            run = subprocess.run(cmd, capture_output=True, text=True)
            problems = []
            if case.get("refused"):
                if run.returncode != 2:
                    problems.append("exit status %d, expected 2" % run.returncode)
                if os.path.exists(out):
                    problems.append("an output was written")
                if not run.stderr.strip():
                    problems.append("no message on stderr")
            elif run.returncode != 0:
                problems.append("exit status %d: %s" % (run.returncode, run.stderr.strip()))
            else:
                with open(out, "rb") as f:
                    got = f.read()
                with open(os.path.join(data, "cod", name + ".cod"), "rb") as f:
                    expected = f.read()
                if len(got) != case["cod_bytes"]:
                    problems.append("%d bytes, expected %d" % (len(got), case["cod_bytes"]))
                if hashlib.sha256(got).hexdigest() != case["cod_sha256"]:
                    problems.append("SHA-256 differs from the manifest")
                if got != expected:
                    first = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
                    problems.append("first differing byte at offset %d" % first)
            tally.record(name, problems, " ".join(cmd[2:]))
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
