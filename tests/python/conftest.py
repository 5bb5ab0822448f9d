"""Shared fixtures: the module under test and the corpus of real files."""

import os
import pathlib

import tempfile

import pytest
from hypothesis import settings
from hypothesis.configuration import set_hypothesis_home_dir

# No example database and caches in a temporary folder: runs leave nothing
# behind in the tree.
settings.register_profile("lignor", database=None)
settings.load_profile("lignor")
set_hypothesis_home_dir(tempfile.mkdtemp(prefix="lignor-hypothesis-"))

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
