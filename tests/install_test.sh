#!/usr/bin/env bash
# The installed tree on its own: installs the build into a temporary DESTDIR
# and runs what it installed there, with the source and build folders out of
# reach (not on PATH or PYTHONPATH, not named by anything installed).
#
#   install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

stage=$work/stage
if ! DESTDIR=$stage cmake --install "$build" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root=$stage$prefix
init=$(find "$root" -path '*/quellmar/__init__.py' | head -n 1)
[ -n "$init" ] || fail "no Python package installed under $root"
pydir=$(dirname "$(dirname "$init")")
grep -q "Python package quellmar installed in $pydir" "$work/install.log" ||
  fail "the install does not say where the Python package went: $(tail -n 3 "$work/install.log")"

# Nothing installed names the source or build folder (binary files aside).
named=$(grep -rIl -e "$src" -e "$build" "$stage" 2>/dev/null)
[ -z "$named" ] || fail "installed files name the source or build folder: $named"

# Run as a user would: only the installed programs and the system.
alone() {
  (cd "$work/run" && env -i HOME="$work" PATH="$root/bin:/usr/bin:/bin" \
    PYTHONPATH="$pydir" PYTHONDONTWRITEBYTECODE=1 MPLBACKEND=Agg "$@")
}
mkdir -p "$work/run" "$work/reference"
cp "$src"/sample/d02123a.mom "$src"/sample/h02123a.mom "$work/run/"
alone quellmar d02123a.mom >"$work/installed.out" || fail "installed quellmar: status $?"
(cd "$work/reference" && "$build/quellmar" "$src/sample/d02123a.mom" >"$work/reference.out")
for f in "$work"/reference/*; do
  cmp -s "$f" "$work/run/$(basename "$f")" || fail "installed quellmar wrote another $(basename "$f")"
done
cmp -s "$work/reference.out" "$work/installed.out" || fail "installed quellmar printed other summary lines"

where=$(alone /usr/bin/python3 -c 'import quellmar; print(quellmar.__file__)') ||
  fail "import quellmar in the installed tree"
case "$where" in "$pydir"/*) ;; *) fail "import quellmar found $where, not the installed one" ;; esac
version=$(alone /usr/bin/python3 -c 'import importlib.metadata as m; print(m.version("quellmar"))')
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$version" = "$project_version" ] || fail "installed metadata version '$version', project $project_version"

# The extension, when it was built: open_pair, the engine by its entry
# point and inspect, from the installed package alone.
if ls "$build"/python/quellmar/_pairs*.so >/dev/null 2>&1; then
  alone /usr/bin/python3 -c '
import quellmar, xarray as xr
assert quellmar._pairs.__file__.startswith(quellmar.__path__[0])
beams = quellmar.open_pair("d02123a.mom")
xr.testing.assert_identical(xr.open_dataset("d02123a.mom", engine="quellmar", beam=1), beams[1])
assert quellmar.inspect("d02123a.mom")["records"]["count"] > 0
url = xr.backends.list_engines()["quellmar"].url
assert url.startswith("file://") and "Reading the pairs directly" in open(url[7:]).read(), url
' || fail "open_pair, the engine (its url the installed documentation) or inspect from the installed package"
fi

# Every installed program has its manual page, which names every option its
# --help lists.
for program in "$root"/bin/*; do
  name=$(basename "$program")
  page=$root/share/man/man1/$name.1
  [ -f "$page" ] || { fail "no manual page for $name"; continue; }
  [ "$name" = quellmar ] && continue # a single argument is always a data file
  help=$(alone "$name" --help) || fail "$name --help: status $?"
  if [ "$name" = quellmar-plot ]; then
    for kind in $(echo "$help" | sed -n 's/^usage: quellmar-plot \[-h\] {\([a-z,]*\)}.*/\1/p' | tr , ' '); do
      help+=$(alone "$name" "$kind" --help)
    done
  fi
  text=$(sed 's/\\-/-/g' "$page")
  for option in $(echo "$help" | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "man $name does not name $option"
  done
done
for page in "$root"/share/man/man1/*.1; do
  [ -x "$root/bin/$(basename "$page" .1)" ] || fail "manual page $(basename "$page") without its program"
done
[ -f "$root/share/doc/quellmar/README.md" ] || fail "no docs in share/doc/quellmar"

# The Python package as pip installs it, offline, from a copy of the
# checkout, into a virtual environment that sees the system's packages; with
# pybind11 the extension module is compiled from the C++ sources beside it.
if /usr/bin/python3 -c 'import venv, setuptools, wheel' 2>/dev/null; then
  mkdir -p "$work/src"
  cp -r "$src/CMakeLists.txt" "$src/disk" "$src/companions" "$src/python" "$work/src/"
  if /usr/bin/python3 -m venv --system-site-packages "$work/venv" &&
    "$work/venv/bin/pip" install -q --no-index --no-build-isolation "$work/src/python" >"$work/pip.log" 2>&1; then
    venv() { (cd "$work/run" && env -i HOME="$work" PATH="$work/venv/bin:/usr/bin:/bin" MPLBACKEND=Agg "$@"); }
    venv quellmar-plot --help >/dev/null || fail "quellmar-plot from pip: status $?"
    if /usr/bin/python3 -c 'import pybind11' 2>/dev/null; then
      venv python3 -c 'import xarray as xr; xr.open_dataset("d02123a.mom", engine="quellmar").VEL.load()' ||
        fail "the engine after pip install: status $?"
    fi
  else
    fail "pip install of python/: $(tail -n 3 "$work/pip.log")"
  fi
else
  echo "skipped: pip install of python/ (Debian python3-venv, python3-setuptools, python3-wheel)"
fi

if [ $failures -gt 0 ]; then
  exit 1
fi
echo "installed tree: programs, manual pages, docs and the Python package work alone"
