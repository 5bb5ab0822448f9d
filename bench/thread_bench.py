#!/usr/bin/python3
"""Two parses side by side: two threads against two in a row.

    PYTHONPATH=build/python /usr/bin/python3 bench/thread_bench.py [--size-mb 50] [--file PATH]

Parsing runs without the interpreter lock, so two threads each parsing the
same bytes should take about the time of one parse on two free cores. Each
round times both ways in wall time (documents freed outside the timing), and
the medians of --repeat rounds and their ratio are printed beside the
process's CPU time, which should be alike both ways.

On a machine busy with other work the threads find no free core. The same
rounds of `hashlib.sha256` over the same bytes (which also runs without the
lock, and shares nothing between its threads) show what the machine allows
at that moment: the parse's ratio should come close to that one.
"""

import gc
import hashlib
import statistics
import threading
import time

import lignor
from bench_common import input_arguments


def in_a_row(work, data):
    return [work(data), work(data)]


def in_two_threads(work, data):
    results = [None, None]

    def run(index):
        results[index] = work(data)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results


def wall_and_cpu_seconds(way, work, data):
    gc.collect()
    start, cpu_start = time.perf_counter(), time.process_time()
    results = way(work, data)
    seconds, cpu_seconds = time.perf_counter() - start, time.process_time() - cpu_start
    assert all(result is not None for result in results)
    del results
    return seconds, cpu_seconds


def compare(label, work, data, repeat):
    """Prints the medians both ways and returns threads / in a row in wall time."""
    ways = {"in a row": in_a_row, "two threads": in_two_threads}
    rounds = {name: [] for name in ways}
    for _ in range(repeat):
        for name, way in ways.items():
            rounds[name].append(wall_and_cpu_seconds(way, work, data))
    walls = {}
    for name, times in rounds.items():
        wall, cpu = (statistics.median(column) for column in zip(*times))
        walls[name] = wall
        print(f"{label:>8} {name:>12}: {wall * 1000:8.1f} ms wall, {cpu * 1000:8.1f} ms CPU")
    ratio = walls["two threads"] / walls["in a row"]
    print(f"{label:>8} two threads / in a row: {ratio:.2f}x wall time (medians of {repeat})")
    return ratio


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=5)
    print(f"{path}: {len(data) / 2**20:.1f} MiB")
    compare("parse", lignor.Gedcom.parse, data, args.repeat)
    compare("sha256", lambda d: hashlib.sha256(d).digest(), data, args.repeat)


if __name__ == "__main__":
    main()
