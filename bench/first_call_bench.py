#!/usr/bin/python3
"""The first call of a reading method in a fresh interpreter, beside the parse before it.

    /usr/bin/python3 bench/first_call_bench.py [--runs 7] [--method individuals ...]
        --module build/python [--module other-build/python] FILE [FILE ...]

As a user's script runs it: each run starts a new interpreter that imports
`lignor` from the folder given by --module, reads the file, parses it and
calls the method once. Both are timed in CPU time of the process (page
faults included), which a busy machine disturbs less than wall time. Prints
per file, method and module the median parse, the median first call and the
median of the per-run ratios call / parse. With two or more --module folders
the runs alternate between them, so that a change in the machine's load
falls on each alike.
"""

import argparse
import pathlib
import statistics
import subprocess
import sys

CHILD = """
import sys, time
sys.path.insert(0, sys.argv[1])
import lignor
data = open(sys.argv[2], "rb").read()
start = time.process_time()
g = lignor.Gedcom.parse(data)
parsed = time.process_time()
result = getattr(g, sys.argv[3])()
called = time.process_time()
print(parsed - start, called - parsed)
"""


def one_run(module, path, method):
    """(parse seconds, first call seconds) in a fresh interpreter."""
    out = subprocess.run(
        [sys.executable, "-c", CHILD, str(module), str(path), method],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    parse, call = map(float, out.split())
    return parse, call


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+", type=pathlib.Path)
    parser.add_argument("--module", action="append", type=pathlib.Path, required=True)
    parser.add_argument("--method", action="append")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    methods = args.method or ["individuals", "families", "records"]
    for path in args.files:
        for method in methods:
            runs = {module: [] for module in args.module}
            for _ in range(args.runs):
                for module in args.module:
                    runs[module].append(one_run(module, path, method))
            for module, timings in runs.items():
                parse = statistics.median(p for p, _ in timings)
                call = statistics.median(c for _, c in timings)
                ratio = statistics.median(c / p for p, c in timings)
                print(
                    f"{path.name:>28} {method:>12} {str(module):>24}: parse {parse * 1000:8.1f} ms"
                    f"  call {call * 1000:8.1f} ms  call/parse {ratio:5.2f}x",
                    flush=True,
                )


if __name__ == "__main__":
    main()
