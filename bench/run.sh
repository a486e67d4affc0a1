#!/usr/bin/env bash
# Moves one file between two copies of Ruvo (two processes running the real window,
# offscreen) and, in the same run, between the blocking reference pair of the same wire
# format and over a raw TCP copy, and prints MB/s, blocks/s, CPU seconds and peak memory of
# each side, with the ratios. Loopback always; as root also across two network namespaces
# joined by a veth pair with MTU 1500. Each link with both ends on one CPU and on two.
#
#   bench/run.sh [size-in-MiB (default 64)]
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=${1:-64}
build=build-bench
export QT_QPA_PLATFORM=offscreen

command -v /usr/bin/time >/dev/null || { echo "bench/run.sh needs /usr/bin/time (apt-get install time)"; exit 1; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target ruvo-harness refpair >/dev/null
harness=$PWD/$build/tests/harness/ruvo-harness
refpair=$PWD/$build/bench/refpair

work=$(mktemp -d)
netns_made=""
cleanup() {
  if [ -n "$netns_made" ]; then
    ip netns del ruvo-bench-a 2>/dev/null || true
    ip netns del ruvo-bench-b 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

file=$work/payload.bin
head -c $((size_mib * 1048576)) /dev/urandom >"$file"
bytes=$(stat -c %s "$file")
blocks=$(((bytes + 2047) / 2048))

# Runs "$@" under /usr/bin/time; leaves "<elapsed> <cpu-seconds> <peak-KiB>" in $2-file.
timed() {
  local out=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$out" "$@"
}

figures() {  # <time-file> -> "cpu peak"
  awk '{printf "%.2f %d", $2 + $3, $4}' "$1"
}

# run_case <label> <cpu-recv> <cpu-send> <ns-recv> <ns-send> <address> <kind>
run_case() {
  local label=$1 cpu_r=$2 cpu_s=$3 ns_r=$4 ns_s=$5 addr=$6 kind=$7
  local in_r=() in_s=()
  [ -n "$ns_r" ] && in_r=(ip netns exec "$ns_r")
  [ -n "$ns_s" ] && in_s=(ip netns exec "$ns_s")
  local port=$((20000 + RANDOM % 20000))
  local out=$work/$kind
  rm -rf "$out" && mkdir -p "$out/recv" "$out/cfg-r" "$out/cfg-s"
  local start end ms
  case $kind in
    ruvo)
      "${in_r[@]}" taskset -c "$cpu_r" /usr/bin/time -f "%e %U %S %M" -o "$out/time-r" \
        "$harness" --listen-port "$port" --config "$out/cfg-r" --folder "$out/recv" --accept \
        --exit-after-transfer >"$out/log-r" 2>&1 &
      local receiver=$!
      sleep 0.5
      "${in_s[@]}" taskset -c "$cpu_s" /usr/bin/time -f "%e %U %S %M" -o "$out/time-s" \
        "$harness" --listen-port 0 --connect-port "$port" --config "$out/cfg-s" --send "$file" \
        --to "$addr" --exit-after-transfer >"$out/log-s" 2>&1
      wait "$receiver"
      ms=$(awk '/^transfer-ms/ {print $2}' "$out/log-r")
      gap=$(awk '/^max-tick-gap-ms/ {print $2}' "$out/log-r")
      ;;
    ref | split | raw)
      local mode_r=recv mode_s=send extra=()
      [ "$kind" = split ] && extra=(split)
      local target=$out/recv
      if [ "$kind" = raw ]; then mode_r=rawrecv mode_s=rawsend target=$out/recv/payload.bin; fi
      "${in_r[@]}" taskset -c "$cpu_r" /usr/bin/time -f "%e %U %S %M" -o "$out/time-r" \
        "$refpair" "$mode_r" "$port" "$target" &
      local receiver=$!
      sleep 0.3
      start=$(date +%s%N)
      "${in_s[@]}" taskset -c "$cpu_s" /usr/bin/time -f "%e %U %S %M" -o "$out/time-s" \
        "$refpair" "$mode_s" "$addr" "$port" "$file" "${extra[@]}"
      wait "$receiver"
      end=$(date +%s%N)
      ms=$(((end - start) / 1000000))
      gap="-"
      ;;
  esac
  cmp -s "$file" "$out/recv/payload.bin" || { echo "$label $kind: the received file differs"; exit 1; }
  [ "$ms" -gt 0 ] || ms=1
  local rate blocks_s
  rate=$(awk -v b="$bytes" -v ms="$ms" 'BEGIN {printf "%.1f", b / 1e6 / (ms / 1000)}')
  blocks_s=$(awk -v n="$blocks" -v ms="$ms" 'BEGIN {printf "%.0f", n / (ms / 1000)}')
  read -r cpu_recv peak_recv <<<"$(figures "$out/time-r")"
  read -r cpu_send peak_send <<<"$(figures "$out/time-s")"
  printf "%-28s %-6s %8s %9s %9s %9s %10s %10s %8s\n" "$label" "$kind" "$rate" "$blocks_s" \
    "$cpu_recv" "$cpu_send" "$peak_recv" "$peak_send" "$gap"
  eval "rate_${kind}=$rate"
}

run_link() {
  local label=$1 cpu_r=$2 cpu_s=$3 ns_r=$4 ns_s=$5 addr=$6
  rate_ruvo=0 rate_ref=0 rate_split=0 rate_raw=0
  for kind in ruvo ref split raw; do
    run_case "$label" "$cpu_r" "$cpu_s" "$ns_r" "$ns_s" "$addr" "$kind"
  done
  awk -v a="$rate_ruvo" -v r="$rate_ref" -v s="$rate_split" -v w="$rate_raw" 'BEGIN {
    printf "%-28s ruvo/ref %.2f   ref-split/ref %.2f   ruvo/raw %.4f\n", "", a / r, s / r, a / w }'
}

echo "File: $size_mib MiB ($blocks blocks). MB = 10^6 bytes; CPU in seconds; peak in KiB;"
echo "gap = longest pause of the receiving window's 10 ms timer, in ms."
printf "%-28s %-6s %8s %9s %9s %9s %10s %10s %8s\n" link pair MB/s blocks/s cpu-recv cpu-send \
  peak-recv peak-send gap
last_cpu=$(($(nproc) - 1))
run_link "loopback, one CPU" 0 0 "" "" 127.0.0.1
run_link "loopback, two CPUs" 0 "$last_cpu" "" "" 127.0.0.1

if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null; then
  ip netns add ruvo-bench-a && ip netns add ruvo-bench-b && netns_made=1
  ip link add ruvo-va type veth peer name ruvo-vb
  ip link set ruvo-va netns ruvo-bench-a
  ip link set ruvo-vb netns ruvo-bench-b
  ip -n ruvo-bench-a addr add 10.231.0.1/24 dev ruvo-va
  ip -n ruvo-bench-b addr add 10.231.0.2/24 dev ruvo-vb
  for ns in ruvo-bench-a ruvo-bench-b; do
    ip -n $ns link set lo up
  done
  ip -n ruvo-bench-a link set ruvo-va mtu 1500 up
  ip -n ruvo-bench-b link set ruvo-vb mtu 1500 up
  run_link "veth MTU 1500, one CPU" 0 0 ruvo-bench-b ruvo-bench-a 10.231.0.2
  run_link "veth MTU 1500, two CPUs" 0 "$last_cpu" ruvo-bench-b ruvo-bench-a 10.231.0.2
else
  echo "(not root: the veth pair between two network namespaces is skipped)"
fi
