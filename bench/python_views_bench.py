#!/usr/bin/python3
"""Reading methods from Python: the module's objects beside the JSON path.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_views_bench.py [--size-mb 50] [--file PATH]

Generates (once, deterministically) a UTF-8 file of about --size-mb MiB with
generate_gedcom.py unless --file names one, parses it, and times, best of
--repeat runs of CPU time with the results freed outside the timing:

  call        the method as a caller sees it, the collector on
  gc off      the same call with the collector off: the difference is the
              collector's share of the call
  JSON path   the same values as the core's JSON texts, each read by
              json.loads as soon as it is made (lignor_json_oracle, built
              with the tests), the collector on: how results reached Python
              before the builder

for individuals(), families(), records(), validate(), unresolved_pointers()
and parse_date over every DATE payload of the file, then the memory both
paths hold per value once the call returns and their peak during the call
(tracemalloc: Python's own allocations, which the results are).
"""

import functools
import gc
import json
import time
import tracemalloc

import lignor
import lignor_json_oracle as oracle
from bench_common import best_seconds, input_arguments

# CPU time of this process, which other work on a busy machine disturbs less.
cpu_seconds = functools.partial(best_seconds, timer=time.process_time)


def date_payloads(records):
    found = set()
    stack = [s for r in records for s in r["structures"]]
    while stack:
        structure = stack.pop()
        if structure["tag"] == "DATE":
            found.add(structure["value"])
        stack += structure["children"]
    return sorted(found)


def workloads(g, document, dates):
    """name -> (the module's call, the JSON path's call)."""
    loads = json.loads
    parse_date = lignor.parse_date
    calls = {
        name: (getattr(g, name), lambda f=getattr(oracle, name): f(document, loads))
        for name in ("individuals", "families", "records", "validate", "unresolved_pointers")
    }
    calls["parse_date"] = (
        lambda: [parse_date(d) for d in dates],
        lambda: [oracle.parse_date(d, loads) for d in dates],
    )
    return calls


def without_collector(call):
    gc.disable()
    try:
        return call()
    finally:
        gc.enable()


def memory(call):
    """(bytes held by the result, peak bytes during the call)."""
    gc.collect()
    tracemalloc.start()
    try:
        result = call()
        held, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    del result
    return held, peak


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=3)
    g = lignor.Gedcom.parse(data)
    document = oracle.parse(data)
    dates = date_payloads(g.records())
    parse = cpu_seconds(lambda: lignor.Gedcom.parse(data), args.repeat)
    print(
        f"{path}: {len(data) / (1024 * 1024):.1f} MiB, {len(g):,} records, {g.encoding}; "
        f"parse {parse:.3f} s"
    )
    print(
        f"{'method':>19} {'values':>8} | {'call':>8} {'gc off':>8} {'gc share':>8} | "
        f"{'JSON path':>9} {'speed-up':>8} | {'call/parse':>10} | "
        f"{'B/value':>7} {'JSON':>7} {'ratio':>5} | {'peak MiB':>8} {'JSON':>7} {'ratio':>5}"
    )
    for name, (call, json_path) in workloads(g, document, dates).items():
        count = len(call())
        on = cpu_seconds(call, args.repeat)
        off = cpu_seconds(lambda: without_collector(call), args.repeat)
        old = cpu_seconds(json_path, args.repeat)
        held, peak = memory(call)
        old_held, old_peak = memory(json_path)
        mib = 1024 * 1024
        print(
            f"{name:>19} {count:>8,} | {on:7.3f}s {off:7.3f}s {(on - off) / on:8.0%} | "
            f"{old:8.3f}s {old / on:7.1f}x | {on / parse:9.1f}x | "
            f"{held / max(count, 1):7,.0f} {old_held / max(count, 1):7,.0f} "
            f"{held / old_held:5.2f} | {peak / mib:8.1f} {old_peak / mib:7.1f} "
            f"{peak / old_peak:5.2f}"
        )


if __name__ == "__main__":
    main()
