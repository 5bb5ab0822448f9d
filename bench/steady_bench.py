#!/usr/bin/python3
"""A script's parses in fresh interpreters: user and kernel time apart.

    /usr/bin/python3 bench/steady_bench.py [--runs 7] [--size-mb 50] [--file PATH]
        --module build/python [--module other-build/python]

As a genealogist's script runs: each run starts a new interpreter that
imports `lignor` from the folder given by --module, reads the file and then

  parse     parses it (the first parse of the process)
  to_bytes  writes the document back
  free      calls individuals(), then frees the views and the document
  reparse   parses the same bytes again (the second parse of the process)

Each step is timed apart in user time, kernel time (page faults, memory
handed out and back) and wall time, with the minor page faults it took and,
for the parses, the peak resident memory it added (the process's peak reset
before the step) per byte of the file, the file's own bytes not counted.
With two or more --module folders the runs alternate between them, so that
a change in the machine's load falls on each alike. Prints per step and
module the median of every figure, the most kernel time a run took and the
spread of wall times: a step with a fast and a slow mode shows it there (on
a busy machine wall times spread anyway; kernel time does not). Two lines of
/proc/vmstat summed over each module's runs (transparent huge pages
allocated, direct compaction stalls; other processes' included) say whether
kernel time went to making huge pages.
"""

import argparse
import pathlib
import statistics
import subprocess
import sys

from bench_common import sample_file

CHILD = """
import resource, sys, time
sys.path.insert(0, sys.argv[1])
import lignor
data = open(sys.argv[2], "rb").read()

def resident(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1]) * 1024

def reset_peak():
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")

def step(name, body):
    reset_peak()
    before = resident("VmRSS:")
    usage, wall = resource.getrusage(resource.RUSAGE_SELF), time.perf_counter()
    result = body()
    wall = time.perf_counter() - wall
    after = resource.getrusage(resource.RUSAGE_SELF)
    peak = (resident("VmHWM:") - before) / len(data)
    print(name, after.ru_utime - usage.ru_utime, after.ru_stime - usage.ru_stime, wall,
          after.ru_minflt - usage.ru_minflt, peak)
    return result

document = step("parse", lambda: lignor.Gedcom.parse(data))
step("to_bytes", document.to_bytes)
views = document.individuals()
def free():
    global document, views
    del document, views
step("free", free)
step("reparse", lambda: lignor.Gedcom.parse(data))
"""

STEPS = ("parse", "to_bytes", "free", "reparse")
VMSTAT = ("thp_fault_alloc", "compact_stall")


def vmstat():
    """The counters of VMSTAT now (absent ones as 0)."""
    counts = dict.fromkeys(VMSTAT, 0)
    with open("/proc/vmstat") as lines:
        for line in lines:
            name, value = line.split()
            if name in counts:
                counts[name] = int(value)
    return counts


def one_run(module, path):
    """{step: (user, sys, wall, faults, peak)} of one fresh interpreter, and
    the vmstat counters it moved (other processes' included)."""
    before = vmstat()
    out = subprocess.run(
        [sys.executable, "-c", CHILD, str(module), str(path)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    after = vmstat()
    figures = {}
    for line in out.splitlines():
        name, *values = line.split()
        figures[name] = tuple(map(float, values))
    return figures, {name: after[name] - before[name] for name in VMSTAT}


def report(module, runs, counters):
    print(f"{module}: {len(runs)} runs, " + ", ".join(f"{k} {v}" for k, v in counters.items()))
    print(
        f"  {'step':<9}{'user':>7}{'sys':>7}{'max':>7}{'wall':>7}{'min-max':>13}"
        f"{'faults':>8}{'peak':>7}"
    )
    for name in STEPS:
        rows = [run[name] for run in runs]
        user, system, wall, faults, peak = (statistics.median(column) for column in zip(*rows))
        most_system = max(row[1] for row in rows)
        walls = [row[2] for row in rows]
        peak_text = f"{peak:6.2f}x" if name.endswith("parse") else ""
        print(
            f"  {name:<9}{user:7.3f}{system:7.3f}{most_system:7.3f}{wall:7.3f}"
            f"{min(walls):7.3f}-{max(walls):.3f}{faults:8.0f}{peak_text:>7}"
        )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--module", action="append", type=pathlib.Path, required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--size-mb", type=float, default=50)
    parser.add_argument("--file", type=pathlib.Path)
    args = parser.parse_args()
    path = args.file or sample_file(args.size_mb)
    runs = {module: [] for module in args.module}
    counters = {module: dict.fromkeys(VMSTAT, 0) for module in args.module}
    for _ in range(args.runs):
        for module in args.module:
            figures, moved = one_run(module, path)
            runs[module].append(figures)
            for name, count in moved.items():
                counters[module][name] += count
    print(f"{path.name}: {path.stat().st_size:,} bytes; medians in seconds, peak per byte")
    for module in args.module:
        report(module, runs[module], counters[module])


if __name__ == "__main__":
    main()
