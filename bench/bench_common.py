"""What the Python benchmarks share: the generated input file and best-of timing."""

import argparse
import gc
import pathlib
import subprocess
import sys
import timeit

HERE = pathlib.Path(__file__).resolve().parent


def sample_file(size_mb):
    """The generated UTF-8 file of about `size_mb` MiB, written once into /tmp/lignor-bench."""
    path = pathlib.Path("/tmp/lignor-bench") / f"document-utf8-{size_mb:g}mb.ged"
    if not path.exists():
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(
            [
                sys.executable,
                str(HERE / "generate_gedcom.py"),
                "--size-mb",
                str(size_mb),
                "--encoding",
                "utf8",
                "--output",
                str(path),
            ],
            check=True,
        )
    return path


def input_arguments(description, repeat):
    """The options every benchmark over one GEDCOM file takes (--size-mb,
    --file, --repeat with `repeat` as its default), parsed, and the file's
    path and bytes: (args, path, data)."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--size-mb", type=float, default=50)
    parser.add_argument("--file", type=pathlib.Path)
    parser.add_argument("--repeat", type=int, default=repeat)
    args = parser.parse_args()
    path = args.file or sample_file(args.size_mb)
    return args, path, path.read_bytes()


def best_seconds(make, repeat, timer=timeit.default_timer):
    """Best time of `make()`; its result is freed outside the timing.
    `timer=time.process_time` counts this process's CPU time only, which a
    busy machine disturbs less than wall time."""
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        start = timer()
        result = make()
        best = min(best, timer() - start)
        del result
    return best
