#!/usr/bin/python3
"""Writes a deterministic, realistic GEDCOM 5.5.1 file for the benchmarks.

    generate_gedcom.py --size-mb 50 --encoding utf8 --output /tmp/bench/utf8.ged

The file holds a header, a submitter, a pool of sources, and then families
written one at a time: the partners and children as INDI records, each
followed by the FAM record that links them, with shared NOTE records here and
there. Children marry into later families, so the FAMS/FAMC links form real
lineages. Names and places mix plain ASCII with letters that need diacritics
or special characters (é, ü, ß, ø, ñ, Ł, Þ...), dates cover the GEDCOM
grammar's shapes (ABT, BEF, AFT, EST, CAL, BET ... AND, FROM ... TO, dual
years, plain years, months, full dates), and notes run over CONT and CONC.

Encodings:
  utf8     UTF-8 without a byte-order mark, 1 CHAR UTF-8
  ansel    ANSEL (ANSI Z39.47), 1 CHAR ANSEL: a combining mark is written
           before its base letter; Ł, ø, ß, Æ, Þ... use ANSEL's own bytes
  utf16le  UTF-16 little-endian with a byte-order mark, 1 CHAR UNICODE
  windows1252, cp437
           one byte per letter, 1 CHAR ANSI and 1 CHAR IBMPC: a letter the
           code page lacks is written as its base letter (Ł as L), so both
           files hold the same records in the same number of bytes

Size: the stream of records is cut once its UTF-8 form reaches the budget,
which is --size-mb MiB for utf8 and ansel and half of it for utf16le (two
bytes per character). So every encoding yields a file of about the requested
size, and the same seed with utf8 at N MiB and utf16le at 2N MiB gives the
same records. Lines end in LF. Only the standard library is used.
"""

import argparse
import random
import sys
import unicodedata

MIB = 1024 * 1024
DEFAULT_SEED = 20240611
SOURCE_COUNT = 400
MONTHS = ["JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"]

