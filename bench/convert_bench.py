#!/usr/bin/python3
"""Cost of converting between GEDCOM versions, against parse, from Python.

    PYTHONPATH=build/python /usr/bin/python3 bench/convert_bench.py [--size-mb 50] [--file PATH]

Generates (once, deterministically) a UTF-8 GEDCOM 5.5.1 file of about
--size-mb MiB with generate_gedcom.py unless --file names one, converts it
to 7.0 once, then times, best of --repeat runs, in CPU time of this process
(which a busy machine disturbs less than wall time):

  parse          lignor.Gedcom.parse(data) of the original bytes
  to_version7    document.to_version7() of the parsed original
  to_version551  to_version551() of the 7.0 conversion

each with the notes' arrival as Python objects, and prints each with its
ratio to parse (the aim for both conversions: at most 2). Then, on the 7.0
conversion written as bytes:

  parse 7.0       lignor.Gedcom.parse of those bytes
  check_version7  check_version7() of the parsed 7.0 document, its problems
                  as Python objects

with the check's ratio to that parse (the aim: at most 1). Then, in a fresh
interpreter, measures the peak resident memory a parse adds and what one
conversion to 7.0 adds on top of it while both documents and the notes are
alive (the aim: no more than the parse).
"""

import subprocess
import sys
import time

import lignor
from bench_common import best_seconds, input_arguments

MIB = 1024 * 1024

# Run in a child so that earlier timing runs do not raise its peak.
MEMORY_PROBE = """
import sys, lignor
def peak():  # VmHWM starts afresh at exec, where ru_maxrss keeps the parent's
    with open("/proc/self/status") as status:
        line = next(line for line in status if line.startswith("VmHWM:"))
    return int(line.split()[1]) * 1024
data = open(sys.argv[1], "rb").read()
before = peak()
document = lignor.Gedcom.parse(data)
parsed = peak()
converted, notes = document.to_version7()
print(parsed - before, peak() - parsed, len(notes))
"""


def memory(path):
    out = subprocess.run(
        [sys.executable, "-c", MEMORY_PROBE, str(path)], check=True, capture_output=True, text=True
    ).stdout.split()
    return [int(value) for value in out]


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=3)
    mib = len(data) / MIB
    document = lignor.Gedcom.parse(data)
    version7, notes7 = document.to_version7()
    notes551 = version7.to_version551()[1]
    print(
        f"{path}: {mib:.1f} MiB, {len(document):,} records, "
        f"{len(notes7):,} notes to 7.0, {len(notes551):,} notes back to 5.5.1"
    )
    del notes7, notes551

    timings = {
        "parse": best_seconds(lambda: lignor.Gedcom.parse(data), args.repeat, time.process_time),
        "to_version7": best_seconds(document.to_version7, args.repeat, time.process_time),
        "to_version551": best_seconds(version7.to_version551, args.repeat, time.process_time),
    }
    for name, seconds in timings.items():
        ratio = seconds / timings["parse"]
        verdict = (
            "" if name == "parse" else f" ({'within' if ratio <= 2 else 'OVER'} the 2x budget)"
        )
        print(
            f"{name:>14}: {seconds * 1000:8.1f} ms  {mib / seconds:8.1f} MB/s  "
            f"{ratio:.2f}x parse{verdict}"
        )
    data7 = version7.to_bytes()
    document7 = lignor.Gedcom.parse(data7)
    problems = len(document7.check_version7())
    parse7 = best_seconds(lambda: lignor.Gedcom.parse(data7), args.repeat, time.process_time)
    check = best_seconds(document7.check_version7, args.repeat, time.process_time)
    mib7 = len(data7) / MIB
    print(
        f"{'parse 7.0':>14}: {parse7 * 1000:8.1f} ms  {mib7 / parse7:8.1f} MB/s  "
        f"({mib7:.1f} MiB of 7.0)"
    )
    print(
        f"{'check_version7':>14}: {check * 1000:8.1f} ms  {mib7 / check:8.1f} MB/s  "
        f"{check / parse7:.2f}x parse 7.0 ({'within' if check <= parse7 else 'OVER'} the 1x "
        f"budget; {problems:,} problems)"
    )
    parse_peak, convert_peak, notes = memory(path)
    print(
        f"peak memory: parse adds {parse_peak / MIB:.0f} MiB; to_version7 and its "
        f"{notes:,} notes add {convert_peak / MIB:.0f} MiB "
        f"({'within' if convert_peak <= parse_peak else 'OVER'} the parse's own)"
    )


if __name__ == "__main__":
    main()
