# SPDX-License-Identifier: BSD-2-Clause
"""Converts a manifest of pictures with Dask: on this machine (a LocalCluster, no set-up) or on
any running Dask scheduler.

    python3 -m varnic.batch MANIFEST -d OUT [--scheduler tcp://host:8786] [-q 60] [-f]

MANIFEST lists one input a line (NUL-separated with -0; '-' reads standard input). Each output
mirrors its input's path under OUT (relative to --root, the current folder by default), with the
extension of the format written: .cod for pictures, or --format's for .cod inputs decoded. The
manifest is read in chunks as the cluster takes work, so its length is not bounded by memory.

Every output is written atomically, so it is complete or absent. One JSON object a line per input
goes to the results file (OUT/results.jsonl by default), with varnic-cli's --json fields, as
chunks finish. A run resumes from that file: inputs it records as converted are not looked at
again, so a second run of a finished manifest does no work. A chunk whose worker died is run
again (the scheduler retries it; then this module does, up to --retries times); an output an
earlier attempt finished is recognised by its bytes, so nothing is lost or reported twice.
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import sys
import time
from dataclasses import dataclass, field
from typing import Any, Iterable, Iterator, Optional

import numpy as np

import varnic

# Inputs per task: large enough that the scheduler's cost per task (about a millisecond) is small
# against the work, small enough that a dead worker's chunk is cheap to redo.
DEFAULT_CHUNK = 32
# Chunks queued per worker thread beyond the running ones, so that no worker waits for the driver.
IN_FLIGHT_PER_THREAD = 4
# Chunks between two looks at the cluster's thread count (a round trip to the scheduler).
REFRESH_CHUNKS = 256
# Digest bytes that stand for an input path in the memory of a resumed run: 16 bytes a path, and
# an accidental equality of two paths' digests has odds of about 2^-100 for a billion inputs.
DIGEST_BYTES = 16
# The read and write buffer for the manifest.
MANIFEST_BLOCK = 1 << 20

# The fields of varnic-cli's --json lines, in its order; "index" counts the manifest's lines from 1.
RESULT_FIELDS = ("index", "input", "output", "status", "exit", "message", "input_bytes", "output_bytes", "width",
                 "height", "seconds")
# varnic-cli's exit codes, which the "exit" field carries.
EXIT_OK, EXIT_BAD_INPUT, EXIT_CANNOT_WRITE, EXIT_LIMIT = 0, 2, 3, 4


@dataclass
class Settings:
    """What every task needs: the same on each worker."""

    format: str = "cod"                      # the kind written: "cod", or a picture kind for .cod inputs
    force: bool = False                      # replace existing outputs
    skip_existing: bool = False              # leave existing outputs alone, counted as skipped
    max_pixels: Optional[int] = None
    options: dict[str, Any] = field(default_factory=dict)  # encode()'s options


@dataclass
class Summary:
    converted: int = 0
    skipped: int = 0                         # existing outputs left alone (--skip-existing)
    failed: int = 0
    done_before: int = 0                     # recorded as converted by an earlier run
    seconds: float = 0.0


# --- The work on a worker -----------------------------------------------------------------------

def _result(index: int, source: str, target: Optional[str]) -> dict[str, Any]:
    return dict(index=index, input=source, output=target, status="failed", exit=EXIT_BAD_INPUT, message="",
                input_bytes=0, output_bytes=0, width=0, height=0, seconds=0.0)


def _exit_code(error: Exception, writing: bool) -> int:
    if isinstance(error, varnic.LimitExceeded):
        return EXIT_LIMIT
    return EXIT_CANNOT_WRITE if writing else EXIT_BAD_INPUT


def convert(entry: tuple[int, str, str], settings: Settings) -> dict[str, Any]:
    """Converts one input to its output and gives its result line."""
    index, source, target = entry
    start = time.monotonic()
    result = _result(index, source, target)
    writing = False
    try:
        if settings.skip_existing and os.path.exists(target):
            result.update(status="skipped", exit=EXIT_OK)
            return result
        result["input_bytes"] = os.path.getsize(source)
        notices: list[str] = []
        picture = varnic.read(source, max_pixels=settings.max_pixels, notices=notices)
        result["height"], result["width"] = picture.shape[:2]
        data = varnic.file_bytes(picture, settings.format, max_pixels=settings.max_pixels, **settings.options)
        writing = True
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        try:
            varnic.write_file(target, data, overwrite=settings.force)
        except varnic.FileError:
            # An earlier attempt of this chunk, on a worker that died, may have finished it.
            if settings.force or not _holds(target, data):
                raise
        result.update(status="written", exit=EXIT_OK, output_bytes=len(data))
    except (varnic.VarnicError, OSError) as e:
        result.update(exit=_exit_code(e, writing), message=str(e) if isinstance(e, varnic.VarnicError) else
                      "%s: %s" % (e.filename or source, e.strerror or e))
    finally:
        result["seconds"] = round(time.monotonic() - start, 6)
    return result


def _holds(path: str, data: bytes) -> bool:
    try:
        with open(path, "rb") as f:
            return f.read(len(data) + 1) == data
    except OSError:
        return False


def convert_chunk(chunk: list[tuple[int, str, str]], settings: Settings) -> list[dict[str, Any]]:
    return [convert(entry, settings) for entry in chunk]


# --- The manifest and the results on the driver -------------------------------------------------

def read_manifest(path: str, separator: bytes = b"\n") -> Iterator[str]:
    """The manifest's paths one at a time; bytes that are not UTF-8 survive as in os.fsdecode."""
    stream = sys.stdin.buffer if path == "-" else open(path, "rb")
    try:
        rest = b""
        while True:
            block = stream.read(MANIFEST_BLOCK)
            if not block:
                break
            lines = (rest + block).split(separator)
            rest = lines.pop()
            for line in lines:
                if separator == b"\n":
                    line = line.rstrip(b"\r")
                if line:
                    yield os.fsdecode(line)
        if rest:
            yield os.fsdecode(rest.rstrip(b"\r") if separator == b"\n" else rest)
    finally:
        if stream is not sys.stdin.buffer:
            stream.close()


