"""Threads: core work runs without the interpreter lock, under the borrow of
the object it reads or edits."""

import io
import sys
import threading
import zipfile

import pytest

from conftest import being_changed, in_use

LONG = "x" * 400


def document_bytes(people=3000):
    lines = ["0 HEAD", "1 GEDC", "2 VERS 5.5.1", "1 CHAR UTF-8"]
    for i in range(people):
        lines += [f"0 @I{i}@ INDI", f"1 NAME Person {i} /Doe/", f"1 NOTE {LONG}"]
        lines += ["1 BIRT", f"2 DATE {1 + i % 28} MAR {1800 + i % 200}", f"1 FAMC @F{i}@"]
    lines.append("0 TRLR")
    return ("\n".join(lines) + "\n").encode()


@pytest.fixture(scope="module")
def data():
    return document_bytes()


def run_threads(count, target):
    """Runs `target(index)` on `count` threads at once, switching often, and
    returns what each raised (None for a clean run)."""
    raised = [None] * count
    start = threading.Barrier(count)

    def run(index):
        start.wait()
        try:
            target(index)
        except BaseException as error:  # reported to the test, not lost on the thread
            raised[index] = error

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    threads = [threading.Thread(target=run, args=(i,)) for i in range(count)]
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    return raised


def converted(pair):
    document, notes = pair
    return document.to_text(), notes


READS = {
    "parse": lambda G, g, data: G.parse(data).to_text(),
    "to_text": lambda G, g, data: g.to_text(),
    "to_bytes": lambda G, g, data: g.to_bytes(),
    "check_version7": lambda G, g, data: g.check_version7(),
    "validate": lambda G, g, data: g.validate(),
    "unresolved_pointers": lambda G, g, data: g.unresolved_pointers(),
    "to_version7": lambda G, g, data: converted(g.to_version7()),
    "to_version551": lambda G, g, data: converted(g.to_version551()),
}


def test_shared_reads_on_threads_agree_with_one_thread(lignor, data):
    G = lignor.Gedcom
    g = G.parse(data)
    expected = {name: read(G, g, data) for name, read in READS.items()}
    seen = [[] for _ in range(4)]

    def read_everything(index):
        names = list(READS)
        for name in names[index:] + names[:index]:  # each thread in another order
            seen[index].append((name, READS[name](G, g, data)))

    assert run_threads(4, read_everything) == [None] * 4
    for results in seen:
        assert len(results) == len(READS)
        for name, result in results:
            assert result == expected[name], name


def test_an_edit_beside_a_read_is_refused_never_torn(lignor, data):
    # The editor's edits in turn: one that runs without the interpreter lock
    # (the wrap), two that free and replace a payload, one that grows the
    # record list.
    edits = [
        lambda document, n: document.wrap_long_lines(),
        lambda document, n: document.set_logical_value("@I0@", [1], "short" * (n % 2)),
        lambda document, n: document.set_logical_value("@I0@", [1], LONG),
        lambda document, n: document.append_records([{"tag": "NOTE", "value": f"added {n}"}]),
    ]
    g = lignor.Gedcom.parse(data)
    done = []  # the edits that went through, in order
    seen = set()  # every text the reader got

    def refused_at_worst(call, refusal):
        """Whether `call` went through; any failure but `refusal` is raised."""
        try:
            call()
            return True
        except RuntimeError as error:
            assert str(error) == refusal
            return False

    def edit_or_read(index):
        for n in range(40):
            if index == 1:
                refused_at_worst(lambda: seen.add(g.to_text()), being_changed("document"))
                continue
            for edit in edits:
                if refused_at_worst(lambda: edit(g, n), in_use("document")):
                    done.append((edit, n))

    assert run_threads(2, edit_or_read) == [None, None]
    # The text after each run of the edits that went through, replayed.
    model = lignor.Gedcom.parse(data)
    states = {model.to_text()}
    for edit, n in done:
        edit(model, n)
        states.add(model.to_text())
    assert g.to_text() == model.to_text()
    torn = seen - states
    assert not torn, f"{len(torn)} texts read between two states of the document"


def test_adds_on_threads_leave_one_whole_archive(lignor):
    writer = lignor.ArchiveWriter.new()
    payload = [bytes([65 + i]) * 300_000 for i in range(2)]
    added = [[], []]

    def add_entries(index):
        for n in range(20):
            name = f"t{index}/{n}.txt"
            try:
                writer.add(name, payload[index])
                added[index].append(name)
            except RuntimeError as error:
                assert str(error) == in_use("archive writer")

    assert run_threads(2, add_entries) == [None, None]
    writer.add("gedcom.ged", b"")
    with zipfile.ZipFile(io.BytesIO(writer.finish())) as archive:
        assert sorted(archive.namelist()) == sorted(added[0] + added[1] + ["gedcom.ged"])
        for index, names in enumerate(added):
            assert all(archive.read(name) == payload[index] for name in names)


def test_a_copy_edited_on_one_thread_leaves_its_original_converted_on_another(lignor, data):
    # A converted document shares what the conversion left as it was with its
    # original: edits of the copy and conversions of the original meet on the
    # same pieces from two threads.
    g = lignor.Gedcom.parse(data)
    expected = converted(g.to_version7())
    copy = g.to_version7()[0]
    conversions = []

    def edit_or_convert(index):
        for n in range(30):
            if index == 0:
                copy.set_logical_value(f"@I{n}@", [1], f"short {n}")
                copy.set_logical_value("@I0@", [0], f"Edited {n} /Doe/")
            else:
                conversions.append(converted(g.to_version7()))

    assert run_threads(2, edit_or_convert) == [None, None]
    assert all(result == expected for result in conversions)
    assert g.to_text() == lignor.Gedcom.parse(data).to_text()
    assert "Edited 29" in copy.to_text()
