#!/usr/bin/python3
"""Two parses side by side: two threads against two in a row.

    PYTHONPATH=build/python /usr/bin/python3 bench/thread_bench.py [--size-mb 50] [--file PATH]

Parsing runs without the interpreter lock, so two threads each parsing the
same bytes should take about the time of one parse on two free cores. Each
round times both ways in wall time (documents freed outside the timing), and
the medians of --repeat rounds and their ratio are printed beside the
process's CPU time, which should be alike both ways.

On a machine busy with other work the threads find no free core. Where the
system reports it (Linux's /proc/pressure/cpu), the share of the last ten
seconds in which some task waited for a core is printed after the run: far
above zero, the wall times say more about the machine than about the
library, while the CPU times still compare.
"""

import gc
import pathlib
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


def compare(work, data, repeat):
    """Prints the medians both ways and their ratio in wall time."""
    ways = {"in a row": in_a_row, "two threads": in_two_threads}
    rounds = {name: [] for name in ways}
    for _ in range(repeat):
        for name, way in ways.items():
            rounds[name].append(wall_and_cpu_seconds(way, work, data))
    walls = {}
    for name, times in rounds.items():
        wall, cpu = (statistics.median(column) for column in zip(*times))
        walls[name] = wall
        print(f"{name:>12}: {wall * 1000:8.1f} ms wall, {cpu * 1000:8.1f} ms CPU")
    ratio = walls["two threads"] / walls["in a row"]
    print(f"two threads / in a row: {ratio:.2f}x wall time (medians of {repeat})")


def cpu_pressure():
    """The share of the last ten seconds in which some task waited for a
    core, in percent, or None where the system does not say."""
    try:
        first = pathlib.Path("/proc/pressure/cpu").read_text().splitlines()[0]
    except OSError:
        return None
    fields = dict(field.split("=") for field in first.split()[1:])
    return float(fields["avg10"])


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=5)
    print(f"{path}: {len(data) / 2**20:.1f} MiB")
    compare(lignor.Gedcom.parse, data, args.repeat)
    pressure = cpu_pressure()
    if pressure is not None:
        print(f"tasks waiting for a core {pressure:.0f}% of the last 10 s")


if __name__ == "__main__":
    main()
