"""GEDZIP archives from Python: ArchiveWriter, ArchiveFileWriter, archive_total_size.

Python's zipfile, unzip and 7-Zip are the judges of what the writers make."""

import inspect
import io
import os
import pathlib
import pydoc
import shutil
import struct
import subprocess
import zipfile

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import CORPUS, assert_no_leaks

FINISHED = "finish() was already called"
POISONED_FINISH = (
    "a previous write to this archive's sink failed, so the sink may hold a partial record; "
    "the archive cannot be finished"
)
TREE = b"0 HEAD\n1 GEDC\n2 VERS 7.0\n" + b"0 @I1@ INDI\n1 NAME Ann /Smith/\n" * 400 + b"0 TRLR\n"
NO_DATASET = (
    "a GEDZIP archive holds its GEDCOM dataset as gedcom.ged at its root, and this one has none "
    "yet; add it before finishing"
)
# The smallest archive: an empty gedcom.ged (a 40-byte local header, a
# 56-byte central record) and the 22-byte end record.
SMALLEST = 118


def archive_bytes(lignor, entries):
    writer = lignor.ArchiveWriter.new()
    for name, data in entries.items():
        writer.add(name, data)
    return writer.finish()


def read_back(data):
    """The entries zipfile finds, after it has checked every CRC."""
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        assert archive.testzip() is None
        return {info.filename: archive.read(info) for info in archive.infolist()}


# ----- what the writers make, judged by tools nobody here wrote -------------------


def make_dataset_only(lignor, folder):
    entries = {"gedcom.ged": b""}
    return entries, archive_bytes(lignor, entries)


def make_stored(lignor, folder):
    entries = {"gedcom.ged": b"", "media/photo.jpg": bytes(range(256)) * 40}
    return entries, archive_bytes(lignor, entries)


def make_deflated(lignor, folder):
    entries = {"gedcom.ged": TREE, "notes/readme.md": b"# notes\n" * 100, "media/": b""}
    return entries, archive_bytes(lignor, entries)


def make_streamed(lignor, folder):
    text, media = folder / "tree.ged", folder / "scan.tiff"
    text.write_bytes(TREE * 50)
    media.write_bytes(os.urandom(200_000))
    path = folder / "streamed.gdz"
    writer = lignor.ArchiveFileWriter(path)
    writer.add_file("gedcom.ged", text)
    writer.add_file("media/scan.tiff", str(media))
    writer.add("media/empty.txt", b"")
    writer.finish()
    return {
        "gedcom.ged": TREE * 50,
        "media/scan.tiff": media.read_bytes(),
        "media/empty.txt": b"",
    }, path.read_bytes()


def make_utf8_names(lignor, folder):
    entries = {
        "gedcom.ged": TREE,
        "médias/Ærøskøbing.jpg": b"\xff\xd8\xff" * 10,
        "notes/\u4e2d\u6587.txt": "\u4e2d".encode() * 99,
    }
    return entries, archive_bytes(lignor, entries)


def make_many(lignor, folder):
    entries = {"gedcom.ged": b"", **{f"m/{i:05d}.jpg": b"" for i in range(1, 65535)}}
    entries["m/00007.jpg"] = b"seven"
    return entries, archive_bytes(lignor, entries)


MAKERS = {
    "dataset-only": make_dataset_only,
    "stored": make_stored,
    "deflated": make_deflated,
    "streamed": make_streamed,
    "utf8-names": make_utf8_names,
    "65535-entries": make_many,
}


@pytest.fixture(params=sorted(MAKERS))
def written(request, lignor, tmp_path):
    entries, data = MAKERS[request.param](lignor, tmp_path)
    path = tmp_path / "archive.gdz"
    path.write_bytes(data)
    return entries, data, path


def test_zipfile_reads_back_exactly_what_was_written(lignor, written):
    entries, data, _ = written
    assert read_back(data) == entries
    assert lignor.archive_total_size(data) == sum(len(v) for v in entries.values())


