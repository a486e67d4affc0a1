#!/usr/bin/env bash
# LocalSend discovery for real: two network namespaces joined by a veth pair. In one, a
# ruvo-cli receiver; in the other, a LocalSend device written from the protocol's document
# (nspeer.py). Each hears the other's multicast announcement and answers it by registering
# over HTTPS; the device then sends a file to the receiver it found, pinned to the
# certificate announced, and `ruvo-cli list` there lists both as LocalSend devices.
#
#   tests/localsend/discovery_test.sh RUVO-CLI
#
# Needs root (namespaces), ip, python3 and openssl; skips (exit 77) saying what is missing.
set -u
cli=$1
here=$(cd "$(dirname "$0")" && pwd)
skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in ip python3 openssl; do
  command -v "$tool" >/dev/null || skip "needs $tool"
done

tag=ls$$
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config"
# No system bus: nothing is announced over mDNS outside the namespaces.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  for side in a b; do
    ip netns pids "$tag$side" 2>/dev/null | xargs -r kill -9 2>/dev/null
    ip netns del "$tag$side" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "${tag}a" && ip netns add "${tag}b" || skip "cannot create network namespaces"
ip link add "${tag}va" type veth peer name "${tag}vb" || skip "cannot create a veth pair"
ip link set "${tag}va" netns "${tag}a"
ip link set "${tag}vb" netns "${tag}b"
ip -n "${tag}a" addr add 10.99.1.1/24 dev "${tag}va"
ip -n "${tag}b" addr add 10.99.1.2/24 dev "${tag}vb"
for side in a b; do
  ip -n "$tag$side" link set lo up
  ip -n "$tag$side" link set "$tag"v$side up
done

fail() {
  echo "FAIL: $*"
  echo "--- receiver:"; cat "$work/cli.log"
  echo "--- device:"; cat "$work/peer.log"
  exit 1
}
wait_for() {
  local file=$1 pattern=$2 seconds=$3
  for ((i = 0; i < seconds * 10; i++)); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

mkdir -p "$work/recv"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=LocalSend User" -days 3650 2>/dev/null || skip "openssl cannot make a certificate"
fingerprint=$(openssl x509 -in "$work/cert.pem" -outform DER | sha256sum | cut -c1-64 | tr a-f A-F)
name="lejos@$(hostname)"

touch "$work/peer.log"
ip netns exec "${tag}b" python3 "$here/nspeer.py" 10.99.1.2 "$work/cert.pem" "$work/key.pem" \
  "$fingerprint" "$work/peer.log" &
pids+=($!)
wait_for "$work/peer.log" "started" 10 || fail "the device did not start"

ip netns exec "${tag}a" env USER=lejos "$cli" receive --accept --dir "$work/recv" \
  >"$work/cli.log" 2>&1 &
pids+=($!)
wait_for "$work/cli.log" "LocalSend en el puerto 53317" 10 || fail "the receiver did not serve LocalSend"

# The receiver answers the device's announcement by registering with it, and the device
# answers the receiver's, seeing the certificate it announced.
wait_for "$work/peer.log" "\"event\": \"registered\", \"address\": \"10.99.1.1\"" 15 ||
  fail "the receiver did not register with the device"
grep "\"event\": \"registered\"" "$work/peer.log" | grep -q "\"alias\": \"$name\"" ||
  fail "the receiver registered under another name"
wait_for "$work/peer.log" "\"event\": \"heard\", \"address\": \"10.99.1.1\"" 15 ||
  fail "the device did not hear the receiver's announcement"
grep "\"event\": \"heard\"" "$work/peer.log" | grep "10.99.1.1" | head -1 |
  grep -q "\"deviceType\": \"headless\"" || fail "the receiver did not announce itself as headless"
wait_for "$work/peer.log" "\"event\": \"answered\", \"address\": \"10.99.1.1\", \"status\": 200" 15 ||
  fail "the device could not register with the receiver"
announced=$(grep "\"event\": \"answered\"" "$work/peer.log" | head -1 |
  python3 -c 'import json,sys; e=json.loads(sys.stdin.readline()); print(e["body"]["fingerprint"], e["certificate"])')
read -r said seen <<<"$announced"
[ "$said" = "$seen" ] || fail "the receiver's certificate is not the one it announces ($said, $seen)"
echo "discovered each other; the receiver's fingerprint is its certificate's"

# The device sends to the receiver it found, pinned to that certificate.
head -c $((2 << 20)) /dev/urandom >"$work/foto.jpg"
ip netns exec "${tag}b" python3 - "$here" "$seen" "$work" <<'PY' || fail "the device's send failed"
import sys
sys.path.insert(0, sys.argv[1])
from localsendpeer import Peer
work = sys.argv[3]
peer = Peer("10.99.1.1", 53317, certificate=(work + "/cert.pem", work + "/key.pem"),
            pinned=sys.argv[2])
status, uploads = peer.send({"foto.jpg": open(work + "/foto.jpg", "rb").read()})
sys.exit(0 if (status, uploads) == (200, [200]) else 1)
PY
wait_for "$work/cli.log" "Recibido! Guardado en" 20 || fail "the receiver did not say Recibido!"
cmp "$work/foto.jpg" "$work/recv/foto.jpg" || fail "the file arrived changed"
echo "the device sent a file to the receiver it found"

# ruvo-cli list beside the device finds both, as LocalSend devices. It is another computer,
# with an identity of its own.
ip netns exec "${tag}b" env XDG_CONFIG_HOME="$work/config-b" "$cli" list --json --wait 3 \
  >"$work/list.json" 2>&1
grep -q '"localsend":true,"name":"Telefono de prueba"' "$work/list.json" ||
  fail "list did not find the device: $(cat "$work/list.json")"
grep -q "\"address\":\"10.99.1.1\".*\"localsend\":true,\"name\":\"$name\"" "$work/list.json" ||
  fail "list did not find the receiver: $(cat "$work/list.json")"
echo "ruvo-cli list: $(cat "$work/list.json")"
echo PASS
