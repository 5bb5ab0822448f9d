"""Reading the code pages files declare, the caller's own encoding, stray
bytes in UTF-8 and ANSEL marks split across CONC, held to Python's codecs."""

import encodings
import importlib
import pkgutil
import unicodedata

import pytest

from conftest import assert_no_leaks

# One sentence for every code page; each file keeps the letters its page has.
SENTENCE = (
    "Fr\u00e9mont, \u00c5sa M\u00fcller, \u0141\u00f3d\u017a, \u017dofie \u010capkov\u00e1, "
    "\u0152uvre \u20ac5, \u0418\u0432\u0430\u043d \u0401\u043b\u043a\u0438\u043d, "
    "na\u00efve fa\u00e7ade"
)


def letters_of(codec):
    def fits(character):
        try:
            character.encode(codec)
        except UnicodeEncodeError:
            return False
        return True

    return "".join(c for c in SENTENCE if fits(c))


def gedcom(char, note):
    return f"0 HEAD\n1 CHAR {char}\n0 @N1@ NOTE {note}\n0 TRLR\n"


@pytest.mark.parametrize(
    "codec, char, summary",
    [
        ("cp437", "IBMPC", "Read as IBM PC (code page 437), declared IBMPC"),
        ("cp850", "MSDOS", "Read as MS-DOS (code page 850), declared MSDOS"),
        ("mac_roman", "MACINTOSH", "Read as Mac OS Roman, declared MACINTOSH"),
        ("cp1251", "WINDOWS-1251", "Read as Windows-1251, declared WINDOWS-1251"),
        ("iso8859_2", "ISO-8859-2", "Read as ISO-8859-2, declared ISO-8859-2"),
        ("iso8859_15", "ISO 8859-15", "Read as ISO-8859-15, declared ISO 8859-15"),
        ("iso8859_16", "ISO-8859-16", "Read as ISO-8859-16, declared ISO-8859-16"),
        ("cp852", "CP852", "Read as IBM852, declared CP852"),
    ],
)
def test_declared_code_pages_read_as_pythons_codecs_do(lignor, codec, char, summary):
    letters = letters_of(codec)
    assert len({c for c in letters if not c.isascii()}) >= 4
    data = gedcom(char, letters).encode(codec)
    g = lignor.Gedcom.parse(data)
    assert g.encoding == summary
    assert g.to_text() == data.decode(codec)
    # Written back as UTF-8 that says so, and read back to the same letters.
    again = lignor.Gedcom.parse(g.to_bytes())
    assert again.to_text() == g.to_text().replace(f"1 CHAR {char}\n", "1 CHAR UTF-8\n")


def table_codecs():
    """Every code page Python's standard library decodes through a table."""
    found = []
    for module in pkgutil.iter_modules(encodings.__path__):
        try:
            codec = importlib.import_module(f"encodings.{module.name}")
        except ImportError:  # another platform's codec
            continue
        if hasattr(codec, "decoding_table"):
            found.append(module.name)
    return found


@pytest.mark.parametrize("codec", table_codecs())
def test_every_code_page_reads_each_byte_as_pythons_codec_does(lignor, codec):
    def read(byte):
        return bytes([byte]).decode(codec, "replace")

    every_byte = bytes(b for b in range(256) if read(b) not in ("\r", "\n"))
    head, tail = "0 HEAD\n0 @N1@ NOTE ".encode(codec), "\n0 TRLR\n".encode(codec)
    g = lignor.Gedcom.parse(head + every_byte + tail, encoding=codec)
    # The Latin-1 pages are read as Windows-1252, whose undefined bytes are
    # the controls of the same number.
    windows_1252 = g.encoding.startswith("Read as ANSI (Windows-1252)")
    if windows_1252:
        note = every_byte.decode("cp1252", "stray-windows-1252")
    else:
        note = "".join(read(b) for b in every_byte)
    assert g.to_text() == f"0 HEAD\n0 @N1@ NOTE {note}\n0 TRLR\n"
    undefined = 0 if windows_1252 else note.count("\ufffd")
    assert g.encoding.endswith(f", {undefined} byte(s) undecodable" if undefined else "declared")


CYRILLIC = gedcom("ANSI", "\u0418\u0432\u0430\u043d \u0401\u043b\u043a\u0438\u043d")