@pytest.mark.skipif(shutil.which("unzip") is None, reason="unzip is not installed")
def test_unzip_tests_the_archive_clean(written):
    _, _, path = written
    result = subprocess.run(["unzip", "-tqq", str(path)], capture_output=True)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.skipif(shutil.which("7z") is None, reason="7z is not installed")
def test_7z_tests_the_archive_clean(written):
    _, _, path = written
    result = subprocess.run(["7z", "t", str(path)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Everything is Ok" in result.stdout


def test_deflates_text_and_stores_media(lignor):
    data = archive_bytes(
        lignor, {"gedcom.ged": b"0 HEAD\n" * 2000, "photo.jpg": b"j" * 100, "x.txt": b"abc"}
    )
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        methods = {info.filename: info.compress_type for info in archive.infolist()}
        dates = {info.date_time for info in archive.infolist()}
    assert methods == {
        "gedcom.ged": zipfile.ZIP_DEFLATED,
        "photo.jpg": zipfile.ZIP_STORED,
        "x.txt": zipfile.ZIP_STORED,
    }
    assert dates == {(1980, 1, 1, 0, 0, 0)}


@settings(max_examples=60, deadline=None)
@given(
    st.dictionaries(
        st.from_regex(
            r"[A-Za-z0-9_\-]{1,12}(/[A-Za-z0-9_\-]{1,12}){0,2}\.(ged|txt|jpg|png|json)",
            fullmatch=True,
        ),
        st.one_of(
            st.binary(max_size=3000),
            st.text(alphabet="0 HEADINDI@\n", max_size=3000).map(str.encode),
        ),
        max_size=12,
    )
)
def test_any_entries_read_back_exactly_and_write_identically(lignor, entries):
    seen, unique = {"gedcom.ged"}, {"gedcom.ged": b""}
    for name, data in entries.items():  # names equal but for case collide, as they should
        if name.lower() not in seen:
            seen.add(name.lower())
            unique[name] = data
    first = archive_bytes(lignor, unique)
    assert archive_bytes(lignor, unique) == first
    assert read_back(first) == unique


def test_file_writer_add_writes_what_the_memory_writer_writes(lignor, tmp_path):
    entries = {"gedcom.ged": TREE, "media/a.jpg": b"\x89PNG" * 300}
    writer = lignor.ArchiveFileWriter(tmp_path / "a.gdz")
    for name, data in entries.items():
        writer.add(name=name, data=data)
    size = writer.finish()
    assert (tmp_path / "a.gdz").read_bytes() == archive_bytes(lignor, entries)
    assert size == os.path.getsize(tmp_path / "a.gdz")


# ----- the surface ------------------------------------------------------------


def test_help_shows_each_constructor_as_it_is_called(lignor, tmp_path):
    for cls in (
        value
        for value in vars(lignor).values()
        if inspect.isclass(value) and not issubclass(value, BaseException)
    ):
        assert "See help(type) for accurate signature" not in pydoc.render_doc(cls), cls
    F = lignor.ArchiveFileWriter
    made = F.__new__(F, path=tmp_path / "a.gdz")
    made.add("gedcom.ged", b"")
    assert made.finish() == SMALLEST
    with pytest.raises(TypeError):
        F.__new__(lignor.ArchiveWriter, tmp_path / "b.gdz")


def test_archive_writer_doc_and_construction(lignor):
    assert lignor.ArchiveWriter.__text_signature__ is None
    for call in (lignor.ArchiveWriter, lambda: lignor.ArchiveWriter(1, x=2)):
        with pytest.raises(TypeError) as caught:
            call()
        assert caught.value.args == (
            "cannot create 'lignor.ArchiveWriter' instances by calling the class: "
            "ArchiveWriter.new() starts an archive",
        )
    with pytest.raises(TypeError):
        type("Sub", (lignor.ArchiveFileWriter,), {})


@pytest.mark.parametrize(
    "call",
    [
        lambda w: w.add("a.txt", "text"),
        lambda w: w.add("a.txt", bytearray(b"x")),
        lambda w: w.add("a.txt", memoryview(b"x")),
        lambda w: w.add(b"a.txt", b"x"),
        lambda w: w.add("a.txt"),
        lambda w: w.add("a.txt", b"x", b"y"),
        lambda w: w.finish(1),
    ],
    ids=[
        "str-data",
        "bytearray",
        "memoryview",
        "bytes-name",
        "missing",
        "surplus",
        "finish-argument",
    ],
)
def test_wrong_arguments_raise_type_error(lignor, call):
    with pytest.raises(TypeError):
        call(lignor.ArchiveWriter.new())


def test_finish_waits_for_the_dataset_and_is_valid_once(lignor, tmp_path):
    writer = lignor.ArchiveWriter.new()
    for name in ("GEDCOM.GED", "data/gedcom.ged"):
        with pytest.raises(ValueError) as caught:
            writer.finish()
        assert caught.value.args == (NO_DATASET,)
        writer.add(name, b"")
    writer = lignor.ArchiveWriter.new()
    writer.add("gedcom.ged", b"")
    assert len(writer.finish()) == SMALLEST
    for call in (writer.finish, lambda: writer.add("a.txt", b"x")):
        with pytest.raises(ValueError) as caught:
            call()
        assert caught.value.args == (FINISHED,)
    source = tmp_path / "a.txt"
    source.write_bytes(b"a")
    file_writer = lignor.ArchiveFileWriter(tmp_path / "a.gdz")
    with pytest.raises(ValueError) as caught:
        file_writer.finish()
    assert caught.value.args == (NO_DATASET,)
    file_writer.add("gedcom.ged", b"")
    assert file_writer.finish() == SMALLEST == os.path.getsize(tmp_path / "a.gdz")
    for call in (
        file_writer.finish,
        lambda: file_writer.add("a.txt", b"x"),
        lambda: file_writer.add_file("a.txt", source),
    ):
        with pytest.raises(ValueError) as caught:
            call()
        assert caught.value.args == (FINISHED,)


@pytest.mark.parametrize(
    "name, message",
    [
        ("../x.ged", "../x.ged contains an unsafe path component"),
        ("/abs.jpg", "/abs.jpg is an absolute path"),
        ("a\\b.jpg", "a\\b.jpg uses a backslash, which a ZIP path may not"),
        ("media/nul.jpg", "media/nul.jpg contains a path component that is unsafe on Windows"),
        ("gedcom.ged", 'the archive contains the same path more than once ("gedcom.ged")'),
        (
            "GEDCOM.GED",
            'GEDCOM.GED differs from "gedcom.ged" only in letter case, so both would extract '
            "to one file where letter case does not count (Windows, macOS)",
        ),
    ],
)
def test_refused_names_raise_value_error_and_leave_the_writer_usable(lignor, name, message):
    writer = lignor.ArchiveWriter.new()
    writer.add("gedcom.ged", b"first")
    with pytest.raises(ValueError) as caught:
        writer.add(name, b"x")
    assert caught.value.args == (message,)
    writer.add("b.txt", b"second")
    assert read_back(writer.finish()) == {"gedcom.ged": b"first", "b.txt": b"second"}


# Entries the writer's own reader, or an extraction, would lose or refuse:
# each is refused with a message that begins with its name, and the writer
# goes on as if it had not been asked.
UNEXTRACTABLE = {
    "folder-with-data": ({}, "media/", b"bytes"),
    "file-then-folder": ({"f1": b"1"}, "f1/x.txt", b"2"),
    "folder-then-file": ({"f1/x.txt": b"1"}, "F1", b"2"),
    "same-in-nfc": ({"caf\u00e9.txt": b"1"}, "cafe\u0301.TXT", b"2"),
    "ratio-over-1000": ({}, "zeros.txt", bytes(1_000_000)),
}


@pytest.mark.parametrize("case", sorted(UNEXTRACTABLE))
def test_what_would_not_extract_is_refused_and_the_writer_stays_usable(lignor, case):
    before, name, data = UNEXTRACTABLE[case]
    writer = lignor.ArchiveWriter.new()
    before = {"gedcom.ged": b"", **before}
    for earlier, content in before.items():
        writer.add(earlier, content)
    with pytest.raises(ValueError) as caught:
        writer.add(name, data)
    assert caught.value.args[0].startswith(name + " ")
    writer.add("later.txt", b"x")
    archive = writer.finish()
    assert read_back(archive) == {**before, "later.txt": b"x"}
    assert lignor.archive_total_size(archive) == len(b"".join(before.values())) + 1


@pytest.mark.parametrize("where", ["path", "source"])
def test_paths_with_a_nul_byte_are_refused_whole(lignor, tmp_path, where):
    (tmp_path / "family").write_bytes(b"kept")
    (tmp_path / "notes.txt").write_bytes(b"notes")
    writer = lignor.ArchiveFileWriter(tmp_path / "a.gdz")
    with pytest.raises(ValueError) as caught:
        if where == "path":
            lignor.ArchiveFileWriter(str(tmp_path / "family") + "\0.gdz")
        else:
            writer.add_file("n.txt", str(tmp_path / "notes.txt") + "\0.jpg")
    assert caught.value.args == ("embedded null byte",)
    assert (tmp_path / "family").read_bytes() == b"kept"
    writer.add("gedcom.ged", b"")
    writer.finish()
    assert read_back((tmp_path / "a.gdz").read_bytes()) == {"gedcom.ged": b""}


# ----- files --------------------------------------------------------------------


def test_paths_may_be_path_like_but_not_bytes(lignor, tmp_path):
    class PathLike:
        def __fspath__(self):
            return str(tmp_path / "p.gdz")

    for writer in (
        lignor.ArchiveFileWriter(PathLike()),
        lignor.ArchiveFileWriter(path=pathlib.Path(tmp_path / "q.gdz")),
    ):
        writer.add("gedcom.ged", b"")
        writer.finish()
    assert os.path.getsize(tmp_path / "p.gdz") == os.path.getsize(tmp_path / "q.gdz") == SMALLEST
    for bad in (str(tmp_path / "b.gdz").encode(), 3, None):
        with pytest.raises(TypeError):
            lignor.ArchiveFileWriter(bad)
    writer = lignor.ArchiveFileWriter(tmp_path / "r.gdz")
    with pytest.raises(TypeError):
        writer.add_file("a.txt", str(tmp_path / "p.gdz").encode())


def test_file_errors_raise_os_error_with_the_path(lignor, tmp_path):
    missing_folder = tmp_path / "no" / "a.gdz"
    with pytest.raises(OSError) as caught:
        lignor.ArchiveFileWriter(missing_folder)
    assert caught.value.args == (f"{missing_folder}: No such file or directory",)
    writer = lignor.ArchiveFileWriter(tmp_path / "a.gdz")
    with pytest.raises(OSError) as caught:
        writer.add_file("a.txt", tmp_path / "absent.txt")
    assert caught.value.args == (f"{tmp_path / 'absent.txt'}: No such file or directory",)
    with pytest.raises(ValueError) as caught:
        writer.add_file("a.txt", tmp_path)
    assert caught.value.args == (f"{tmp_path} is not a regular file",)
    writer.add("gedcom.ged", b"still usable")
    writer.finish()
    assert read_back((tmp_path / "a.gdz").read_bytes()) == {"gedcom.ged": b"still usable"}


def test_a_named_pipe_is_refused_without_waiting(lignor, tmp_path):
    pipe = tmp_path / "pipe"
    os.mkfifo(pipe)
    writer = lignor.ArchiveFileWriter(tmp_path / "a.gdz")
    with pytest.raises(ValueError, match=r"is not a regular file$"):
        writer.add_file("a.txt", pipe)


# Sources that turn out other than they were measured: /proc files say 0
# bytes and hold text, many /sys files say 4096 and hold a line, and the
# archive being written grows as it is read.
def kernel_file(path):
    if not os.path.isfile(path) or os.path.getsize(path) == len(open(path, "rb").read()):
        pytest.skip(f"{path} does not change size here")
    return path


BAD_SOURCES = {
    "grows": (
        lambda folder, archive: kernel_file("/proc/self/status"),
        r"^s\.txt yielded more than the 0 bytes declared for it$",
    ),
    "shrinks": (
        lambda folder, archive: kernel_file("/sys/kernel/mm/transparent_hugepage/enabled"),
        r"^s\.txt ended after \d+ of the 4096 bytes declared for it$",
    ),
    "the-archive-itself": (
        lambda folder, archive: archive,
        r"^s\.txt yielded more than the \d+ bytes declared",
    ),
    "compresses-too-well": (lambda folder, archive: zeros_file(folder), r"^s\.txt compresses "),
}


def zeros_file(folder):
    path = folder / "zeros"
    path.write_bytes(bytes(1_000_000))  # deflates about 1015-fold
    return path


@pytest.mark.parametrize("case", sorted(BAD_SOURCES))
def test_a_bad_source_is_rolled_back_and_the_writer_stays_usable(lignor, tmp_path, case):
    make_source, message = BAD_SOURCES[case]
    path = tmp_path / "a.gdz"
    first = os.urandom(100_000)  # written past the file buffer, so the archive is on disk
    writer = lignor.ArchiveFileWriter(path)
    writer.add("first.jpg", first)
    with pytest.raises(ValueError, match=message):
        writer.add_file("s.txt", make_source(tmp_path, path))
    assert os.path.getsize(path) == 30 + len("first.jpg") + len(first)
    writer.add("gedcom.ged", b"x")
    writer.finish()
    assert read_back(path.read_bytes()) == {"first.jpg": first, "gedcom.ged": b"x"}


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full")
def test_a_full_disk_poisons_the_writer(lignor):
    writer = lignor.ArchiveFileWriter("/dev/full")
    with pytest.raises(ValueError) as caught:
        writer.add("a.jpg", b"x" * 100_000)
    assert caught.value.args == ("the archive could not be written: No space left on device",)
    with pytest.raises(ValueError) as caught:
        writer.finish()
    assert caught.value.args == (POISONED_FINISH,)


def test_an_abandoned_file_writer_leaves_a_partial_file(lignor, tmp_path):
    writer = lignor.ArchiveFileWriter(tmp_path / "a.gdz")
    writer.add("a.jpg", b"x" * 10)
    del writer
    partial = (tmp_path / "a.gdz").read_bytes()
    assert partial.startswith(b"PK\x03\x04") and len(partial) == 30 + 5 + 10
    with pytest.raises(ValueError, match="^the file does not end like a ZIP archive$"):
        lignor.archive_total_size(partial)


def test_a_with_block_leaves_a_whole_archive_or_no_file(lignor, tmp_path):
    whole, broken = tmp_path / "whole.gdz", tmp_path / "broken.gdz"
    with lignor.ArchiveFileWriter(whole) as writer:
        writer.add("gedcom.ged", TREE)
    assert read_back(whole.read_bytes()) == {"gedcom.ged": TREE}
    with pytest.raises(KeyError, match="stop"):
        with lignor.ArchiveFileWriter(broken) as writer:
            writer.add("gedcom.ged", TREE)
            raise KeyError("stop")
    assert not broken.exists()


# ----- measuring ------------------------------------------------------------------


def central(name, compressed, uncompressed, flags=0x800, method=0, external=0):
    raw = name.encode()
    return (
        struct.pack(
            "<IHHHHHHIIIHHHHHII",
            0x02014B50,
            20,
            20,
            flags,
            method,
            0,
            0x21,
            0,
            compressed,
            uncompressed,
            len(raw),
            0,
            0,
            0,
            0,
            external,
            0,
        )
        + raw
    )


def directory(*records, count=None):
    body = b"".join(records)
    count = len(records) if count is None else count
    return body + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(body), 0, 0)


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "the file does not end like a ZIP archive"),
        (
            directory(*(central(f"{i}.jpg", 1 << 29, 1 << 30) for i in range(5))),
            "the archive expands to more than the 4294967296 byte limit",
        ),
        (
            directory(central("bomb.ged", 1000, 10_000_000)),
            "bomb.ged claims a compression ratio over the 1000-fold limit",
        ),
        (directory(count=65000), "file 1 of the archive has no directory record"),
        (directory(central("../up.ged", 1, 1)), "../up.ged contains an unsafe path component"),
        (directory(central("a.txt", 1, 1, flags=0x801)), "encrypted entries are not supported"),
        (
            directory(central("link", 1, 1, external=0xA1FF0000)),
            'the archive contains a symbolic link ("link"), which is not extracted',
        ),
    ],
    ids=["empty", "total", "ratio", "forged-count", "traversal", "encrypted", "symlink"],
)
def test_archive_total_size_refuses_what_does_not_open(lignor, data, message):
    with pytest.raises(ValueError) as caught:
        lignor.archive_total_size(data)
    assert caught.value.args == (message,)


