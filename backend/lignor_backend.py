"""The build backend of the `lignor` package (PEP 517), standard library only.

A wheel holds the package `lignor`: the extension module as its
`__init__`, the type stub beside it as `__init__.pyi`, and the `py.typed`
marker that tells type checkers to read the stub. The extension is built by
the project's CMake build in a temporary folder (Release, tests and
benchmarks off, only the module target), for the interpreter running this
backend, so nothing is written into the source tree. A compiler launcher
such as ccache is taken from CMAKE_CXX_COMPILER_LAUNCHER, which CMake reads
from the environment.

Setuptools is not used because the wheels of Debian 12's virtual
environments come without the `wheel` package it needs to build one, so
`pip install --no-build-isolation .` would fail in a fresh environment.
"""

import base64
import hashlib
import io
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import tomllib
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
STUB = ROOT / "python" / "lignor.pyi"
# What a source distribution needs to build the module.
SDIST_PATHS = [
    "pyproject.toml",
    "VERSION",
    "README.md",
    "CMakeLists.txt",
    "cmake",
    "src",
    "python",
    "fuzz/CMakeLists.txt",
    "backend/lignor_backend.py",
]
# Every file of a wheel or source distribution gets this time stamp
# (SOURCE_DATE_EPOCH when set), so that two builds differ only where their
# contents do.
EPOCH = int(os.environ.get("SOURCE_DATE_EPOCH", 315532800))  # 1980-01-01, ZIP's first day


def _project():
    with open(ROOT / "pyproject.toml", "rb") as file:
        project = tomllib.load(file)["project"]
    return project["name"], (ROOT / "VERSION").read_text(encoding="utf-8").strip(), project


def _metadata():
    name, version, project = _project()
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {name}",
        f"Version: {version}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
        "Description-Content-Type: text/markdown",
        "",
        "",
    ]
    return "\n".join(lines) + (ROOT / project["readme"]).read_text(encoding="utf-8")


def _wheel_tag():
    interpreter = f"{sys.implementation.name[:2]}{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}{sys.abiflags}-{platform}"


def _build_extension(build_dir):
    """Builds the module for this interpreter and returns the file made."""
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(
        [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(build_dir),
            *generator,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DLIGNOR_BUILD_TESTS=OFF",
            "-DLIGNOR_BUILD_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ],
        check=True,
        stdout=sys.stderr,
    )
    subprocess.run(
        [
            "cmake",
            "--build",
            str(build_dir),
            "--target",
            "lignor_python",
            "-j",
            str(os.cpu_count() or 1),
        ],
        check=True,
        stdout=sys.stderr,
    )
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    return build_dir / "python" / f"lignor{suffix}", suffix


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _zip_entry(archive, path, data, mode=0o644):
    info = zipfile.ZipInfo(path, date_time=time.gmtime(EPOCH)[:6])
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    name, version, _ = _project()
    tag = _wheel_tag()
    dist_info = f"{name}-{version}.dist-info"
    with tempfile.TemporaryDirectory(prefix="lignor-wheel-") as scratch:
        extension, suffix = _build_extension(pathlib.Path(scratch))
        files = {
            f"lignor/__init__{suffix}": (extension.read_bytes(), 0o755),
            "lignor/__init__.pyi": (STUB.read_bytes(), 0o644),
            "lignor/py.typed": (b"", 0o644),
            f"{dist_info}/METADATA": (_metadata().encode(), 0o644),
            f"{dist_info}/WHEEL": (
                (
                    "Wheel-Version: 1.0\nGenerator: lignor_backend\n"
                    f"Root-Is-Purelib: false\nTag: {tag}\n"
                ).encode(),
                0o644,
            ),
        }
    record = [_record_line(path, data) for path, (data, _) in files.items()]
    record.append(f"{dist_info}/RECORD,,")
    files[f"{dist_info}/RECORD"] = (("\n".join(record) + "\n").encode(), 0o644)
    wheel_name = f"{name}-{version}-{tag}.whl"
    with zipfile.ZipFile(pathlib.Path(wheel_directory) / wheel_name, "w") as archive:
        for path, (data, mode) in files.items():
            _zip_entry(archive, path, data, mode)
    return wheel_name


def _sdist_filter(info):
    info.mtime = EPOCH
    info.uid = info.gid = 0
    info.uname = info.gname = ""
    return None if "__pycache__" in info.name else info


def build_sdist(sdist_directory, config_settings=None):
    name, version, _ = _project()
    base = f"{name}-{version}"
    sdist_name = f"{base}.tar.gz"
    with tarfile.open(pathlib.Path(sdist_directory) / sdist_name, "w:gz") as archive:
        for path in SDIST_PATHS:
            archive.add(ROOT / path, f"{base}/{path}", filter=_sdist_filter)
        metadata = _metadata().encode()
        info = _sdist_filter(tarfile.TarInfo(f"{base}/PKG-INFO"))
        info.size = len(metadata)
        archive.addfile(info, io.BytesIO(metadata))
    return sdist_name
