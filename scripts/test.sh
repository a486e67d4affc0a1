#!/usr/bin/env bash
# Builds Ruvo and runs every test: once in a normal build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DRUVO_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure --timeout 300
}

echo "== Tests =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DRUVO_SANITIZE=ON

echo "== The Debian package: built and its contents checked =="
scripts/check-package.sh

echo "== Fuzzing what a peer can send (20 s per target) =="
scripts/fuzz.sh 20
