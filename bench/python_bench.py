#!/usr/bin/python3
"""Throughput of the Python surface: Gedcom.parse and to_bytes.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--size-mb 50] [--file PATH]

Generates (once, deterministically) a UTF-8 file of about --size-mb MiB with
generate_gedcom.py unless --file names one, then times with `timeit`:

  split     data.split(b"\\n"): the floor, measured in the same run
  parse     lignor.Gedcom.parse(data), the document freed outside the timing
            (and once more with the freeing timed too)
  to_bytes  document.to_bytes()

and prints MB/s (MiB of input per second, best of --repeat runs) and the
ratio of parse time to split time.
"""

import gc
import timeit

import lignor
from bench_common import best_seconds, input_arguments

MIB = 1024 * 1024


def best_seconds_freed(make, repeat):
    """Best time of `make()` with its result freed inside the timing."""
    gc.collect()
    return min(timeit.repeat(lambda: make() and None, number=1, repeat=repeat))


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=5)
    mib = len(data) / MIB
    document = lignor.Gedcom.parse(data)
    print(f"{path}: {mib:.1f} MiB, {len(document):,} records, {document.encoding}")

    timings = {
        "split": best_seconds(lambda: data.split(b"\n"), args.repeat),
        "parse": best_seconds(lambda: lignor.Gedcom.parse(data), args.repeat),
        "parse+free": best_seconds_freed(lambda: lignor.Gedcom.parse(data), args.repeat),
        "to_bytes": best_seconds(document.to_bytes, args.repeat),
    }
    for name, seconds in timings.items():
        print(f"{name:>10}: {seconds * 1000:8.1f} ms  {mib / seconds:8.1f} MB/s")
    print(
        f"parse / split: {timings['parse'] / timings['split']:.2f}x "
        f"(with the document freed: {timings['parse+free'] / timings['split']:.2f}x)"
    )


if __name__ == "__main__":
    main()