@pytest.mark.parametrize(
    "data, encoding, text, summary",
    [
        (
            CYRILLIC.encode("cp1251"),
            "windows-1251",
            CYRILLIC,
            "Read as Windows-1251, chosen by the caller, declared ANSI",
        ),
        (
            b"\xef\xbb\xbf" + CYRILLIC.encode("cp1251"),
            "CP1251",
            CYRILLIC,
            "Read as Windows-1251, chosen by the caller, UTF-8 byte-order mark ignored, declared ANSI",
        ),
        (
            gedcom("UTF-8", "Fr\u00e9mont").encode("cp437"),
            "IBM PC",
            gedcom("UTF-8", "Fr\u00e9mont"),
            "Read as IBM PC (code page 437), chosen by the caller, declared UTF-8",
        ),
        (
            gedcom("ANSEL", "Fr\u00e9mont").encode("utf-16"),
            "utf_16",
            gedcom("ANSEL", "Fr\u00e9mont"),
            "Read as UTF-16 (little-endian) (byte-order mark), chosen by the caller, declared ANSEL",
        ),
        (
            gedcom("ANSI", "\u00c6gir").encode("latin_1"),
            "latin_1",
            gedcom("ANSI", "\u00c6gir"),
            "Read as ANSI (Windows-1252), chosen by the caller, declared ANSI",
        ),
    ],
    ids=[
        "codec-name",
        "mark-ignored",
        "gedcom-name",
        "utf16-by-its-mark",
        "latin1-as-windows-1252",
    ],
)
def test_the_callers_encoding_wins_over_the_file(lignor, data, encoding, text, summary):
    g = lignor.Gedcom.parse(data, encoding=encoding)
    assert g.to_text() == text
    assert g.encoding == summary


def test_an_unknown_encoding_raises_lookup_error_naming_it(lignor):
    with pytest.raises(LookupError, match="no-such-charset"):
        lignor.Gedcom.parse(b"0 HEAD\n", encoding="no-such-charset")
    with pytest.raises(TypeError):
        lignor.Gedcom.parse(b"0 HEAD\n", "cp437")
    assert_no_leaks(lambda: lignor.Gedcom.parse(CYRILLIC.encode("cp1251"), encoding="cp1251"))


@pytest.mark.parametrize(
    "data, title, summary",
    [
        # Valid accented letters survive a few bytes that are not UTF-8.
        (
            "0 HEAD\n1 CHAR UTF-8\n0 @N1@ NOTE Ren\u00e9, caf\u00e9".encode()
            + b"\x85\x81\n0 TRLR\n",
            "Ren\u00e9, caf\u00e9\u2026\x81",
            "Read as UTF-8, declared UTF-8, 2 invalid byte(s) read as Windows-1252",
        ),
        # "arr\u00eat\u00e9" split right after its circumflex.
        (
            b"0 HEAD\r\n1 CHAR ANSEL\r\n0 @N1@ NOTE arr\xe3\r\n1 CONC et\xe2e\r\n0 TRLR\r\n",
            "arr\u00eat\u00e9",
            "Read as ANSEL, declared ANSEL",
        ),
    ],
    ids=["utf8-with-stray-bytes", "ansel-mark-before-conc"],
)
def test_letters_survive_what_real_exports_do_to_them(lignor, data, title, summary):
    g = lignor.Gedcom.parse(data)
    assert g.encoding == summary
    assert unicodedata.normalize("NFC", g.record("@N1@")["title"]) == title
    again = lignor.Gedcom.parse(g.to_bytes())
    assert again.record("@N1@")["title"] == g.record("@N1@")["title"]


@pytest.mark.parametrize("codec, char", [("utf-16", "UNICODE"), ("cp1252", "ANSI")])
def test_a_large_file_in_a_decoded_encoding_reads_whole(lignor, codec, char):
    # The decoded copy of the file goes back to the system behind the read;
    # every line of several megabytes must still arrive intact.
    accent = "\u00e9"
    records = "".join(
        f"0 @I{i}@ INDI\n1 NAME {SENTENCE[i % 40:]} /{i}/\n2 NOTE {accent * (i % 300)}\n"
        for i in range(12000)
    )
    text = f"0 HEAD\n1 CHAR {char}\n{records}0 TRLR\n"
    letters = text.encode(codec, errors="replace").decode(codec)
    assert len(letters) > 2_000_000
    assert lignor.Gedcom.parse(letters.encode(codec)).to_text() == letters
