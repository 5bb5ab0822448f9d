#!/usr/bin/env bash
# Builds everything (core, tests, Python module) and runs every test, C++ and
# Python, through CTest so that one summary covers both suites.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${LIGNOR_PYTHON:-/usr/bin/python3}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIGNOR_WERROR=ON \
      -DPython3_EXECUTABLE="$python" >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build -j "$(nproc)" --output-on-failure
