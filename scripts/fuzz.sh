#!/usr/bin/env bash
# Fuzzes what a peer can send (both input framings, offered file names, lists of entries and
# requests to the LocalSend server) with libFuzzer, each target for the given number of
# seconds (default 20). A longer run is the same command with a bigger number, e.g.
# scripts/fuzz.sh 600.
#
# Installs nothing: besides what scripts/install-deps.sh installs it needs the Debian
# packages clang-14 and libclang-rt-14-dev. Builds in build-fuzz, fuzzes copies of the seed
# corpora in a temporary folder, and keeps any crashing input in build-fuzz/fuzz-crashes.
# Exits non-zero when a target crashes or a check in it fails.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds-per-target]" >&2
  exit 2
fi

for tool in clang-14 clang++-14; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool not found: install the Debian packages clang-14 and libclang-rt-14-dev" >&2
    exit 2
  fi
done

# Target name, longest input: a receiver's input holds a few block messages of 2049 bytes.
targets=(
  "receiverinput 8192"
  "senderinput 4096"
  "offername 4096"
  "lanereceiver 8192"
  "lanesender 4096"
  "lanesession 512"
  "entriessession 512"
  "manifest 8192"
  "localsendserver 1024"
)

build=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRUVO_FUZZ=ON -DBUILD_TESTING=ON >/dev/null
names=()
for target in "${targets[@]}"; do
  names+=("fuzz_${target%% *}")
done
cmake --build "$build" -j2 --target "${names[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
crashes=$PWD/$build/fuzz-crashes
mkdir -p "$crashes"

# A smaller quarantine than the default 256 MB keeps each fuzzer under 300 MB of memory.
export ASAN_OPTIONS=abort_on_error=1:quarantine_size_mb=16
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for target in "${targets[@]}"; do
  read -r name max_len <<<"$target"
  echo "== fuzz_$name for ${seconds}s =="
  cp -r "tests/fuzz/corpus/$name" "$work/$name"
  # One process each: the machines this runs on are shared.
  if ! "$build/tests/fuzz/fuzz_$name" "$work/$name" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -dict=tests/fuzz/protocol.dict -artifact_prefix="$crashes/$name-" \
    -print_final_stats=1 2>"$work/$name.log"; then
    failed+=("$name")
    tail -n 60 "$work/$name.log" >&2
  fi
  grep -E '^(#[0-9]+\s+DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
    "$work/$name.log" || true
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]} (inputs in $crashes; rerun one with" \
    "$build/tests/fuzz/fuzz_<name> <file>)" >&2
  exit 1
fi
echo "fuzzing passed"
