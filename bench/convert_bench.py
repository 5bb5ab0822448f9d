#!/usr/bin/python3
"""Conversion to 5.5.1 of a 7.0 document, against parsing the original file.

    PYTHONPATH=build/python /usr/bin/python3 bench/convert_bench.py [--size-mb 50] [--file PATH]

Generates (once, deterministically) a UTF-8 GEDCOM 5.5.1 file of about
--size-mb MiB with generate_gedcom.py unless --file names one, converts it
to 7.0 once, then times, best of --repeat runs:

  parse          lignor.Gedcom.parse(data) of the original bytes
  to_version7    document.to_version7() of the parsed original
  to_version551  to_version551() of the 7.0 conversion, the notes' arrival
                 as Python objects included

and prints each with its ratio to parse, in CPU time of this process, which
a busy machine disturbs less than wall time. The target for to_version551
is at most twice parse.
"""

import time

import lignor
from bench_common import best_seconds, input_arguments

MIB = 1024 * 1024


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=3)
    mib = len(data) / MIB
    document = lignor.Gedcom.parse(data)
    version7, notes7 = document.to_version7()
    notes551 = version7.to_version551()[1]
    print(f"{path}: {mib:.1f} MiB, {len(document):,} records, "
          f"{len(notes7):,} notes to 7.0, {len(notes551):,} notes back to 5.5.1")
    del notes7, notes551

    timings = {
        "parse": best_seconds(lambda: lignor.Gedcom.parse(data), args.repeat, time.process_time),
        "to_version7": best_seconds(document.to_version7, args.repeat, time.process_time),
        "to_version551": best_seconds(version7.to_version551, args.repeat, time.process_time),
    }
    for name, seconds in timings.items():
        print(f"{name:>14}: {seconds * 1000:8.1f} ms  {mib / seconds:8.1f} MB/s  "
              f"{seconds / timings['parse']:.2f}x parse")
    ratio = timings["to_version551"] / timings["parse"]
    print(f"to_version551 / parse: {ratio:.2f} ({'within' if ratio <= 2 else 'OVER'} the 2x budget)")


if __name__ == "__main__":
    main()