MALE_NAMES = [
    "John",
    "William",
    "James",
    "George",
    "Thomas",
    "Henry",
    "Charles",
    "Joseph",
    "Samuel",
    "Robert",
    "Edward",
    "Richard",
    "Johann",
    "Friedrich",
    "Heinrich",
    "Karl",
    "Jürgen",
    "Søren",
    "Björn",
    "José",
    "François",
    "Łukasz",
    "Jiří",
    "Ólafur",
    "Þórður",
    "Nuño",
    "André",
    "Zoltán",
    "Mikołaj",
    "Gunnar",
    "Pieter",
    "Jan",
    "Lars",
    "Matthias",
    "Andrés",
]
FEMALE_NAMES = [
    "Mary",
    "Elizabeth",
    "Sarah",
    "Anna",
    "Margaret",
    "Catherine",
    "Maria",
    "Johanna",
    "Ingrid",
    "Zoë",
    "Renée",
    "Hélène",
    "Agnieszka",
    "Małgorzata",
    "Ása",
    "Sigríður",
    "Dolores",
    "Begoña",
    "Françoise",
    "Ursula",
    "Kristín",
    "Jane",
    "Susanna",
    "Martha",
    "Hannah",
    "Ellen",
    "Dorothea",
    "Greta",
    "Åse",
    "Inés",
]
SURNAMES = [
    "Smith",
    "Johnson",
    "Brown",
    "Miller",
    "Müller",
    "Groß",
    "Schröder",
    "Østergaard",
    "Sørensen",
    "Peña",
    "Muñoz",
    "Núñez",
    "Łukasiewicz",
    "Wałęsa",
    "Kowalski",
    "Dvořák",
    "Novák",
    "Ångström",
    "Åberg",
    "Lefèvre",
    "Gagné",
    "Bélanger",
    "Jónsson",
    "Þorsteinsson",
    "Weiß",
    "Strauß",
    "Jones",
    "Taylor",
    "Wilson",
    "Anderson",
    "Nielsen",
    "Hansen",
    "Dubois",
    "García",
    "Martínez",
    "Fernández",
    "Rossi",
    "Esposito",
    "O'Brien",
    "MacDonald",
    "van der Berg",
    "de la Cruz",
    "Fischer",
    "Becker",
    "Walker",
    "Harris",
    "Clark",
    "Lewis",
]
PLACES = [
    "Boston, Suffolk, Massachusetts, USA",
    "Salem, Essex, Massachusetts, USA",
    "Philadelphia, Philadelphia, Pennsylvania, USA",
    "York, Yorkshire, England",
    "Bristol, Gloucestershire, England",
    "Cork, County Cork, Ireland",
    "Zürich, Zürich, Switzerland",
    "München, Bayern, Deutschland",
    "Köln, Rheinland, Preußen",
    "Kraków, Małopolskie, Polska",
    "Łódź, Łódzkie, Polska",
    "Malmö, Skåne, Sverige",
    "Göteborg, Västra Götaland, Sverige",
    "Århus, Midtjylland, Danmark",
    "Ærøskøbing, Syddanmark, Danmark",
    "Bogotá, Cundinamarca, Colombia",
    "Montréal, Québec, Canada",
    "Trois-Rivières, Québec, Canada",
    "Sevilla, Andalucía, España",
    "A Coruña, Galicia, España",
    "Brno, Morava, Česko",
    "Reykjavík, Höfuðborgarsvæðið, Ísland",
    "Toronto, York, Ontario, Canada",
    "Cincinnati, Hamilton, Ohio, USA",
    "Springfield, Sangamon, Illinois, USA",
    "Oslo, Akershus, Norge",
    "Tromsø, Troms, Norge",
]
OCCUPATIONS = [
    "Farmer",
    "Labourer",
    "Blacksmith",
    "Carpenter",
    "Weaver",
    "Shoemaker",
    "Miller",
    "Merchant",
    "Schoolteacher",
    "Seamstress",
    "Innkeeper",
    "Clergyman",
    "Fisherman",
    "Sailor",
    "Cooper",
    "Tailor",
    "Bäcker",
    "Zimmermann",
    "Domestic servant",
    "Clerk",
]
SOURCE_TITLES = [
    "Parish registers of {place}, {start}-{end}",
    "Census of {place}, {start}",
    "Church book of {place}, baptisms and burials {start}-{end}",
    "Probate records of {place}, {start}-{end}",
    "Land deeds of {place}, {start}-{end}",
]
AUTHORS = [
    "Church of St. Mary",
    "County Record Office",
    "Evangelische Kirchengemeinde",
    "Parafia rzymskokatolicka św. Łukasza",
    "Statistisk sentralbyrå",
    "Archivo Histórico",
    "Bureau of the Census",
    "Landsarkivet for Sjælland",
]
NOTE_SENTENCES = [
    "The family lived on a small farm at the edge of the village.",
    "According to the parish register the baptism took place two days after the birth.",
    "The surname is also written {surname} in several later documents.",
    "He served as a churchwarden for many years and signed the vestry minutes.",
    "She is listed in the census with her widowed mother and two younger brothers.",
    "The emigration record gives the port of departure as Hamburg and the ship as the Hammonia.",
    "A letter kept by the family mentions a move to {place} after the harvest failed.",
    "Witnesses at the marriage were neighbours from the same street.",
    "The will names each of the children and leaves the house to the eldest son.",
    "Sources disagree on the year of birth; the gravestone gives an earlier date.",
]

# ---- encodings ---------------------------------------------------------------

