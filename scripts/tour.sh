#!/usr/bin/env bash
# Builds the Python module in build-tour/ (a folder of its own, so that the
# build/ of the README and test.sh keeps its settings) and runs the tour on a
# GEDCOM file (the bundled sample when none is given): ./scripts/tour.sh [PATH]
set -euo pipefail
cd "$(dirname "$0")/.."
python=${LIGNOR_PYTHON:-/usr/bin/python3}
cmake -S . -B build-tour -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIGNOR_WERROR=ON -DLIGNOR_BUILD_TESTS=OFF \
      -DPython3_EXECUTABLE="$python" >/dev/null
cmake --build build-tour --target lignor_python >/dev/null
PYTHONPATH="$PWD/build-tour/python" "$python" examples/tour.py "$@"
