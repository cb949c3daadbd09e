#!/usr/bin/env bash
# Runs inside scripts/alsa-vm, on the kernel's own sequencer: korvane-flash
# lists the VirMIDI ports, then updates a korvane-sim on ALSA ports with a
# 40-message file, and the controller must hold that file byte for byte.
#
#   tests/alsa/flash_over_alsa.sh BUILD_DIR
set -uo pipefail

build=$(cd "${1:?usage: flash_over_alsa.sh BUILD_DIR}" && pwd)
flash="$build/cli/korvane-flash"
sim="$build/sim/tool/korvane-sim"
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
passes=0
check() {
  local name=$1
  shift
  if "$@"; then
    echo "PASS $name"
    passes=$((passes + 1))
  else
    echo "FAIL $name"
    failures=$((failures + 1))
  fi
}

[ -e /dev/snd/seq ] || { echo "no /dev/snd/seq: not on the ALSA sequencer" >&2; exit 1; }

list_shows_virmidi() {
  local out
  out=$(timeout 60 "$flash" --list 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  # snd-virmidi makes four clients, each with one port that reads and writes.
  local n
  for n in 0 1 2 3; do
    [ "$(grep -c "Virtual Raw MIDI 0-$n" <<<"$out")" -ge 2 ] || return 1
  done
}
check "korvane-flash --list shows the four VirMIDI ports as inputs and outputs" list_shows_virmidi

update_over_alsa() {
  "$sim" --api alsa --save "$work/received.syx" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 200); do
    grep -q '"Korvane Sim' /proc/asound/seq/clients && break
    sleep 0.05
  done
  "$sim" make-image --model TRW1000 --messages 40 "$work/update.syx" >/dev/null || return 1
  local status=0
  timeout 300 "$flash" --log "$work/flash.log" "$work/update.syx" >"$work/flash.out" 2>&1 || status=$?
  kill -TERM "$sim_pid"
  wait "$sim_pid"
  sim_pid=
  local ok=yes
  [ "$status" -eq 0 ] || { echo "korvane-flash exit status $status"; ok=no; }
  grep -q 'Update successfully completed\.' "$work/flash.log" 2>/dev/null ||
    { echo "the log does not end in success"; ok=no; }
  cmp "$work/update.syx" "$work/received.syx" || ok=no
  if [ "$ok" = no ]; then
    echo "--- korvane-flash log:"
    tr '\r' '\n' <"$work/flash.log" 2>/dev/null
    echo "--- korvane-sim:"
    cat "$work/sim.log"
    return 1
  fi
}
check "a 40-message update over ALSA ends in success and the controller holds the file" update_over_alsa

echo "flash_over_alsa: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
