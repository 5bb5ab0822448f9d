# Types of the `lignor` extension module. The few docstrings here are the
# module's own, word for word (tests/python/test_stub.py holds them to it).
# The TypedDicts and Literal aliases name the shapes of the plain dicts and
# strings the module hands out and takes: they exist for type checkers only.
# Keys are listed in the order the module writes them.

from os import PathLike
from _typeshed import ReadableBuffer
from types import TracebackType
from typing import Literal, Required, Self, Sequence, TypedDict, final

__version__: str

class InternalFailure(BaseException):
    """A broken precondition inside lignor: a bug in the library, never bad input."""

# ----- dicts the module returns ----------------------------------------------

class UnresolvedPointer(TypedDict):
    record: str
    path: list[int]
    tag: str
    pointer: str

Calendar = Literal["Gregorian", "Julian", "Hebrew", "FrenchRepublican", "Roman", "Unknown"]
DateKind = Literal[
    "Exact",
    "About",
    "Calculated",
    "Estimated",
    "Before",
    "After",
    "Between",
    "Period",
    "Interpreted",
    "Unparsed",
]

class DatePoint(TypedDict):
    year: int
    month: int | None
    day: int | None
    calendar: Calendar

class DateReading(TypedDict):
    original: str
    calendar: Calendar
    kind: DateKind
    earliest: DatePoint | None
    latest: DatePoint | None
    phrase: str | None
    display: str
    gedcom551: str | None
    gedcom7: str | None

StructureKind = Literal["record", "event", "attribute", "structure", "unknown"]

class StructureView(TypedDict):
    path: list[int]
    level: int
    tag: str
    label: str
    kind: StructureKind
    value: str
    pointer: str | None
    extension: bool
    children: list[StructureView]

class RecordView(TypedDict):
    xref: str | None
    tag: str
    label: str
    title: str
    structures: list[StructureView]
    raw: str

class NameView(TypedDict):
    display: str
    sort: str
    original: str
    kind: str | None
    citations: list[str]

EventView = TypedDict(
    "EventView",
    {
        "tag": str,
        "label": str,
        "date": str | None,
        "dateDisplay": str | None,
        "year": int | None,
        "sortKey": int | None,
        "place": str | None,
        "age": str | None,
        "cause": str | None,
        "attribute": bool,
        "value": str | None,
        "citations": list[str],
        "path": list[int],
    },
)

class FamilyLinkView(TypedDict):
    family: str
    pedigree: str | None

class IdentifierView(TypedDict):
    tag: str
    label: str
    value: str
    kind: str | None

IndividualView = TypedDict(
    "IndividualView",
    {
        "xref": str,
        "names": list[NameView],
        "sex": str | None,
        "events": list[EventView],
        "childIn": list[FamilyLinkView],
        "partnerIn": list[FamilyLinkView],
        "citations": list[str],
        "media": list[str],
        "identifiers": list[IdentifierView],
    },
)

class FamilyView(TypedDict):
    xref: str
    husband: str | None
    wife: str | None
    children: list[str]
    events: list[EventView]

Severity = Literal["Contradiction", "Question", "Missing"]

class Finding(TypedDict):
    record: str
    check: str
    severity: Severity
    message: str

class WrappedLine(TypedDict):
    record: str
    path: list[int]
    tag: str
    wrapped: bool
    reason: str | None

Version7ProblemKind = Literal[
    "trailing-space",
    "line-form",
    "identifier-on-substructure",
    "unescaped-at",
    "undefined-structure",
    "cardinality",
    "payload",
    "enumeration",
    "pointer-type",
    "no-such-record",
    "duplicate-identifier",
    "header-trailer",
    "empty-structure",
    "continuation",
    "banned-character",
]

class Version7Problem(TypedDict):
    line: int
    record: str | None
    path: list[int]
    tag: str
    kind: Version7ProblemKind
    message: str

NoteKind = Literal["Converted", "Dropped", "Kept"]

class ConversionNote(TypedDict):
    record: str | None
    tag: str
    kind: NoteKind
    detail: str

# ----- descriptions the module takes -----------------------------------------

class StructureDescription(TypedDict, total=False):
    tag: Required[str]
    value: str | None
    children: Sequence[StructureDescription]