def test_archive_total_size_takes_bytes_only(lignor):
    with pytest.raises(TypeError):
        lignor.archive_total_size(bytearray(directory()))
    assert lignor.archive_total_size(data=directory(central("a.jpg", 4, 4))) == 4


@pytest.mark.parametrize("name", ["minimal70.gdz", "maximal70.gdz"])
def test_corpus_archives_open_and_measure(lignor, name):
    path = CORPUS / name
    if not path.is_file():
        pytest.skip(f"{path} is absent")
    data = path.read_bytes()
    with zipfile.ZipFile(path) as archive:
        expected = sum(info.file_size for info in archive.infolist())
        assert "gedcom.ged" in archive.namelist()
    assert lignor.archive_total_size(data) == expected


# ----- reference counts -------------------------------------------------------------


def test_reference_counts_stay_flat(lignor, tmp_path):
    source = tmp_path / "s.jpg"
    source.write_bytes(b"s" * 1000)
    name, data, archive = (
        "gedcom.ged",
        b"0 HEAD\n" * 100,
        archive_bytes(lignor, {"gedcom.ged": b"x"}),
    )
    W, F = lignor.ArchiveWriter, lignor.ArchiveFileWriter

    def round_of_calls():
        writer = W.new()
        writer.add(name, data)
        with pytest.raises(ValueError):
            writer.add(name, data)
        with pytest.raises(ValueError):
            W.new().finish()
        writer.finish()
        file_writer = F(tmp_path / "a.gdz")
        file_writer.add(name, data)
        file_writer.add_file("s.jpg", source)
        with pytest.raises(ValueError):
            file_writer.add_file("t.jpg", tmp_path)
        file_writer.finish()
        with F(tmp_path / "b.gdz") as in_block:
            in_block.add(name, data)
        with pytest.raises(KeyError), F(tmp_path / "c.gdz"):
            raise KeyError(name)
        for path in ("a.gdz", "b.gdz"):
            (tmp_path / path).unlink()  # truncating a file instead would wait for its blocks
        lignor.archive_total_size(archive)
        with pytest.raises(ValueError):
            lignor.archive_total_size(data)

    assert_no_leaks(round_of_calls, W, F, name, data, archive, source)