def output_path(source: str, out_dir: str, root: str, fmt: str) -> str:
    """The input's path under out_dir, relative to root, with the written format's extension."""
    relative = os.path.relpath(os.path.abspath(source), os.path.abspath(root))
    if relative == os.pardir or relative.startswith(os.pardir + os.sep):
        raise ValueError("%s is outside the root %s" % (source, root))
    return os.path.join(out_dir, os.path.splitext(relative)[0] + "." + ("pnm" if fmt == "pnm" else fmt))


def _digest(path: str) -> bytes:
    return hashlib.blake2b(os.fsencode(path), digest_size=DIGEST_BYTES).digest()


def done_inputs(results_path: str) -> np.ndarray:
    """Digests of the inputs a results file records as converted (or skipped), sorted."""
    digests: list[bytes] = []
    if os.path.exists(results_path):
        with open(results_path, "rb") as f:
            for line in f:
                try:
                    record = json.loads(line)
                except ValueError:
                    continue  # a line cut short by an interrupted run: its input is done again
                if record.get("status") in ("written", "skipped"):
                    digests.append(_digest(record["input"]))
    return np.unique(np.array(digests, dtype="S%d" % DIGEST_BYTES))


def _is_done(done: np.ndarray, source: str) -> bool:
    if done.size == 0:
        return False
    key = np.array(_digest(source), dtype=done.dtype)
    at = int(np.searchsorted(done, key))
    return at < done.size and done[at] == key


def chunks(sources: Iterable[str], out_dir: str, root: str, settings: Settings, done: np.ndarray, size: int,
           refused: list[dict[str, Any]], summary: Summary) -> Iterator[list[tuple[int, str, str]]]:
    """Chunks of (index, input, output) to convert; inputs done before are counted, inputs that have
    no output path are put in `refused`."""
    chunk: list[tuple[int, str, str]] = []
    for index, source in enumerate(sources, 1):
        if _is_done(done, source):
            summary.done_before += 1
            continue
        try:
            chunk.append((index, source, output_path(source, out_dir, root, settings.format)))
        except ValueError as e:
            refused.append(dict(_result(index, source, None), message=str(e)))
            continue
        if len(chunk) == size:
            yield chunk
            chunk = []
    if chunk:
        yield chunk


