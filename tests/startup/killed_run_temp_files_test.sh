#!/usr/bin/env bash
# No scratch file of the platform outlives a run of Drummetworks killed with
# SIGKILL: the main job (the clone of the demo PC's disk 0 onto disk 1,
# apps/drummetworks/clone.script) is started on a fresh copy of the PC with
# TMPDIR an empty folder, and killed at several points: a second after its
# start, the moment a scratch file of the run is found open among the
# process's descriptors (the shadow copy's image), a few seconds into that
# copy, and well into the clone. After each kill the temporary folder is
# empty (find), and after the next start of the program the machine's own
# scratch folder holds no scratch file of the killed run either.
#   killed_run_temp_files_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
# Qt's runtime folder would otherwise be made in TMPDIR.
export XDG_RUNTIME_DIR=$work/xdg QT_QPA_PLATFORM=offscreen
mkdir -p "$TMPDIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
"$build/bin/simpc" demo "$work/pristine" >/dev/null
script=$source/apps/drummetworks/clone.script
quit=$work/quit.script
printf 'expect dialog 102\nmenu 32775\n' >"$quit"

fail() {
  echo "killed run: $*" >&2
  exit 1
}
# A fresh copy of the PC and the main job started on it in the background.
start_clone() {
  rm -rf "$work/pc"
  cp -a --sparse=always "$work/pristine" "$work/pc"
  "$build/bin/drummetworks" --machine "$work/pc" --ui headless --script "$script" --screenshots "$work/shots" \
    >"$work/log" 2>&1 &
  pid=$!
}
# True while the run holds a file of the temporary folder open.
scratch_open() { ls -l "/proc/$pid/fd" 2>/dev/null | grep -q -- "$TMPDIR/"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
kill_and_check() {
  local where=$1
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
  local left
  left=$(find "$TMPDIR" -mindepth 1 | head -5)
  [ -z "$left" ] || fail "killed $where, the temporary folder still holds: $left"
  # The next start sweeps the machine's named scratch files of the killed run.
  "$build/bin/drummetworks" --machine "$work/pc" --ui headless --script "$quit" >"$work/quit.log" 2>&1 ||
    fail "the next start failed: $(tail -5 "$work/quit.log")"
  left=$(find "$work/pc" -name 'drum-*-p[0-9]*' | head -5)
  [ -z "$left" ] || fail "killed $where, the machine folder still holds after the next start: $left"
  left=$(find "$TMPDIR" -mindepth 1 | head -5)
  [ -z "$left" ] || fail "the next start left in the temporary folder: $left"
}

# Each point: counted from the start, or from the moment a scratch file is
# first seen open (the run is killed at once when it ends or fails earlier).
for point in start:1 scratch:0 scratch:3 start:15; do
  from=${point%%:*} seconds=${point#*:}
  start_clone
  if [ "$from" = scratch ]; then
    deadline=$(($(now_ms) + 300000))
    until scratch_open; do
      kill -0 "$pid" 2>/dev/null || fail "the run ended without a scratch file: $(tail -20 "$work/log")"
      [ "$(now_ms)" -lt "$deadline" ] || fail "no scratch file within five minutes"
      sleep 0.01
    done
  fi
  sleep "$seconds"
  kill_and_check "$seconds s after the $from"
done
echo "killed runs: nothing left behind"
