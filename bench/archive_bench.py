"""Archive benchmarks against the built module.

Usage: PYTHONPATH=build-release/python python3 bench/archive_bench.py [--size-mb 200] [--folder DIR]

Each case runs in a fresh interpreter so that its peak resident memory
(VmHWM) is its own; the baseline is an interpreter that imports lignor and
does nothing else. Rates are per second of wall time.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time


def peak_rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM in /proc/self/status")


def make_source(path, size):
    """A deterministic GEDCOM-like file of exactly `size` bytes, written in 1 MiB pieces."""
    block = b"".join(
        b"0 @I%d@ INDI\n1 NAME Person%d /Family%d/\n1 BIRT\n2 DATE %d MAR 18%02d\n"
        % (i, i * 7 % 1000, i % 97, i % 28 + 1, i % 100)
        for i in range(20000)
    )
    block = (block * (1 + (1 << 20) // len(block)))[: 1 << 20]
    with open(path, "wb") as out:
        left = size
        while left:
            piece = block[: min(left, len(block))]
            out.write(piece)
            left -= len(piece)


def case_baseline(args):
    return {}


def case_add_file(args):
    import lignor

    target = os.path.join(args.folder, "add_file.gdz")
    writer = lignor.ArchiveFileWriter(target)
    start = time.perf_counter()
    writer.add_file(args.name, args.source)
    if args.name != "gedcom.ged":
        writer.add("gedcom.ged", b"")  # every archive holds its dataset
    size = writer.finish()
    seconds = time.perf_counter() - start
    source_mb = os.path.getsize(args.source) / 1e6
    os.remove(target)
    return {
        "MB/s": round(source_mb / seconds, 1),
        "seconds": round(seconds, 3),
        "archive MB": round(size / 1e6, 1),
    }


def case_small_adds(args):
    import lignor

    payload = b"0 @N1@ NOTE a short note of about eighty bytes, text that deflates a little\n"
    names = [f"notes/{i:06d}.txt" for i in range(args.count)]
    writer = lignor.ArchiveWriter.new()
    start = time.perf_counter()
    for name in names:
        writer.add(name, payload)
    writer.add("gedcom.ged", payload)
    data = writer.finish()
    seconds = time.perf_counter() - start
    return {"entries/s": round(args.count / seconds), "archive MB": round(len(data) / 1e6, 1)}


def case_total_size(args):
    import lignor

    writer = lignor.ArchiveWriter.new()
    for i in range(args.count):
        writer.add(f"media/{i:06d}.jpg", b"j")
    writer.add("gedcom.ged", b"")
    data = writer.finish()
    rounds = 20
    start = time.perf_counter()
    for _ in range(rounds):
        total = lignor.archive_total_size(data)
    seconds = (time.perf_counter() - start) / rounds
    assert total == args.count
    return {"ms per call": round(seconds * 1000, 2), "entries/s": round(args.count / seconds)}


CASES = {
    "baseline": case_baseline,
    "add_file": case_add_file,
    "small_adds": case_small_adds,
    "total_size": case_total_size,
}


def run_case(case, **options):
    command = [sys.executable, __file__, "--case", case]
    for key, value in options.items():
        command += [f"--{key.replace('_', '-')}", str(value)]
    result = subprocess.run(command, capture_output=True, text=True, check=True)
    return json.loads(result.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--folder", default=None)
    parser.add_argument("--case", choices=sorted(CASES))
    parser.add_argument("--name", default="gedcom.ged")
    parser.add_argument("--source", default=None)
    parser.add_argument("--count", type=int, default=100_000)
    args = parser.parse_args()
    if args.case:
        result = CASES[args.case](args)
        result["peak RSS KiB"] = peak_rss_kib()
        print(json.dumps(result))
        return 0

    with tempfile.TemporaryDirectory(prefix="lignor-archive-bench-", dir=args.folder) as folder:
        baseline = run_case("baseline")["peak RSS KiB"]
        print(f"interpreter + lignor baseline: {baseline / 1024:.1f} MiB peak RSS")
        for size_mb in sorted({20, args.size_mb}):
            source = os.path.join(folder, f"source-{size_mb}.bin")
            make_source(source, size_mb * 1_000_000)
            for name in ("gedcom.ged", "media/photo.jpg"):
                result = run_case("add_file", folder=folder, name=name, source=source)
                over = (result.pop("peak RSS KiB") - baseline) / 1024
                print(
                    f"add_file {size_mb} MB as {name:<16} {result}  peak RSS +{over:.1f} MiB over baseline"
                )
            os.remove(source)
        result = run_case("small_adds", count=args.count)
        print(f"add of {args.count:,} small entries: {result}")
        result = run_case("total_size", count=args.count)
        print(f"archive_total_size on {args.count:,} entries: {result}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