def run(manifest: str, out_dir: str, *, scheduler: Optional[str] = None, workers: Optional[int] = None,
        root: str = ".", results: Optional[str] = None, separator: bytes = b"\n", chunk_size: int = DEFAULT_CHUNK,
        retries: int = 3, settings: Optional[Settings] = None, client: Any = None) -> Summary:
    """Converts every input of the manifest; see the module's help. `client` is an existing
    dask.distributed Client; otherwise `scheduler`'s address, or a LocalCluster of `workers`
    processes (one per core by default)."""
    settings = settings or Settings()
    results = results or os.path.join(out_dir, "results.jsonl")
    os.makedirs(os.path.dirname(os.path.abspath(results)), exist_ok=True)
    summary = Summary()
    start = time.monotonic()
    own: list[Any] = []  # what this call started, closed when it ends
    connection: list[Any] = [client]

    def cluster() -> Any:
        """The client, connected when the first chunk needs it: a run with nothing to do starts
        no cluster."""
        if connection[0] is None:
            from dask.distributed import Client, LocalCluster  # only when there is work
            if scheduler:
                connection[0] = Client(scheduler)
            else:
                own.append(LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                        dashboard_address=None))
                connection[0] = Client(own[0])
            own.insert(0, connection[0])
        return connection[0]

    try:
        done = done_inputs(results)
        refused: list[dict[str, Any]] = []
        with open(results, "a", encoding="utf-8", errors="surrogateescape") as out:
            def record(lines: list[dict[str, Any]]) -> None:
                for line in lines:
                    counter = {"written": "converted", "skipped": "skipped"}.get(line["status"], "failed")
                    setattr(summary, counter, getattr(summary, counter) + 1)
                    out.write(json.dumps(line, ensure_ascii=False) + "\n")
                out.flush()

            attempts: dict[Any, tuple[list[tuple[int, str, str]], int]] = {}
            pending: list[Any] = []  # as_completed, made with the client

            def submit(chunk: list[tuple[int, str, str]], attempt: int) -> None:
                future = cluster().submit(convert_chunk, chunk, settings, pure=False)
                attempts[future] = (chunk, attempt)
                if not pending:
                    from dask.distributed import as_completed
                    pending.append(as_completed(loop=cluster().loop))
                pending[0].add(future)

            def collect_one() -> None:
                future = next(pending[0])
                chunk, attempt = attempts.pop(future)
                try:
                    record(future.result())
                except Exception as e:  # the chunk's worker died more often than the scheduler retries
                    if attempt < retries:
                        submit(chunk, attempt + 1)
                    else:
                        record([dict(_result(i, s, t), message="no worker finished it: %s" % e) for i, s, t in chunk])

            in_flight = 0
            for number, chunk in enumerate(chunks(read_manifest(manifest, separator), out_dir, root, settings,
                                                  done, chunk_size, refused, summary)):
                record(refused)
                refused.clear()
                if number % REFRESH_CHUNKS == 0:  # workers come and go
                    in_flight = max(1, sum(cluster().nthreads().values())) * IN_FLIGHT_PER_THREAD
                while len(attempts) >= in_flight:
                    collect_one()
                submit(chunk, 0)
            record(refused)
            while attempts:
                collect_one()
    finally:
        for thing in own:
            thing.close()
    summary.seconds = time.monotonic() - start
    return summary


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m varnic.batch", description=__doc__.split("\n\n")[0])
    parser.add_argument("manifest", help="one input path a line ('-': standard input)")
    parser.add_argument("-d", "--directory", required=True, help="folder of the outputs")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, help="LocalCluster worker processes (default: one per core)")
    parser.add_argument("--root", default=".", help="outputs mirror the inputs' paths relative to this folder")
    parser.add_argument("--json-file", help="results, one JSON object a line (default: DIRECTORY/results.jsonl)")
    parser.add_argument("-0", "--null", action="store_true", help="the manifest's paths are NUL-separated")
    parser.add_argument("--format", default="cod", help="the kind written: cod (default), or for .cod inputs "
                        "bmp, tga, png or pnm")
    parser.add_argument("-q", "--quality", type=int, default=50)
    parser.add_argument("-O", "--optimize", type=int, default=0)
    parser.add_argument("--levels", type=int)
    parser.add_argument("--comment", default="")
    parser.add_argument("--max-pixels", type=int)
    parser.add_argument("-f", "--force", action="store_true", help="replace existing outputs")
    parser.add_argument("--skip-existing", action="store_true", help="leave existing outputs alone")
    parser.add_argument("--chunk", type=int, default=DEFAULT_CHUNK, help="inputs per task")
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args(argv)
    options = {"quality": args.quality, "optimize": args.optimize, "levels": args.levels, "comment": args.comment}
    settings = Settings(args.format, args.force, args.skip_existing, args.max_pixels,
                        options if args.format == "cod" else {})
    summary = run(args.manifest, args.directory, scheduler=args.scheduler, workers=args.workers, root=args.root,
                  results=args.json_file, separator=b"\0" if args.null else b"\n", chunk_size=args.chunk,
                  settings=settings)
    if not args.quiet:
        rate = summary.converted / summary.seconds if summary.seconds > 0 else 0.0
        print("varnic.batch: %d converted, %d skipped, %d failed, %d done before; %.1f s, %.1f pictures/s"
              % (summary.converted, summary.skipped, summary.failed, summary.done_before, summary.seconds, rate),
              file=sys.stderr)
    return 1 if summary.failed else 0


if __name__ == "__main__":
    sys.exit(main())
