#!/usr/bin/python3
"""Throughput of the reading methods from Python: views and findings.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_views_bench.py [--size-mb 50] [--file PATH]

Generates (once, deterministically) a UTF-8 file of about --size-mb MiB with
generate_gedcom.py unless --file names one, parses it, and times each of
individuals(), families(), records() and validate() three ways (best of
--repeat runs, results freed outside the timing):

  call        the method as a caller sees it
  no loads    the same call with json.loads replaced by a function that
              returns None: the core's views, their JSON text and the
              bridge's str objects, without Python building the dicts
  loads only  json.loads alone over the very JSON texts the method produced
              (recorded in one untimed call)

and prints values (views or findings) per second for each, and the share of
the call's time that json.loads alone accounts for. The core alone is
measured by bench/views_bench.cpp.
"""

import gc
import json

import lignor
from bench_common import best_seconds, input_arguments

METHODS = ["individuals", "families", "records", "validate"]


def with_loads(replacement, call):
    """Runs `call()` with json.loads replaced; the bridge looks it up on every value."""
    original = json.loads
    json.loads = replacement
    try:
        return call()
    finally:
        json.loads = original


def recorded_texts(call):
    """The JSON texts `call()` hands to json.loads, in order."""
    texts = []

    def record(text):
        texts.append(text)

    with_loads(record, call)
    return texts


def measure(method, repeat):
    texts = recorded_texts(method)
    loads = json.loads
    gc.disable()  # the dicts are acyclic; collections would only add noise
    try:
        return {
            "count": len(texts),
            "bytes": sum(len(t.encode()) for t in texts),
            "call": best_seconds(method, repeat),
            "no loads": best_seconds(lambda: with_loads(lambda text: None, method), repeat),
            "loads only": best_seconds(lambda: [loads(t) for t in texts], repeat),
        }
    finally:
        gc.enable()


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=3)
    document = lignor.Gedcom.parse(data)
    print(f"{path}: {len(data) / (1024 * 1024):.1f} MiB, {len(document):,} records, "
          f"{document.encoding}")
    print(f"{'method':>12} {'values':>9} {'JSON MiB':>9} | {'call':>18} | {'no loads':>18} | "
          f"{'loads only':>18} | loads/call")
    for name in METHODS:
        m = measure(getattr(document, name), args.repeat)
        cells = " | ".join(f"{m[k]:7.2f} s {m['count'] / m[k]:8,.0f}/s"
                           for k in ("call", "no loads", "loads only"))
        print(f"{name:>12} {m['count']:>9,} {m['bytes'] / (1024 * 1024):>9.1f} | {cells} | "
              f"{m['loads only'] / m['call']:6.0%}")


if __name__ == "__main__":
    main()
