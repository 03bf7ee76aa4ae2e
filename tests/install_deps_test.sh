#!/usr/bin/env bash
# scripts/install-deps with stand-ins for dpkg-query, id, sudo and apt-get on
# a PATH of their own: what it installs, the line it prints, its status.
#
#   install_deps_test.sh PATH/TO/scripts/install-deps
set -uo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# setup MISSING UID SUDO: a bin folder where the packages in MISSING are not
# installed, id -u prints UID, and sudo (when SUDO is yes) runs its command.
setup() {
  rm -rf "$work/bin" && mkdir -p "$work/bin"
  for tool in bash grep env cat; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
  printf '%s\n' $1 >"$work/missing"
  cat >"$work/bin/dpkg-query" <<EOS
#!$(command -v bash)
grep -qx "\${@: -1}" "$work/missing" && exit 1
printf 'install ok installed'
EOS
  printf '#!%s\necho %s\n' "$(command -v bash)" "$2" >"$work/bin/id"
  printf '#!%s\necho "$*" >>"%s/apt.log"\n' "$(command -v bash)" "$work" >"$work/bin/apt-get"
  if [ "$3" = yes ]; then
    printf '#!%s\necho sudo >>"%s/apt.log"\nexec "$@"\n' "$(command -v bash)" "$work" >"$work/bin/sudo"
  fi
  chmod +x "$work/bin"/*
  rm -f "$work/apt.log"
}

run() {
  PATH=$work/bin "$script" "$@" >"$work/out" 2>"$work/err"
}

# A package the purpose needs is missing and nothing can install it.
setup "cmake python3-matplotlib" 1000 no
run run; status=$?
[ $status -eq 1 ] || fail "missing cmake: status $status (wanted 1)"
grep -qx "    apt-get install --no-install-recommends cmake python3-matplotlib" "$work/err" ||
  fail "missing cmake: no apt-get line: $(cat "$work/err")"
[ ! -e "$work/apt.log" ] || fail "apt-get ran without root or sudo"

# Only optional packages are missing: make run goes on, the full check stops.
setup "python3-matplotlib libnetcdf-dev" 1000 no
run run; status=$?
[ $status -eq 0 ] || fail "optional only: make run status $status (wanted 0)"
grep -q "apt-get install --no-install-recommends libnetcdf-dev python3-matplotlib" "$work/err" ||
  fail "optional only: no apt-get line: $(cat "$work/err")"
grep -q "going on without them" "$work/err" || fail "optional only: no note that it goes on"
run; status=$?
[ $status -eq 1 ] || fail "optional only: the full check gave status $status (wanted 1)"

# libgtest-dev is needed by make test, not by make run.
setup "libgtest-dev" 1000 no
run run; status=$?
[ $status -eq 0 ] || fail "no GoogleTest: make run status $status (wanted 0)"
run test; status=$?
[ $status -eq 1 ] || fail "no GoogleTest: make test status $status (wanted 1)"

# make deb holds every program: the optional packages are needed there,
# and dpkg-dev, which make run does not need.
setup "libnetcdf-dev" 1000 no
run deb; status=$?
[ $status -eq 1 ] || fail "no netCDF: make deb status $status (wanted 1)"
setup "dpkg-dev" 1000 no
run run; status=$?
[ $status -eq 0 ] || fail "no dpkg-dev: make run status $status (wanted 0)"
run deb; status=$?
[ $status -eq 1 ] || fail "no dpkg-dev: make deb status $status (wanted 1)"

# dask for archives and clusters: optional for make test, installed by make
# deb, whose package recommends them.
setup "python3-distributed python3-dask" 1000 no
run test; status=$?
[ $status -eq 0 ] || fail "no dask: make test status $status (wanted 0)"
grep -q "apt-get install --no-install-recommends python3-dask python3-distributed" "$work/err" ||
  fail "no dask: no apt-get line: $(cat "$work/err")"
run deb; status=$?
[ $status -eq 1 ] || fail "no dask: make deb status $status (wanted 1)"

# Through sudo: the list is updated, then exactly the missing ones installed.
setup "clang bc" 1000 yes
run; status=$?
[ $status -eq 0 ] || fail "sudo: status $status (wanted 0): $(cat "$work/err")"
printf 'sudo\nupdate -q\nsudo\ninstall -y -q --no-install-recommends clang bc\n' >"$work/wanted"
cmp -s "$work/wanted" "$work/apt.log" || fail "sudo: apt-get calls: $(cat "$work/apt.log")"

# As root: apt-get itself; nothing missing: nothing run, nothing printed.
setup "make" 0 no
run run; status=$?
[ $status -eq 0 ] || fail "root: status $status"
grep -q "install -y -q --no-install-recommends make" "$work/apt.log" || fail "root: no install"
setup "" 1000 no
run; status=$?
[ $status -eq 0 ] && [ ! -s "$work/err" ] && [ ! -e "$work/apt.log" ] || fail "all there: not quiet"

if [ $failures -gt 0 ]; then
  exit 1
fi
echo "install-deps: all cases hold"
