#!/usr/bin/python3
"""Cost of Gedcom.wrap_long_lines when nothing needs wrapping, against parse.

    PYTHONPATH=build/python /usr/bin/python3 bench/wrap_bench.py [--size-mb 50] [--file PATH]

Generates (once, deterministically) a UTF-8 file of about --size-mb MiB with
generate_gedcom.py unless --file names one, wraps it once (so that any line
over 255 bytes is split before timing), then times, best of --repeat runs:

  parse  lignor.Gedcom.parse(data)
  wrap   document.wrap_long_lines(255) on the wrapped document: a walk that
         finds nothing to rewrite

and prints both and their ratio. Wrapping should cost at most half a parse.
"""


import lignor
from bench_common import best_seconds, input_arguments

MIB = 1024 * 1024


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=5)
    mib = len(data) / MIB
    document = lignor.Gedcom.parse(data)
    first = document.wrap_long_lines(255)
    print(
        f"{path}: {mib:.1f} MiB, {len(document):,} records, "
        f"{sum(line['wrapped'] for line in first):,} structures wrapped before timing"
    )

    timings = {
        "parse": best_seconds(lambda: lignor.Gedcom.parse(data), args.repeat),
        "wrap": best_seconds(lambda: document.wrap_long_lines(255), args.repeat),
    }
    for name, seconds in timings.items():
        print(f"{name:>6}: {seconds * 1000:8.1f} ms  {mib / seconds:8.1f} MB/s")
    ratio = timings["wrap"] / timings["parse"]
    print(f"wrap / parse: {ratio:.2f} ({'within' if ratio <= 0.5 else 'OVER'} the 0.5 budget)")


if __name__ == "__main__":
    main()