class RecordDescription(StructureDescription, total=False):
    xref: str | None

# ----- the module's surface ----------------------------------------------------

class ParseLimits(TypedDict, total=False):
    max_file_bytes: int
    max_line_length: int
    max_records: int
    max_lines: int
    max_depth: int

@final
class Gedcom:
    @classmethod
    def parse(
        cls,
        data: ReadableBuffer,
        *,
        encoding: str | None = None,
        limits: ParseLimits | None = None,
    ) -> Gedcom:
        """Reads a document from a file's bytes (`bytes`, or any bytes-like
        object, which is copied first): encoding sniffed and reported, then
        parsed. Raises `ValueError` for input the bounds refuse.

        `encoding` names the encoding the bytes are in, whatever the file
        declares: a GEDCOM CHAR value ("IBMPC", "MSDOS", "MACINTOSH",
        "ANSEL", "windows-1251", "ISO-8859-2") or a codec name ("cp437",
        "mac_roman"); a byte-order mark of another encoding is ignored.
        Raises `LookupError` for a name it does not know, and `ValueError` for
        UTF-16 named for bytes that show neither its byte-order mark nor its
        shape.

        `limits` tightens some of those bounds by name (`max_file_bytes`,
        `max_line_length`, `max_records`, `max_lines`, `max_depth`); the
        document is read under them, and every edit keeps it within them."""
    @classmethod
    def new_v551(cls, source_system: str) -> Gedcom: ...
    @classmethod
    def new_v7(cls) -> Gedcom: ...
    def append_records(self, records: Sequence[RecordDescription]) -> None: ...
    def append_structures(
        self, record: str, path: Sequence[int], structures: Sequence[StructureDescription]
    ) -> None: ...
    def wrap_long_lines(self, max_line_bytes: int = 255) -> list[WrappedLine]: ...
    def fit_line_limit(self, xref: str, max_line_bytes: int = 255) -> list[WrappedLine]: ...
    @property
    def encoding(self) -> str: ...
    @property
    def version(self) -> str | None: ...
    @property
    def content_records(self) -> int: ...
    def records(self) -> list[RecordView]: ...
    def record(self, xref: str) -> RecordView: ...
    def individuals(self) -> list[IndividualView]: ...
    def families(self) -> list[FamilyView]: ...
    def validate(self) -> list[Finding]: ...
    def check_version7(self) -> list[Version7Problem]:
        """Every problem of the GEDCOM 7 text `to_text()` writes: line syntax,
        structures version 7 does not define where they stand, cardinalities,
        payload types, enumerations, pointers, duplicate identifiers, and the
        header and trailer. Each is a dict with its line number in that text,
        the record, the structure path and tags, the kind, and a message
        saying what version 7 expects; an empty list means the text conforms."""
    def unresolved_pointers(self) -> list[UnresolvedPointer]: ...
    def parents_of(self, xref: str) -> list[str]: ...
    def children_of(self, xref: str) -> list[str]: ...
    def partners_of(self, xref: str) -> list[str]: ...
    def set_logical_value(self, xref: str, path: Sequence[int], value: str) -> None: ...
    def to_text(self) -> str: ...
    def to_bytes(self) -> bytes: ...
    def to_version7(
        self, owned: Sequence[tuple[str, str]] | None = None
    ) -> tuple[Gedcom, list[ConversionNote]]: ...
    def to_version551(self) -> tuple[Gedcom, list[ConversionNote]]: ...
    def __len__(self) -> int: ...

@final
class ArchiveWriter:
    @classmethod
    def new(cls) -> ArchiveWriter: ...
    def add(self, name: str, data: bytes) -> None: ...
    def finish(self) -> bytes: ...

@final
class ArchiveFileWriter:
    def __new__(cls, /, path: str | PathLike[str]) -> Self: ...
    def __enter__(self) -> Self: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> Literal[False]: ...
    def add(self, name: str, data: bytes) -> None: ...
    def add_file(self, name: str, source: str | PathLike[str]) -> None: ...
    def finish(self) -> int: ...

def archive_total_size(data: bytes) -> int: ...
def parse_date(text: str) -> DateReading: ...
