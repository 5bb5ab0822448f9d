#!/usr/bin/env bash
# The package as a user gets it: builds the wheel, installs it into a fresh
# virtual environment, and from outside the checkout runs the Python tests
# against the installed module, holds the stub to the module with stubtest,
# and type-checks examples/ strictly against the stub. Also checks that
# `pip install .` builds a wheel with the same files and writes nothing into
# the source tree. Run from anywhere: ./scripts/check_package.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
python=${LIGNOR_PYTHON:-/usr/bin/python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # nothing of the checkout on sys.path

tree_state() { git -C "$repo" status --porcelain --ignored --untracked-files=all; }
before=$(tree_state)

echo "-- building the wheel"
"$python" -m build --wheel --no-isolation --outdir "$work/dist" "$repo" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; exit 1; }
wheel=$(echo "$work"/dist/lignor-*.whl)
"$python" -m zipfile -l "$wheel"

echo "-- installing it into a fresh virtual environment"
# The system's site packages give the environment pytest, hypothesis and mypy.
"$python" -m venv --system-site-packages "$work/venv"
venv_python="$work/venv/bin/python"
"$venv_python" -m pip install --quiet --no-index "$wheel"
"$venv_python" -c "import lignor, sys; print(lignor.__version__, 'from', lignor.__file__)
assert lignor.__file__.startswith(sys.prefix), 'the module did not come from the environment'"

echo "-- pip install . builds the same files and leaves the source tree as it was"
"$python" -m venv "$work/bare"
"$work/bare/bin/pip" install --quiet --no-build-isolation "$repo"
site=$("$work/bare/bin/python" -c "import sysconfig; print(sysconfig.get_path('platlib'))")
installed=$(cut -d, -f1 "$site"/lignor-*.dist-info/RECORD | grep -v -e '^\.\./' -e '/INSTALLER$' \
            -e '/REQUESTED$' -e '/direct_url.json$' | sort)
built=$("$python" -m zipfile -l "$wheel" | awk 'NR > 1 {print $1}' | sort)
[[ "$installed" == "$built" ]] || { echo "pip built other files:"; diff <(echo "$built") <(echo "$installed"); exit 1; }
[[ "$(tree_state)" == "$before" ]] || { echo "building changed the source tree:"; diff <(echo "$before") <(tree_state); exit 1; }
echo "same $(echo "$built" | wc -l) files; source tree untouched"

echo "-- the Python tests against the installed module"
LIGNOR_HYPOTHESIS_DIR="$work/hypothesis" "$venv_python" -m pytest -q -p no:cacheprovider "$repo/tests/python"

echo "-- stubtest: the stub against the installed module"
"$venv_python" -m mypy.stubtest --allowlist "$repo/python/stubtest-allowlist.txt" lignor

echo "-- mypy --strict over examples/"
"$venv_python" -m mypy --strict --no-incremental "$repo/examples"
