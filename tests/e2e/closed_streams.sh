#!/usr/bin/env bash
# korvane-sim and korvane-flash started with standard input, output and error
# closed: the descriptors 0, 1 and 2 must point to /dev/null while they run,
# never to the MIDI system's files (JACK's database took them before), and
# the update must still end in success with the log in the --log file.
#
#   closed_streams.sh BUILD_DIR
#
# Runs in a mount namespace of its own with a private /dev/shm: a fault here
# must not reach the machine's own JACK files. Needs root for that; skips
# (exit 77) otherwise.
set -uo pipefail

build=$(cd "${1:?usage: closed_streams.sh BUILD_DIR}" && pwd)
if [ -z "${KORVANE_PRIVATE_SHM:-}" ]; then
  if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    echo "SKIP: needs root and unshare for a private /dev/shm"
    exit 77
  fi
  exec env KORVANE_PRIVATE_SHM=1 unshare -m bash -c \
    'mount -t tmpfs tmpfs /dev/shm && exec "$0" "$@"' "$0" "$@"
fi
command -v jackd >/dev/null || { echo "SKIP: jackd is not installed"; exit 77; }

sim="$build/sim/tool/korvane-sim"
flash="$build/cli/korvane-flash"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

export JACK_DEFAULT_SERVER="korvane-closed-$$"
jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 1024 >"$work/jackd.log" 2>&1 &
pids+=($!)
jack_wait -w -t 20 -s "$JACK_DEFAULT_SERVER" >/dev/null || { echo "jackd did not start"; exit 1; }

failed=0
fds_point_to_null() {
  local name=$1 pid=$2 fd target
  for fd in 0 1 2; do
    target=$(readlink "/proc/$pid/fd/$fd")
    if [ "$target" != /dev/null ]; then
      echo "FAIL: $name's descriptor $fd points to ${target:-nothing}, not /dev/null"
      failed=1
    fi
  done
}

"$sim" --api jack --save "$work/received.syx" <&- >&- 2>&- &
sim_pid=$!
pids+=("$sim_pid")
"$sim" make-image --model TRW1000 --messages 64 --length 64 "$work/update.syx" >/dev/null
# With its output closed the controller cannot say it is ready, and a listed
# port may not answer yet: ask it, with a device name that picks nothing (so
# nothing is sent), until it shows in the device list.
for _ in $(seq 600); do
  answer=$("$flash" --device no-such-device "$work/update.syx" 2>&1)
  grep -q ' answered:' <<<"$answer" && break
  sleep 0.1
done
fds_point_to_null korvane-sim "$sim_pid"
"$flash" --log "$work/update.log" "$work/update.syx" <&- >&- 2>&- &
flash_pid=$!
sleep 1
fds_point_to_null korvane-flash "$flash_pid"
wait "$flash_pid"
status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: korvane-flash exit status $status; its log:"
  cat "$work/update.log"
  failed=1
fi
tail -c 32 "$work/update.log" | grep -q 'Update successfully completed\.$' ||
  { echo "FAIL: the log does not end in success"; failed=1; }
# The MIDI system is intact for the next program.
"$flash" --list 2>&1 | grep -q 'Korvane Sim Out' || { echo "FAIL: the ports are gone"; failed=1; }
kill -TERM "$sim_pid"
wait "$sim_pid"
cmp -s "$work/update.syx" "$work/received.syx" ||
  { echo "FAIL: the controller does not hold the file"; failed=1; }
[ "$failed" -eq 0 ] && echo "PASS: closed standard streams open on /dev/null"
exit "$failed"
