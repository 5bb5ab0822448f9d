"""Shared fixtures: the module under test and the corpus of real files."""

import os
import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
CORPUS = pathlib.Path(os.environ.get("LIGNOR_CORPUS_DIR", REPO.parent / "shared" / "corpus"))


def corpus_files():
    """Every GEDCOM file of the shared corpus, or nothing when it is absent."""
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.iterdir() if p.suffix.lower() == ".ged")


@pytest.fixture(scope="session")
def lignor():
    import lignor as module

    return module
