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

# Starts a controller on ALSA ports and waits until it says it is ready.
start_sim() {
  "$sim" --api alsa --save "$work/received.syx" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 600); do
    grep -q 'korvane-sim: ready' "$work/sim.log" && return 0
    sleep 0.05
  done
  echo "korvane-sim did not get ready:"
  cat "$work/sim.log"
  return 1
}

stop_sim() {
  kill -TERM "$sim_pid"
  wait "$sim_pid"
  sim_pid=
}

# update MESSAGES LENGTH EXPECTED_STATUS: makes a file, runs the update and
# stops the controller; the log is left in $work/flash.log.
update() {
  rm -f "$work/received.syx"
  start_sim || return 1
  "$sim" make-image --model TRW1000 --messages "$1" --length "$2" "$work/update.syx" >/dev/null ||
    return 1
  local status=0
  timeout 300 "$flash" --log "$work/flash.log" "$work/update.syx" >"$work/flash.out" 2>&1 || status=$?
  stop_sim
  if [ "$status" -ne "$3" ]; then
    echo "korvane-flash exit status $status, expected $3"
    echo "--- korvane-flash log:"
    tr '\r' '\n' <"$work/flash.log" 2>/dev/null
    echo "--- korvane-sim:"
    cat "$work/sim.log"
    return 1
  fi
}

update_over_alsa() {
  update 40 256 0 || return 1
  grep -q 'Update successfully completed\.$' "$work/flash.log" || return 1
  cmp "$work/update.syx" "$work/received.syx"
}
check "a 40-message update over ALSA ends in success and the controller holds the file" update_over_alsa

# ALSA delivers a SysEx whole up to 4096 bytes to every kind of receiver;
# longer ones may be cut or lost without a word, so they are refused.
longest_message_arrives() {
  update 1 4096 0 && cmp "$work/update.syx" "$work/received.syx"
}
check "a 4096-byte message arrives whole" longest_message_arrives

longer_message_is_refused() {
  update 1 4097 1 && grep -q 'MIDIOUTLONGMSG -> MMSYSERR_INVALPARAM' "$work/flash.log"
}
check "a 4097-byte message is refused and the update cannot succeed" longer_message_is_refused

# The controller stopped for half a second at three points of a block: ALSA
# keeps what arrives meanwhile, the block is answered late or sent again, and
# the update finishes. An addressed controller tells a block sent again from
# the next one, so the file it holds is the truth.
paused_controller_recovers() {
  local offset
  for offset in 0 0.15 0.3; do
    rm -f "$work/received.syx"
    start_sim --addressed || return 1
    "$sim" make-image --model TRW1000 --messages 96 --length 64 --addressed "$work/update.syx" \
      >/dev/null || return 1
    timeout 300 "$flash" --log "$work/flash.log" "$work/update.syx" >"$work/flash.out" 2>&1 &
    local flash_pid=$!
    for _ in $(seq 1000); do
      grep -q '^block 2 (' "$work/sim.log" && break
      sleep 0.01
    done
    sleep "$offset"
    kill -STOP "$sim_pid"
    sleep 0.5
    kill -CONT "$sim_pid"
    local status=0
    wait "$flash_pid" || status=$?
    stop_sim
    if [ "$status" -ne 0 ] || ! cmp -s "$work/update.syx" "$work/received.syx"; then
      echo "stopped $offset s into block 3: exit status $status"
      tr '\r' '\n' <"$work/flash.log"
      echo "--- korvane-sim:"
      cat "$work/sim.log"
      return 1
    fi
  done
}
check "a controller stopped for 0.5 s at three points of a block: success, the file held" \
  paused_controller_recovers

echo "flash_over_alsa: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
