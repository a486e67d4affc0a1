#!/usr/bin/env bash
# Discovery for real: two network namespaces joined by a veth pair, each with its own system
# bus and mDNS daemon. A ruvo-cli receiver announces itself in one; in the other a window
# lists it by name, marked as trusted, sends to it by choosing it, and sees it leave when it
# stops. Both announcements carry the fingerprint of their lane's identity, which ruvo-cli
# list shows with whether it is trusted.
#
#   tests/discovery/discovery_test.sh HARNESS RUVO-CLI
#
# Needs root (namespaces, mounts), ip, dbus-daemon and avahi-daemon; skips (exit 77) saying
# what is missing.
set -u
harness=$1
cli=$2
skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in ip dbus-daemon avahi-daemon unshare; do
  command -v "$tool" >/dev/null || skip "needs $tool (Debian: iproute2, dbus-daemon, avahi-daemon)"
done

tag=rd$$
work=$(mktemp -d)
# ruvo-cli makes its identity in its configuration folder at first start: this run's own.
export XDG_CONFIG_HOME="$work/config"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  for side in a b; do
    # Everything still running in a namespace (daemons, copies) goes with it.
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
ip -n "${tag}a" addr add 10.99.0.1/24 dev "${tag}va"
ip -n "${tag}b" addr add 10.99.0.2/24 dev "${tag}vb"
for side in a b; do
  ip -n "$tag$side" link set lo up
  ip -n "$tag$side" link set "$tag"v$side up
done

# Each namespace: a system bus of its own (open to root) and an mDNS daemon on it, its pid
# file in a private /run/avahi-daemon. `ip netns exec` runs in a mount namespace of its own.
for side in a b; do
  dir=$work/$side
  mkdir -p "$dir/recv"
  cat >"$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/bus</listen>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
  cat >"$dir/avahi.conf" <<CONF
[server]
host-name=ruvo-$side
use-ipv4=yes
use-ipv6=no
allow-interfaces=${tag}v$side
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
  ip netns exec "$tag$side" sh -c "
    mkdir -p /run/avahi-daemon && mount -t tmpfs tmpfs /run/avahi-daemon &&
    dbus-daemon --config-file=$dir/bus.conf --fork --nopidfile &&
    for i in 1 2 3 4 5 6 7 8 9 10; do [ -S $dir/bus ] && break; sleep 0.2; done &&
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/bus avahi-daemon --no-drop-root --no-chroot \
      --no-rlimits -f $dir/avahi.conf -D" >"$dir/daemons.log" 2>&1 ||
    skip "the mDNS daemon did not start: $(tail -1 "$dir/daemons.log")"
done

fail() {
  echo "FAIL: $*"
  echo "--- window:"; cat "$work/b/window.log"
  exit 1
}
# Waits until FILE has a line matching PATTERN, for up to SECONDS.
wait_for() {
  local file=$1 pattern=$2 seconds=$3
  for ((i = 0; i < seconds * 10; i++)); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

head -c $((3 << 20)) /dev/urandom >"$work/b/viaje.bin"
export QT_QPA_PLATFORM=offscreen

# The identities: the far receiver's in $XDG_CONFIG_HOME, the window's in its own folder,
# made here so that both are known before either starts. The window trusts the receiver.
fingerprint_of() {
  XDG_CONFIG_HOME=$1 "$cli" id --json | sed -n 's/.*"fingerprint":"\([0-9A-F]*\)".*/\1/p'
}
far_fp=$(fingerprint_of "$XDG_CONFIG_HOME")
window_fp=$(fingerprint_of "$work/b/cfg")
[ ${#far_fp} -eq 64 ] && [ ${#window_fp} -eq 64 ] || fail "ruvo-cli id gave no fingerprint"
XDG_CONFIG_HOME="$work/b/cfg" "$cli" trust "$far_fp" --name lejos >/dev/null ||
  fail "ruvo-cli trust failed"

# The far copy: a receiver in namespace a, announcing itself.
ip netns exec "${tag}a" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/a/bus" USER=lejos \
  "$cli" receive --accept --dir "$work/a/recv" >"$work/a/cli.log" 2>&1 &
cli_pid=$!
pids+=($cli_pid)
disown $cli_pid

# The window in namespace b, its commands through a pipe.
mkfifo "$work/b/commands"
ip netns exec "${tag}b" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/b/bus" \
  "$harness" --discovery --lane --listen-port 0 --config "$work/b/cfg" --folder "$work/b/recv/" \
  <"$work/b/commands" >"$work/b/window.log" 2>&1 &
pids+=($!)
disown $!
exec 3>"$work/b/commands"

name="lejos@$(hostname)"
wait_for "$work/b/window.log" "^entries.*$name (de confianza)=10.99.0.1" 20 ||
  fail "the window did not list '$name' as trusted"
echo "listed: $(grep '^entries' "$work/b/window.log" | tail -1)"

# Beside the window, with its configuration: the far copy, its fingerprint, trusted.
ip netns exec "${tag}b" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/b/bus" \
  XDG_CONFIG_HOME="$work/b/cfg" "$cli" list --json --wait 2 >"$work/b/list.json" 2>&1
expected="[{\"address\":\"10.99.0.1\",\"fingerprint\":\"$far_fp\",\"lane\":true,\"name\":\"$name\",\"port\":9950,\"trusted\":true}]"
[ "$(cat "$work/b/list.json")" = "$expected" ] || fail "ruvo-cli list: $(cat "$work/b/list.json")"
echo "ruvo-cli list: $(cat "$work/b/list.json")"
# Beside the far copy, which trusts nobody: the window, with its own fingerprint.
ip netns exec "${tag}a" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/a/bus" \
  "$cli" list --wait 2 >"$work/a/list.txt" 2>&1
short=$(echo "$window_fp" | cut -c1-16 | sed 's/..../& /g; s/ $//')
grep -q "^[^[:space:]]*@[^[:space:]]*	10.99.0.2	[0-9]*	via rapida	$short	sin verificar$" \
  "$work/a/list.txt" || fail "ruvo-cli list beside the far copy: $(cat "$work/a/list.txt")"
echo "ruvo-cli list there: $(cat "$work/a/list.txt")"

echo "choose $name" >&3
echo "send $work/b/viaje.bin" >&3
wait_for "$work/b/window.log" "^panel1 Enviado!" 60 || fail "the send did not end in Enviado!"
wait_for "$work/a/cli.log" "Recibido!" 10 || fail "the receiver did not say Recibido!"
cmp "$work/b/viaje.bin" "$work/a/recv/viaje.bin" || fail "the file arrived changed"
echo "sent by choosing it: the file arrived intact"

kill -TERM $cli_pid
# The list then holds only the recent address the send left.
wait_for "$work/b/window.log" "^entries 10.99.0.1=10.99.0.1$" 20 ||
  fail "the far copy stayed in the list after it stopped"
echo "stopped: $(grep '^entries' "$work/b/window.log" | tail -1)"
echo "quit" >&3
echo PASS
