#!/usr/bin/env bash
# Builds the Python module and runs the tour on a GEDCOM file (the bundled
# sample when none is given): ./scripts/tour.sh [PATH]
set -euo pipefail
cd "$(dirname "$0")/.."
python=${LIGNOR_PYTHON:-/usr/bin/python3}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIGNOR_WERROR=ON \
      -DPython3_EXECUTABLE="$python" >/dev/null
cmake --build build --target lignor_python >/dev/null
PYTHONPATH="$PWD/build/python" "$python" examples/tour.py "$@"
