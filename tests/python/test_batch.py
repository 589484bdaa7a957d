# SPDX-License-Identifier: BSD-2-Clause
"""varnic.batch on a LocalCluster of two worker processes: 2,000 small pictures with varnic-cli's
bytes, a worker killed halfway losing and duplicating nothing, and a second run doing no work."""
import json
import os
import signal
import subprocess
import threading
import time

import numpy as np
import pytest
from dask.distributed import Client, LocalCluster

import varnic
from varnic import batch

CLI = os.environ["VARNIC_CLI"]
COUNT = 2000


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as c:
            yield c


@pytest.fixture(scope="module")
def collection(tmp_path_factory):
    """COUNT pictures in 20 folders, grey and colour, unique names (varnic-cli's -d is flat), and
    their .cod files made by varnic-cli."""
    root = tmp_path_factory.mktemp("in")
    rng = np.random.default_rng(1)
    paths = []
    for k in range(COUNT):
        shape = (int(rng.integers(24, 64)), int(rng.integers(24, 64))) + ((3,) if k % 3 else ())
        smooth = np.cumsum(rng.integers(0, 9, size=shape), axis=1) % 256
        path = root / ("d%02d" % (k % 20)) / ("p%04d.bmp" % k)
        path.parent.mkdir(exist_ok=True)
        varnic.write(path, smooth.astype(np.uint8))
        paths.append(str(path))
    manifest = root / "manifest.txt"
    manifest.write_text("".join(p + "\n" for p in paths))
    expected = tmp_path_factory.mktemp("cli")
    run = subprocess.run([CLI, "compress", *paths, "-d", str(expected), "-q", "60", "-j", "2", "--quiet"])
    assert run.returncode == 0
    return root, manifest, paths, expected


def results_of(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


def test_converts_with_the_cli_bytes_survives_a_killed_worker_and_resumes(client, collection, tmp_path):
    root, manifest, paths, expected = collection
    out = tmp_path / "out"
    results = out / "results.jsonl"
    settings = batch.Settings(options={"quality": 60})
    done = {}

    def convert():
        done["summary"] = batch.run(str(manifest), str(out), root=str(root), settings=settings, client=client)
    worker = threading.Thread(target=convert)
    worker.start()
    pids = client.run(os.getpid)
    killed = False
    while worker.is_alive() and not killed:
        if results.exists() and COUNT // 5 < sum(1 for _ in open(results)) < COUNT // 2:
            os.kill(next(iter(pids.values())), signal.SIGKILL)
            killed = True
        time.sleep(0.005)
    worker.join()
    assert killed, "the run ended before a worker could be killed halfway"

    summary = done["summary"]
    assert (summary.converted, summary.failed) == (COUNT, 0)
    lines = results_of(results)
    assert sorted(line["input"] for line in lines) == sorted(paths)  # each input once
    assert all(line["status"] == "written" and line["output_bytes"] > 0 for line in lines)
    written = sorted(str(p) for p in out.rglob("*") if p.is_file() and p != results)
    assert written == sorted(line["output"] for line in lines)  # no temporary file left
    for line in lines:
        with open(line["output"], "rb") as mine, open(expected / (os.path.basename(line["input"])[:-4] + ".cod"), "rb") as cli:
            assert mine.read() == cli.read(), line["input"]
        assert line["output"] == os.path.join(str(out), os.path.relpath(line["input"], str(root)))[:-4] + ".cod"

    # A second run finds everything done: no task, no line, no file touched.
    stamps = {p: os.stat(p).st_mtime_ns for p in written}
    again = batch.run(str(manifest), str(out), root=str(root), settings=settings, client=client)
    assert (again.converted, again.done_before) == (0, COUNT)
    assert len(results_of(results)) == COUNT
    assert stamps == {p: os.stat(p).st_mtime_ns for p in written}


def test_failures_are_results_and_are_retried_by_a_rerun(client, collection, tmp_path):
    root, _, paths, _ = collection
    bad = root / "bad.bmp"
    bad.write_bytes(b"BM not a bitmap")
    manifest = tmp_path / "manifest"
    manifest.write_bytes(b"\0".join(p.encode() for p in (paths[0], str(bad), "/elsewhere/x.bmp")))
    out = tmp_path / "out"
    summary = batch.run(str(manifest), str(out), root=str(root), separator=b"\0", client=client)
    assert (summary.converted, summary.failed) == (1, 2)
    lines = {line["input"]: line for line in results_of(out / "results.jsonl")}
    with pytest.raises(varnic.VarnicError) as error:
        varnic.read(str(bad))
    assert lines[str(bad)]["status"] == "failed" and lines[str(bad)]["message"] == str(error.value)
    # The same fields, statuses and exit codes as varnic-cli's --json lines.
    (tmp_path / "cli").mkdir()
    cli = subprocess.run([CLI, "compress", paths[0], str(bad), "-d", str(tmp_path / "cli"), "--json", "--quiet"],
                         capture_output=True, text=True)
    cli_lines = {line["input"]: line for line in map(json.loads, cli.stdout.splitlines())}
    for source in (paths[0], str(bad)):
        assert list(cli_lines[source]) == list(lines[source])
        assert [cli_lines[source][k] for k in ("index", "status", "exit")] == \
            [lines[source][k] for k in ("index", "status", "exit")]
    assert "outside the root" in lines["/elsewhere/x.bmp"]["message"]
    # Only the failed inputs are tried again.
    again = batch.run(str(manifest), str(out), root=str(root), separator=b"\0", client=client)
    assert (again.done_before, again.failed) == (1, 2)