# Letters that ANSEL writes as one byte of their own (they do not decompose).
ANSEL_SPECIAL = {
    "Ł": 0xA1,
    "Ø": 0xA2,
    "Đ": 0xA3,
    "Þ": 0xA4,
    "Æ": 0xA5,
    "Œ": 0xA6,
    "·": 0xA8,
    "±": 0xAB,
    "ł": 0xB1,
    "ø": 0xB2,
    "đ": 0xB3,
    "þ": 0xB4,
    "æ": 0xB5,
    "œ": 0xB6,
    "ı": 0xB8,
    "£": 0xB9,
    "ð": 0xBA,
    "°": 0xC0,
    "©": 0xC3,
    "¿": 0xC5,
    "¡": 0xC6,
    "ß": 0xCF,
}
# Combining marks, which ANSEL writes before the letter they belong to.
ANSEL_MARKS = {
    "\u0309": 0xE0,
    "\u0300": 0xE1,
    "\u0301": 0xE2,
    "\u0302": 0xE3,
    "\u0303": 0xE4,
    "\u0304": 0xE5,
    "\u0306": 0xE6,
    "\u0307": 0xE7,
    "\u0308": 0xE8,
    "\u030C": 0xE9,
    "\u030A": 0xEA,
    "\u0315": 0xED,
    "\u030B": 0xEE,
    "\u0310": 0xEF,
    "\u0327": 0xF0,
    "\u0328": 0xF1,
    "\u0323": 0xF2,
    "\u0324": 0xF3,
    "\u0325": 0xF4,
    "\u0333": 0xF5,
    "\u0332": 0xF6,
    "\u0326": 0xF7,
    "\u031C": 0xF8,
    "\u032E": 0xF9,
}


def encode_ansel(text):
    if text.isascii():
        return text.encode("ascii")
    out = bytearray()
    marks = bytearray()
    base = b""
    for char in unicodedata.normalize("NFD", text):
        if char in ANSEL_MARKS:
            marks.append(ANSEL_MARKS[char])
            continue
        out += marks + base
        marks.clear()
        if char.isascii():
            base = char.encode("ascii")
        elif char in ANSEL_SPECIAL:
            base = bytes([ANSEL_SPECIAL[char]])
        else:
            raise ValueError(f"{char!r} has no ANSEL form")
    out += marks + base
    return bytes(out)


def encode_code_page(text, codec):
    """Each letter the code page lacks as its base letter, so that every
    letter takes one byte."""

    def one_byte(char):
        try:
            return char.encode(codec)
        except UnicodeEncodeError:
            base = unicodedata.normalize("NFD", char)[0]
            return base.encode(codec) if base.isascii() else b"?"

    if text.isascii():
        return text.encode("ascii")
    return b"".join(one_byte(char) for char in text)


ENCODINGS = {
    # name: (CHAR value, byte-order mark, encoder, UTF-8 bytes per output byte)
    "utf8": ("UTF-8", b"", lambda text: text.encode("utf-8"), 1),
    "ansel": ("ANSEL", b"", encode_ansel, 1),
    "utf16le": ("UNICODE", b"\xff\xfe", lambda text: text.encode("utf-16-le"), 2),
    "windows1252": ("ANSI", b"", lambda text: encode_code_page(text, "cp1252"), 1),
    "cp437": ("IBMPC", b"", lambda text: encode_code_page(text, "cp437"), 1),
}

# ---- content -------------------------------------------------------------------


class Writer:
    """Collects lines of one record and hands finished records to a sink."""

    def __init__(self, sink):
        self.sink = sink
        self.lines = []

    def line(self, level, tag, value=None, xref=None):
        parts = [str(level)]
        if xref:
            parts.append(xref)
        parts.append(tag)
        if value is not None:
            parts.append(value)
        self.lines.append(" ".join(parts))

    def text(self, level, tag, text, xref=None):
        """A payload over several lines: CONT at paragraph breaks, CONC inside long ones."""
        paragraphs = text.split("\n")
        self._split_long(level, tag, paragraphs[0], level + 1, xref)
        for paragraph in paragraphs[1:]:
            self._split_long(level + 1, "CONT", paragraph, level + 1)

    def _split_long(self, level, tag, text, continuation_level, xref=None):
        limit = 120
        first = True
        while True:
            # Cut inside a word, never next to a space, as GEDCOM 5.5.1 asks of CONC.
            cut = len(text)
            if cut > limit:
                cut = limit
                while cut < len(text) - 1 and (text[cut] == " " or text[cut - 1] == " "):
                    cut += 1
            piece, text = text[:cut], text[cut:]
            if first:
                self.line(level, tag, piece, xref)
                first = False
            else:
                self.line(continuation_level, "CONC", piece)
            if not text:
                return

    def end_record(self):
        self.sink("\n".join(self.lines) + "\n")
        self.lines = []


