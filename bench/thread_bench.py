#!/usr/bin/python3
"""Two parses side by side: two threads against two in a row.

    PYTHONPATH=build/python /usr/bin/python3 bench/thread_bench.py [--size-mb 50] [--file PATH]

Parsing runs without the interpreter lock, so two threads each parsing the
same bytes should take about the time of one parse on two free cores. Each
round times both ways in wall time (documents freed outside the timing); the
medians of --repeat rounds and their ratio are printed. On a machine busy
with other work the ratio says more than either time.
"""

import gc
import statistics
import threading
import time

import lignor
from bench_common import input_arguments


def in_a_row(data):
    return [lignor.Gedcom.parse(data), lignor.Gedcom.parse(data)]


def in_two_threads(data):
    documents = [None, None]

    def parse(index):
        documents[index] = lignor.Gedcom.parse(data)

    threads = [threading.Thread(target=parse, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return documents


def wall_seconds(run, data):
    gc.collect()
    start = time.perf_counter()
    documents = run(data)
    seconds = time.perf_counter() - start
    assert all(len(d) == len(documents[0]) for d in documents)
    del documents
    return seconds


def main():
    args, path, data = input_arguments(__doc__.splitlines()[0], repeat=5)
    print(f"{path}: {len(data) / 2**20:.1f} MiB")
    rounds = {"in a row": [], "two threads": []}
    for _ in range(args.repeat):
        rounds["in a row"].append(wall_seconds(in_a_row, data))
        rounds["two threads"].append(wall_seconds(in_two_threads, data))
    medians = {name: statistics.median(times) for name, times in rounds.items()}
    for name, seconds in medians.items():
        print(f"{name:>12}: {seconds * 1000:8.1f} ms (median of {args.repeat})")
    print(f"two threads / in a row: {medians['two threads'] / medians['in a row']:.2f}x")


if __name__ == "__main__":
    main()
