#!/usr/bin/python3
"""Cost of Gedcom.append_records from Python beside json.dumps of the same list.

    PYTHONPATH=build/python /usr/bin/python3 bench/edit_bench.py [--records 100000]

Builds --records small individuals (name, sex, birth with date and place) as
description dicts, then times in CPU time of the process (everything measured
runs on the calling thread), best of --repeat runs:

  dumps           json.dumps(records): the part of every append that is
                  Python's own, measured in the same run
  append_records  Gedcom.new_v7().append_records(records), json.dumps included,
                  the document freed outside the timing
  without dumps   the same with json.dumps answering the text made in advance:
                  the library's share (reading the JSON, building, inserting)

and prints each time, records per second and the ratio of append_records to
dumps.
"""

import argparse
import json
import time

import lignor
from bench_common import best_seconds


def individuals(count):
    """`count` description dicts of small individuals, all different."""
    return [
        {
            "xref": f"@I{i}@",
            "tag": "INDI",
            "children": [
                {"tag": "NAME", "value": f"Given{i} /Surname{i % 997}/"},
                {"tag": "SEX", "value": "MF"[i % 2]},
                {
                    "tag": "BIRT",
                    "children": [
                        {"tag": "DATE", "value": f"{1 + i % 28} MAR {1800 + i % 200}"},
                        {"tag": "PLAC", "value": f"Town {i % 5000}, County {i % 50}, England"},
                    ],
                },
            ],
        }
        for i in range(count)
    ]


def appended(records):
    document = lignor.Gedcom.new_v7()
    document.append_records(records)
    return document


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    records = individuals(args.records)
    text = json.dumps(records)
    print(f"{args.records:,} individuals, {len(text) / 1e6:.1f} MB of JSON")
    assert len(appended(records)) == args.records

    def best(make):
        return best_seconds(make, args.repeat, timer=time.process_time)

    timings = {
        "dumps": best(lambda: json.dumps(records)),
        "append_records": best(lambda: appended(records)),
    }
    original = json.dumps
    json.dumps = lambda value: text
    try:
        timings["without dumps"] = best(lambda: appended(records))
    finally:
        json.dumps = original

    for name, seconds in timings.items():
        print(
            f"{name:>15}: {seconds * 1000:8.1f} ms  {args.records / seconds / 1e6:6.2f} M records/s"
        )
    print(f"append_records / dumps: {timings['append_records'] / timings['dumps']:.2f}x")


if __name__ == "__main__":
    main()