class Generator:
    def __init__(self, rng, writer):
        self.rng = rng
        self.out = writer
        self.next_person = 1
        self.next_family = 1
        self.next_note = 1
        self.families_planned = 0
        # family id -> (person id, sex, birth year, surname) waiting to marry
        self.pending = {}

    # -- small pieces --

    def uid(self):
        return "%032X" % self.rng.getrandbits(128)

    def fsftid(self):
        letters = "BCDFGHJKLMNPQRSTVWXYZ23456789"
        pick = lambda n: "".join(self.rng.choice(letters) for _ in range(n))
        return pick(4) + "-" + pick(3)

    def date(self, year):
        rng = self.rng
        day, month = rng.randint(1, 28), rng.randrange(12)
        shape = rng.random()
        if shape < 0.40:
            if year < 1752 and month < 3 and rng.random() < 0.5:
                return f"{day} {MONTHS[month]} {year}/{(year + 1) % 100:02d}"
            return f"{day} {MONTHS[month]} {year}"
        if shape < 0.50:
            return f"{MONTHS[month]} {year}"
        if shape < 0.62:
            return str(year)
        if shape < 0.72:
            return f"ABT {year}"
        if shape < 0.77:
            return f"BEF {day} {MONTHS[month]} {year}"
        if shape < 0.81:
            return f"AFT {year}"
        if shape < 0.84:
            return f"EST {year}"
        if shape < 0.86:
            return f"CAL {year}"
        if shape < 0.94:
            return f"BET {year - rng.randint(1, 3)} AND {year + rng.randint(0, 2)}"
        return f"FROM {MONTHS[month]} {year} TO {year + rng.randint(1, 5)}"

    def citation(self, level):
        rng = self.rng
        self.out.line(level, "SOUR", f"@S{rng.randint(1, SOURCE_COUNT)}@")
        if rng.random() < 0.8:
            self.out.line(
                level + 1,
                "PAGE",
                f"Vol. {rng.randint(1, 40)}, p. {rng.randint(1, 600)}, "
                f"entry {rng.randint(1, 80)}",
            )
        if rng.random() < 0.3:
            self.out.line(level + 1, "QUAY", str(rng.randint(0, 3)))

    def event(self, tag, year, cite=0.5):
        self.out.line(1, tag)
        self.out.line(2, "DATE", self.date(year))
        self.out.line(2, "PLAC", self.rng.choice(PLACES))
        if self.rng.random() < cite:
            self.citation(2)

    def note_text(self, surname, paragraphs):
        rng = self.rng
        result = []
        for _ in range(paragraphs):
            sentences = rng.sample(NOTE_SENTENCES, rng.randint(1, 4))
            result.append(" ".join(sentences).format(surname=surname, place=rng.choice(PLACES)))
        return "\n".join(result)

    # -- records --

    def header(self, charset):
        out = self.out
        out.line(0, "HEAD")
        out.line(1, "SOUR", "LIGNOR_BENCH")
        out.line(2, "VERS", "1.0")
        out.line(2, "NAME", "Lignor benchmark generator")
        out.line(1, "DEST", "ANY")
        out.line(1, "DATE", "11 JUN 2024")
        out.line(2, "TIME", "12:00:00")
        out.line(1, "SUBM", "@U1@")
        out.line(1, "FILE", "benchmark.ged")
        out.line(1, "GEDC")
        out.line(2, "VERS", "5.5.1")
        out.line(2, "FORM", "LINEAGE-LINKED")
        out.line(1, "CHAR", charset)
        out.line(1, "LANG", "English")
        out.end_record()
        out.line(0, "SUBM", xref="@U1@")
        out.line(1, "NAME", "Benchmark Submitter")
        out.line(1, "ADDR", "12 Archive Lane")
        out.line(2, "CONT", "Springfield")
        out.line(2, "CITY", "Springfield")
        out.end_record()

    def sources(self):
        rng = self.rng
        for number in range(1, SOURCE_COUNT + 1):
            start = rng.randint(1600, 1880)
            self.out.line(0, "SOUR", xref=f"@S{number}@")
            title = rng.choice(SOURCE_TITLES).format(
                place=rng.choice(PLACES), start=start, end=start + rng.randint(10, 120)
            )
            self.out.line(1, "TITL", title)
            self.out.line(1, "AUTH", rng.choice(AUTHORS))
            self.out.line(
                1,
                "PUBL",
                f"Microfilm {rng.randint(100000, 999999)}, " f"filmed {rng.randint(1950, 2005)}",
            )
            if rng.random() < 0.3:
                self.out.line(1, "NOTE", "Images are partly illegible for the early years.")
            self.out.line(1, "_UID", self.uid())
            self.out.end_record()

    def plan_marriage(self, person, sex, birth, surname):
        """Decides whether a child marries later; if so reserves that family's id."""
        if birth > 1985 or len(self.pending) > 3000 or self.rng.random() > 0.32:
            return None
        self.families_planned += 1
        family = f"@F{self.families_planned}@"
        self.pending[family] = (person, sex, birth, surname)
        return family

    def person(self, sex, birth, surname, famc=None, fams=None, married_name=None):
        rng, out = self.rng, self.out
        person = f"@I{self.next_person}@"
        self.next_person += 1
        given = rng.choice(MALE_NAMES if sex == "M" else FEMALE_NAMES)
        if rng.random() < 0.4:
            given += " " + rng.choice(MALE_NAMES if sex == "M" else FEMALE_NAMES)
        if fams is None and famc is not None:
            fams = self.plan_marriage(person, sex, birth, surname)
        out.line(0, "INDI", xref=person)
        out.line(1, "_UID", self.uid())
        out.line(1, "NAME", f"{given} /{surname}/")
        out.line(2, "GIVN", given)
        out.line(2, "SURN", surname)
        if married_name:
            out.line(2, "_MARNM", married_name)
        out.line(1, "SEX", sex)
        self.event("BIRT", birth, cite=0.6)
        if rng.random() < 0.5:
            self.event("CHR", birth, cite=0.4)
        if rng.random() < 0.7:
            out.line(1, "OCCU", rng.choice(OCCUPATIONS))
        if rng.random() < 0.4:
            out.line(1, "RESI")
            start = birth + rng.randint(18, 40)
            out.line(2, "DATE", f"FROM {start} TO {start + rng.randint(1, 20)}")
            out.line(2, "PLAC", rng.choice(PLACES))
        death = birth + (rng.randint(1, 95) if fams is None else rng.randint(40, 95))
        if death < 2020 and rng.random() < 0.85:
            self.event("DEAT", death, cite=0.5)
            if rng.random() < 0.6:
                self.event("BURI", death, cite=0.2)
        if rng.random() < 0.5:
            out.line(1, "_FSFTID", self.fsftid())
        if famc:
            out.line(1, "FAMC", famc)
        if fams:
            out.line(1, "FAMS", fams)
        note = rng.random()
        if note < 0.15:
            out.text(1, "NOTE", self.note_text(surname, rng.randint(1, 3)))
        elif note < 0.25:
            out.line(1, "NOTE", f"@N{self.next_note}@")
            out.end_record()
            self.note_record(surname)
            return person
        if rng.random() < 0.3:
            out.line(1, "CHAN")
            out.line(
                2, "DATE", f"{rng.randint(1, 28)} {rng.choice(MONTHS)} {rng.randint(2000, 2023)}"
            )
            out.line(
                3,
                "TIME",
                f"{rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d}",
            )
        out.end_record()
        return person

    def note_record(self, surname):
        note = f"@N{self.next_note}@"
        self.next_note += 1
        self.out.text(0, "NOTE", self.note_text(surname, self.rng.randint(2, 4)), xref=note)
        self.out.end_record()

    def family(self, children_wanted=True):
        """Writes one family: its new partners, its children, then the FAM record."""
        rng = self.rng
        self.next_family += 1
        family = f"@F{self.next_family - 1}@"
        if family in self.pending:
            known, sex, birth, surname = self.pending.pop(family)
        else:
            # A family at the top of a lineage: both partners are new.
            birth, sex, surname = rng.randint(1550, 1760), "M", rng.choice(SURNAMES)
            known = self.person("M", birth, surname, fams=family)
        partner_surname = rng.choice(SURNAMES)
        partner_birth = birth + rng.randint(-6, 6)
        if sex == "M":
            husband, husband_surname = known, surname
            wife = self.person(
                "F",
                partner_birth,
                partner_surname,
                fams=family,
                married_name=surname if rng.random() < 0.5 else None,
            )
        else:
            wife, husband_surname = known, partner_surname
            husband = self.person("M", partner_birth, partner_surname, fams=family)
        marriage = max(birth, partner_birth) + rng.randint(18, 32)
        children = []
        if children_wanted:
            for _ in range(rng.choice([0, 1, 2, 2, 3, 3, 4, 5, 6, 8])):
                child_birth = marriage + rng.randint(1, 20)
                children.append(
                    self.person(rng.choice("MF"), child_birth, husband_surname, famc=family)
                )
        out = self.out
        out.line(0, "FAM", xref=family)
        out.line(1, "_UID", self.uid())
        out.line(1, "HUSB", husband)
        out.line(1, "WIFE", wife)
        for child in children:
            out.line(1, "CHIL", child)
        self.event("MARR", marriage, cite=0.5)
        if rng.random() < 0.03:
            self.event("DIV", marriage + rng.randint(2, 20), cite=0.0)
        out.end_record()

    def close_pending(self):
        """Gives every reserved family its record, so that no FAMS link dangles."""
        while self.pending or self.next_family <= self.families_planned:
            self.family(children_wanted=False)


def generate(size_mb, encoding, output, seed):
    charset, bom, encode, utf8_per_byte = ENCODINGS[encoding]
    budget = size_mb * MIB // utf8_per_byte
    written = 0
    with open(output, "wb") as stream:
        stream.write(bom)

        def sink(text):
            nonlocal written
            written += len(text.encode("utf-8"))
            stream.write(encode(text))

        writer = Writer(sink)
        generator = Generator(random.Random(seed), writer)
        generator.header(charset)
        # The header differs between encodings in its CHAR line; counting from
        # here on cuts every encoding's records at the same place.
        written = 0
        generator.sources()
        # Families still waiting for their record cost about 700 bytes each.
        while written + 700 * len(generator.pending) < budget:
            if generator.next_family > generator.families_planned:
                generator.families_planned = generator.next_family
            generator.family()
        generator.close_pending()
        writer.line(0, "TRLR")
        writer.end_record()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=float, required=True, help="approximate size in MiB")
    parser.add_argument("--encoding", choices=sorted(ENCODINGS), default="utf8")
    parser.add_argument("--output", required=True, help="file to write")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    args = parser.parse_args(argv)
    generate(args.size_mb, args.encoding, args.output, args.seed)


if __name__ == "__main__":
    main(sys.argv[1:])
