"""The harness every test file shares: the module under test, the corpus of
real files and what each file should read as, the leak check over repeated
calls, and the walk over every public callable."""

import codecs
import ctypes
import gc
import importlib.util
import inspect
import os
import pathlib
import sys
import tracemalloc

import pytest
from hypothesis import settings
from hypothesis.configuration import set_hypothesis_home_dir
from hypothesis.database import DirectoryBasedExampleDatabase

REPO = pathlib.Path(__file__).resolve().parents[2]
CORPUS = pathlib.Path(os.environ.get("LIGNOR_CORPUS_DIR", REPO.parent / "shared" / "corpus"))


def _hypothesis_dir():
    """CTest names a folder of the build tree; by hand, the build tree that
    holds the module on the path is used, so examples outlive the run."""
    if "LIGNOR_HYPOTHESIS_DIR" in os.environ:
        return pathlib.Path(os.environ["LIGNOR_HYPOTHESIS_DIR"])
    spec = importlib.util.find_spec("lignor")
    build = pathlib.Path(spec.origin).parents[1] if spec and spec.origin else REPO / "build"
    return build / "hypothesis"


_HYPOTHESIS = _hypothesis_dir()
set_hypothesis_home_dir(_HYPOTHESIS)
settings.register_profile(
    "lignor", database=DirectoryBasedExampleDatabase(_HYPOTHESIS / "examples")
)
settings.load_profile("lignor")


@pytest.fixture(scope="session")
def lignor():
    import lignor as module

    return module


# ----- the corpus ------------------------------------------------------------

# The corpus files the reader refuses, with the refusal (the C++ tests read the same list).
REFUSED = dict(
    line.split("\t", 1)
    for line in (REPO / "tests" / "refused_corpus.tsv").read_text().splitlines()
    if line and not line.startswith("#")
)


def corpus_files():
    """Every GEDCOM file of the shared corpus, or nothing when it is absent."""
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.iterdir() if p.suffix.lower() == ".ged")


def readable_corpus():
    """The corpus files the reader accepts."""
    return [p for p in corpus_files() if p.name not in REFUSED]


# Python's own codecs for the encodings the report names; ANSEL has none.
CODECS = {
    "UTF-8": "utf-8-sig",
    "ASCII": "ascii",
    "UTF-16 (big-endian)": "utf-16-be",
    "UTF-16 (little-endian)": "utf-16-le",
    "ANSI (Windows-1252)": "cp1252",
}


def normalised(text):
    """LF endings, no empty lines: the text as the writer gives it back."""
    lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    return "".join(line + "\n" for line in lines if line)


def _stray_bytes_as_windows_1252(error):
    """Each byte of invalid UTF-8 read as Windows-1252, the five it leaves
    undefined as the control characters of the same number."""
    stray = error.object[error.start : error.end]
    return "".join(bytes([b]).decode("cp1252", "ignore") or chr(b) for b in stray), error.end


codecs.register_error("stray-windows-1252", _stray_bytes_as_windows_1252)


def expected_text(data, report):
    """What a file's bytes read as, by Python's codecs and independently of
    the library: the text every record's `raw` and `to_text()` must give back.
    None where Python has no codec for the encoding the report names."""
    read_as = report.removeprefix("Read as ").split(",")[0].removesuffix(" (byte-order mark)")
    codec = CODECS.get(read_as)
    if codec is None:
        return None
    errors = "stray-windows-1252" if report.endswith("read as Windows-1252") else "replace"
    return normalised(codecs.decode(data, codec, errors).lstrip("\ufeff"))


# ----- leaks over repeated calls ---------------------------------------------


class _Mallinfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in (
            "arena",
            "ordblks",
            "smblks",
            "hblks",
            "hblkhd",
            "usmblks",
            "fsmblks",
            "uordblks",
            "fordblks",
            "keepcost",
        )
    ]


_mallinfo2 = getattr(ctypes.CDLL(None), "mallinfo2", None)  # glibc 2.33 and later
if _mallinfo2 is not None:
    _mallinfo2.restype = _Mallinfo2


def _c_heap_in_use():
    """Bytes the C allocator has handed out and not taken back: the C++ side
    of the module, which tracemalloc cannot see. 0 where it cannot be read
    (under AddressSanitizer, whose allocator reports nothing here)."""
    return _mallinfo2().uordblks if _mallinfo2 else 0


def assert_no_leaks(call, *watched):
    """Calling `call` over and over leaves the reference counts of `watched`
    (and of None, True and False, and the interpreter's total in a debug
    build), Python's traced memory and the C heap where they were."""

    def counts():
        gc.collect()
        total = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else 0
        return [sys.getrefcount(o) for o in (*watched, None, True, False)] + [total]

    for _ in range(10):
        call()
    before = counts()
    for _ in range(200):
        call()
    # A leak takes a reference on every call (200 here); the interpreter
    # itself may take one or two on the shared singletons meanwhile (a
    # cache filled once), which is no leak.
    growth = [after - start for after, start in zip(counts(), before)]
    assert all(g < 10 for g in growth), growth

    tracemalloc.start()
    try:
        for _ in range(100):
            call()
        gc.collect()
        traced, heap = tracemalloc.get_traced_memory()[0], _c_heap_in_use()
        for _ in range(2000):
            call()
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced
        heap_growth = _c_heap_in_use() - heap
    finally:
        tracemalloc.stop()
    assert traced_growth < 16_384
    assert heap_growth < 65_536


# ----- Python code in the middle of a call -----------------------------------


def run_inside(call, callback):
    """Runs `call()` so that `callback()` runs in the middle of it: from the
    finaliser of a garbage cycle, collected by the first collection one of
    the call's own allocations starts. Returns what `call()` returned."""

    class Trigger:
        def __del__(self):
            callback()

    gc.collect()
    trigger = Trigger()
    trigger.cycle = trigger
    del trigger
    threshold = gc.get_threshold()
    gc.set_threshold(1)
    try:
        return call()
    finally:
        gc.set_threshold(*threshold)


# ----- the public surface ----------------------------------------------------


def in_use(what):
    """The refusal of an edit that meets another call on the same object."""
    return (
        f"the {what} is in use by another call still running (on another thread, or in "
        "Python code that call runs), so it cannot be changed until that call returns"
    )


def being_changed(what):
    """The refusal of a read that meets an edit of the same object."""
    return (
        f"the {what} is being changed by another call still running (on another thread, or "
        "in Python code that call runs), so it cannot be read until that call returns"
    )


def public_callables(module):
    """(dotted name, object) for every public function and method of the
    module, as reached from it, and every class that makes instances."""
    for name, value in vars(module).items():
        if name.startswith("_"):
            continue
        if inspect.isroutine(value):
            yield name, value
        elif inspect.isclass(value):
            if "__new__" in vars(value):
                yield name, value
            for member in vars(value):
                if not member.startswith("_") and inspect.isroutine(getattr(value, member)):
                    yield f"{name}.{member}", getattr(value, member)


def signature_fault(target):
    """What is wrong with a callable's text signature, or None. A method of
    an instance names `$self` first; nothing else names it. A class without
    a signature of its own is called as its `__new__` says."""
    if inspect.isclass(target) and getattr(target, "__text_signature__", None) is None:
        target = target.__new__
    text = getattr(target, "__text_signature__", None)
    if text is None:
        return "has no text signature"
    if text.startswith("($self") != inspect.ismethoddescriptor(target):
        return f"has the text signature {text!r}"
    try:
        inspect.signature(target)
    except ValueError as error:
        return f"has a text signature inspect cannot read ({error})"
    return None
