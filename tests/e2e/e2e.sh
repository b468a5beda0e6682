#!/usr/bin/env bash
# End-to-end cases: the real vrq-update under the simulated printer.
#   e2e.sh CASE      with BIN naming the folder of vrq-update, fwp-tool, vrq-printer-sim
# Every case works in a folder of its own with its own copy of the program (so that
# what a run leaves beside the executable can be checked) and its own TMPDIR.
set -uo pipefail

: "${BIN:?BIN must name the build output folder}"
case_name=${1:?usage: e2e.sh CASE}
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e-$case_name.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A sanitizer build of the program runs under the umockdev preload.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
items=$work/items

# Items with reproducible contents; the sizes keep the flash phase short but give the
# font two blocks.
make_items() {
  head -c 3000 /dev/zero | tr '\0' '\125' >"$items/frw.bin"
  seq 1 1200 | head -c 5000 >"$items/boot.bin"
  seq 5000 9000 | head -c 20000 >"$items/sys.bin"
  { seq 1 30000; seq 1 30000; } | head -c 140000 >"$items/font.bin"
}

# build_package OUTPUT [fwp-tool build options...]
build_package() {
  local out=$1
  shift
  "$BIN/fwp-tool" build --item "frw:$items/frw.bin:1:CONNECT\r\nSTART FRW" \
    --item "bootloader:$items/boot.bin" --item "system:$items/sys.bin" \
    --item "font:$items/font.bin" "$@" "$out" >/dev/null || fail "fwp-tool build $*"
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1 ($(tail -n 3 "$2" | tr '\n' '|'))"
}

expect_line() {
  grep -qxF -- "$2" "$1" || fail "no line \"$2\" in $(basename "$1"): $(tr '\n' '|' <"$1")"
}

expect_no_line() {
  if grep -qF -- "$2" "$1"; then fail "unexpected \"$2\" in $(basename "$1")"; fi
}

# Whatever the outcome: nothing left beside the program, in TMPDIR, or from the simulator.
expect_clean() {
  local left
  left=$(find "$app" -mindepth 1 -not -name 'vrq-update' -not -name 'libJXUsbHid.so*' \
    -not -name '*.run' -not -name '*.fwp' -not -name '*.ini')
  [ -z "$left" ] || fail "left beside the program: $left"
  left=$(find "$work/tmp" -mindepth 1)
  [ -z "$left" ] || fail "left in TMPDIR: $left"
}

# expect_flash_equals_items [FLASH_DIR]: what the printer received (in $work/flash, or
# in FLASH_DIR for one of several printers) is the package's items, and no close of the
# printer node dropped a byte the printer had not taken yet.
expect_flash_equals_items() {
  local pair flash=${1:-$work/flash}
  for pair in frw:firmware boot:bootloader sys:system font:font; do
    cmp -s "$items/${pair%%:*}.bin" "$flash/${pair##*:}.bin" ||
      fail "the printer's ${pair##*:}.bin in $flash differs from the package's ${pair%%:*}.bin"
  done
  if grep -q '^VIOLATION:' "$flash/transcript.txt"; then
    fail "protocol violations: $(grep '^VIOLATION:' "$flash/transcript.txt" | head -3)"
  fi
  expect_nothing_lost "$flash"
}

# expect_nothing_lost FLASH_DIR: the transcript records no loss at a close, and the run's
# summary.json (in FLASH_DIR or the folder above it) says every printer took the host's
# writes through the usblp model and lost none of them.
expect_nothing_lost() {
  local summary=$1/summary.json why
  [ -f "$summary" ] || summary=$(dirname "$1")/summary.json
  if grep -q '^lost at close:' "$1/transcript.txt"; then
    fail "bytes lost at a close: $(grep '^lost at close:' "$1/transcript.txt" | head -3)"
  fi
  why=$(python3 -c '
import json, sys
for printer in json.load(open(sys.argv[1]))["printers"]:
    if printer["bytes_lost_at_close"] or printer["losses"]:
        sys.exit(printer["port"] + " lost " + str(printer["losses"]))
    if printer["bytes_taken"] and not printer["modelled"]:
        sys.exit(printer["port"] + " was written without the usblp model")
' "$summary" 2>&1) || fail "summary.json: $why"
}

# run_modelled_update LOG [sim options...]: a whole update under a printer that is slow or
# answers NAK at a moment named by the options; it succeeds, and nothing is lost.
run_modelled_update() {
  local log=$1
  shift
  run_update "$log" "$@" -- --package "$work/pkg.fwp" --yes
  expect_status 0 "$log"
  expect_line "$log" "Info: Update Success!"
  expect_flash_equals_items
  grep -q '"firmware_started": true' "$work/flash/summary.json" ||
    fail "$*: the printer did not start its firmware"
  expect_clean
}

# start_update LOG [sim options...] -- [vrq-update arguments...]: as run_update, in the
# background; sets $sim to the simulator's pid.
start_update() {
  local log=$1
  shift
  local options=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  shift
  rm -rf "$work/flash"
  TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" "${options[@]}" -- \
    "$app/vrq-update" "$@" >"$log.out" 2>"$log" &
  sim=$!
  # finish_update keeps the JSON of a run with --json.
  started_json=()
  local argument
  for argument in "$@"; do
    [ "$argument" = --json ] && started_json=("$log.out")
  done
}

# wait_for_line LOG TEXT: until a line of LOG holds TEXT (at most 60 s).
wait_for_line() {
  local i
  for ((i = 0; i < 600; i++)); do
    grep -qF -- "$2" "$1" && return 0
    sleep 0.1
  done
  fail "no \"$2\" in $(basename "$1") after 60 s"
}

# signal_update SIGNAL: sends SIGNAL to the vrq-update that the simulator $sim runs.
signal_update() {
  local child
  child=$(pgrep -P "$sim" -x vrq-update) || { fail "vrq-update is not running"; return; }
  kill "-$1" "$child"
}

# finish_update: waits for the simulator; sets $status to vrq-update's exit status.
finish_update() {
  wait "$sim"
  status=$?
  [ ${#started_json[@]} -eq 0 ] || collect_json "${started_json[0]}"
}

# check_json LOG STATUS [WORD]: LOG.out holds the run's --json events, ending in an
# outcome with that exit status (and status word).
check_json() {
  local why
  why=$(python3 "$(dirname "${BASH_SOURCE[0]}")/json_check.py" "$1.out" "${@:2}" 2>&1) ||
    fail "--json output: $why"
}

# expect_json FILE EXPRESSION...: the JSON in FILE holds (tests/e2e/json_expect.py; o is
# the list of objects printed).
expect_json() {
  local why
  why=$(python3 "$(dirname "${BASH_SOURCE[0]}")/json_expect.py" "$@" 2>&1) ||
    fail "$(basename "$1"): $why"
}

# run_failure FAULT MESSAGE STATUS: one failure row under an injected fault; the exit
# status says whether the printer may have been left half written.
run_failure() {
  make_items
  build_package "$work/pkg.fwp"
  run_update "$work/log" --fault "$1" -- --package "$work/pkg.fwp" --yes --json
  expect_status "$3" "$work/log"
  expect_line "$work/log" "Error: $2"
  expect_no_line "$work/log" "Update Success!"
  check_json "$work/log" "$3" "$([ "$3" -eq 3 ] && echo failed_after_image || echo failed)"
  expect_clean
}

case "$case_name" in
  update-packed | update-stored)
    make_items
    build_package "$work/pkg.fwp" "--${case_name#update-}"
    run_update "$work/log" -- --package "$work/pkg.fwp" --yes --json
    expect_status 0 "$work/log"
    expect_line "$work/log" "Info: Update Success!"
    expect_flash_equals_items
    check_json "$work/log" 0 success
    # Standard error is a file: a line at every step and at every tenth of a section.
    for step in "Send frw" "wait frw start" "Check MAC ADDR..." "Update..."; do
      expect_line "$work/log" "$step"
    done
    for section in bootloader system font; do
      tenths=$(grep -cE "^Update\.\.\. \| $section (0|[1-9]0|100)% \| total [0-9]+% \| [0-9]+:[0-5][0-9] left$" "$work/log")
      [ "$tenths" -eq 11 ] || fail "$tenths lines at tenths of the $section section, expected 11"
    done
    expect_clean
    ;;
  terminal)
    # On a terminal (script's pty) the operator confirms, and one progress line names the
    # step, the section and both shares and the time left. "n" sends the printer nothing.
    make_items
    build_package "$work/pkg.fwp" --version-label "Model 5 v2.3"
    for answer in y n; do
      rm -rf "$work/flash"
      (sleep 2; printf '%s\n' "$answer") | TMPDIR=$work/tmp script -qefc \
        "'$BIN/vrq-printer-sim' --flash-dir '$work/flash' -- '$app/vrq-update' --package '$work/pkg.fwp' --json >'$work/$answer.json'" \
        "$work/$answer.tty" >/dev/null 2>&1
      status=$?
      tr '\r' '\n' <"$work/$answer.tty" | sed 's/\x1b\[K//g' >"$work/$answer.log"
      expect_line "$work/$answer.log" 'Package: '"$work"'/pkg.fwp, version "Model 5 v2.3"'
      expect_line "$work/$answer.log" "Printer: USB port 1-1.4, serial VRQSIM0001 (/dev/usb/lp0)"
      grep -q "^Update this printer? \[y/N\] $answer" "$work/$answer.log" ||
        fail "no question answered $answer on the terminal"
      if [ "$answer" = y ]; then
        grep -q 'COMMAND_EXIT_CODE="0"' "$work/y.tty" || fail "the confirmed update did not exit 0"
        expect_line "$work/y.log" "Info: Update Success!"
        grep -qE '^Update\.\.\. \| font [0-9]+% \| total [0-9]+% \| [0-9]+:[0-5][0-9] left$' "$work/y.log" ||
          fail "no progress line for the font section"
        expect_flash_equals_items
        expect_json "$work/y.json" 'o[-1]["status"] == "success"'
      else
        grep -q 'COMMAND_EXIT_CODE="1"' "$work/n.tty" || fail "the declined update did not exit 1"
        [ ! -s "$work/flash/transcript.txt" ] || fail "the declined update sent the printer something"
        # A no is answered with a line of its own, and the outcome says it.
        expect_line "$work/n.log" "Not updated."
        expect_json "$work/n.json" 'o[-1]["status"] == "declined"' 'o[-1]["exit_status"] == 1' \
          'o[-1]["message"] == "Not updated."' 'o[-1]["printer"]["port_path"] == "1-1.4"'
      fi
      collect_json "$work/$answer.json"
    done
    status=0
    expect_clean
    ;;
  unplug-block)
    # The printer is pulled out halfway through a block: the block's wait runs out as it
    # must, and the run says the printer was disconnected, exiting 3.
    make_items
    build_package "$work/pkg.fwp"
    run_update "$work/log" --fault unplug-block:font:1 -- --package "$work/pkg.fwp" --yes
    expect_status 3 "$work/log"
    expect_line "$work/log" "Error: Write Flash Error!"
    expect_line "$work/log" "  the printer was disconnected from USB while the font block at 0 was being sent; connect it again and run the update again"
    expect_clean
    ;;
  slow-printer)
    # A printer on a slow bus, and one that answers NAK for 50 ms at the last chunk of the
    # last block and at the closing buzzer: every close waits until it has taken the end.
    make_items
    build_package "$work/pkg.fwp"
    run_modelled_update "$work/rate.log" --rate 200000
    run_modelled_update "$work/nak.log" --fault nak:50@block-last:4 --fault nak:50@after-link
    ;;
  nak-image-end)
    # The printer answers NAK for 50 ms at the firmware image's last chunk: the channel is
    # closed only after it has taken the image's last byte, so it starts the image.
    make_items
    build_package "$work/pkg.fwp"
    run_modelled_update "$work/log" --fault nak:50@last
    python3 -c '
import json, sys
printer = json.load(open(sys.argv[1]))["printers"][0]
taken = printer["image_taken_to_close_ms"]
if taken is None or printer["image_submitted_to_close_ms"] < 50:
    sys.exit("the image was closed too early: " + str(printer))
' "$work/flash/summary.json" || fail "the close did not wait for the image's end"
    ;;
  terminal-ctrl-c)
    # Ctrl-C at a terminal reaches the program from the terminal, as it does without the
    # simulator: the first press during a block only warns, the second stops the run after
    # the write in progress, with 130.
    make_items
    build_package "$work/pkg.fwp"
    mkfifo "$work/keys"
    exec 7<>"$work/keys"
    TMPDIR=$work/tmp script -qefc "'$BIN/vrq-printer-sim' --rate 100000 --flash-dir '$work/flash' -- \
      '$app/vrq-update' --package '$work/pkg.fwp' --yes 2>'$work/log'" "$work/tty" \
      <"$work/keys" >/dev/null 2>&1 &
    runner=$!
    wait_for_line "$work/log" "Update..."
    printf '\003' >&7
    wait_for_line "$work/log" "Press Ctrl-C again to stop anyway."
    sleep 0.5
    grep -q "Stopped" "$work/log" && fail "the first Ctrl-C stopped the run"
    printf '\003' >&7
    wait "$runner"
    exec 7>&-
    grep -q 'COMMAND_EXIT_CODE="130"' "$work/tty" ||
      fail "the run did not end with 130: $(tail -c 300 "$work/tty" | tr '\r\n' '||')"
    expect_line "$work/log" \
      "Stopped while writing the printer: it may hold incomplete firmware; run the update again."
    expect_no_line "$work/flash/transcript.txt" "LINK"
    expect_nothing_lost "$work/flash"
    status=0
    expect_clean
    ;;
  maker)
    # pkg.run updates from its linked package, never asking for a file.
    make_items
    build_package "$app/pkg.fwp" --packed
    "$app/vrq-update" --make "$app/pkg.fwp" 2>"$work/make.log"
    status=$?
    expect_status 0 "$work/make.log"
    expect_line "$work/make.log" "Information: make new update application Success"
    expect_line "$work/make.log" "  $app/pkg.run"
    expect_no_line "$work/make.log" "Replaced"
    expected=$(($(stat -c %s "$app/vrq-update") + $(stat -c %s "$app/pkg.fwp") + 36))
    [ "$(stat -c %s "$app/pkg.run")" -eq "$expected" ] || fail "pkg.run is not $expected bytes"
    [ -x "$app/pkg.run" ] || fail "pkg.run is not executable"
    # Its end users cannot turn it into a maker: the mode is the settings file's alone.
    "$app/pkg.run" --maker 2>"$work/maker-option.log"
    status=$?
    expect_status 2 "$work/maker-option.log"
    grep -q "not for an update application" "$work/maker-option.log" ||
      fail "pkg.run --maker does not say why it refuses"
    # Nor does it take another package: one named to it is refused before anything else,
    # with the command that does what was asked.
    build_package "$work/other.fwp"
    for option in --package --make; do
      TMPDIR=$work/tmp "$app/pkg.run" "$option" "$work/other.fwp" --json >"$work/own.out" 2>"$work/own.log"
      status=$?
      expect_status 2 "$work/own.log"
      collect_json "$work/own.out"
      what="to update from $work/other.fwp run vrq-update --package"
      [ "$option" = --make ] && what="to make an update application from $work/other.fwp run vrq-update --make"
      expect_line "$work/own.log" "vrq-update: this update application updates from its own package; $what $work/other.fwp"
      expect_json "$work/own.out" 'len(o) == 1' 'o[0]["status"] == "refused"' 'o[0]["exit_status"] == 2' \
        'o[0]["message"].startswith("this update application updates from its own package")'
    done
    TMPDIR=$work/tmp "$app/pkg.run" --all --package "$work/other.fwp" --yes >/dev/null 2>"$work/own.log"
    status=$?
    expect_status 2 "$work/own.log"
    [ ! -e "$work/other.run" ] || fail "pkg.run --make made an application"
    rm "$app/pkg.fwp"
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- \
      "$app/pkg.run" --headless --yes >/dev/null 2>"$work/log"
    status=$?
    expect_status 0 "$work/log"
    [ "$(head -n 1 "$work/log")" = "Find update!" ] || fail "first status is not Find update!"
    expect_no_line "$work/log" "select"
    expect_line "$work/log" "Info: Update Success!"
    expect_flash_equals_items
    expect_clean
    ;;
  linked-checksum)
    # A byte changed in a made application's package, or a trailer that does not fit its
    # file, is caught before the printer is opened; an application whose trailer has no
    # checksum (made before there was one) updates as it always did.
    make_items
    build_package "$app/pkg.fwp" --packed
    "$app/vrq-update" --make "$app/pkg.fwp" 2>"$work/make.log" || fail "the make failed"
    size=$(stat -c %s "$app/pkg.run")
    [ "$(tail -c 16 "$app/pkg.run" | head -c 4)" = CRC1 ] || fail "pkg.run's trailer has no CRC1"
    cp "$app/pkg.run" "$work/good.run"
    at=$((size - 36 - 1000))
    byte=$(od -An -tu1 -j "$at" -N1 "$app/pkg.run" | tr -d ' ')
    printf "\\x$(printf %02x $((byte ^ 1)))" | dd of="$app/pkg.run" bs=1 seek="$at" conv=notrunc 2>/dev/null
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- \
      "$app/pkg.run" --headless --yes >/dev/null 2>"$work/damaged.log"
    status=$?
    expect_status 1 "$work/damaged.log"
    expect_line "$work/damaged.log" "Error: Error fwp data!"
    grep -q "the update application is damaged" "$work/damaged.log" || fail "no cause for the refusal"
    [ ! -s "$work/flash/transcript.txt" ] || fail "the printer was spoken to"
    expect_clean
    # A length field that does not fit the file: "Find update!", then "Error fwp data!";
    # no question for a package file, nothing sent to the printer.
    cp "$work/good.run" "$app/pkg.run"
    printf '\377\377\377\177' | dd of="$app/pkg.run" bs=1 seek=$((size - 36)) conv=notrunc 2>/dev/null
    rm -rf "$work/flash"
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- \
      "$app/pkg.run" --headless --yes >/dev/null 2>"$work/trailer.log" </dev/null
    status=$?
    expect_status 1 "$work/trailer.log"
    [ "$(head -n 1 "$work/trailer.log")" = "Find update!" ] || fail "first status is not Find update!"
    expect_line "$work/trailer.log" "Error: Error fwp data!"
    grep -q "the update application is damaged: .*fetch the update application again" \
      "$work/trailer.log" || fail "no cause for the damaged trailer"
    expect_no_line "$work/trailer.log" "select"
    [ ! -s "$work/flash/transcript.txt" ] || fail "the printer was spoken to"
    expect_clean
    # Damaged, it is still an update application: no maker for its end users.
    "$app/pkg.run" --maker 2>"$work/maker-option.log"
    status=$?
    expect_status 2 "$work/maker-option.log"
    cp "$work/good.run" "$app/pkg.run"
    head -c 8 /dev/zero | dd of="$app/pkg.run" bs=1 seek=$((size - 16)) conv=notrunc 2>/dev/null
    rm -rf "$work/flash"
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- \
      "$app/pkg.run" --headless --yes >/dev/null 2>"$work/log"
    status=$?
    expect_status 0 "$work/log"
    expect_line "$work/log" "Info: Update Success!"
    expect_flash_equals_items
    expect_clean
    ;;
  check)
    # --check tells what an update would make of a package, and --version which package
    # an update application carries, without a printer; damaged and cut applications
    # fail cleanly.
    make_items
    build_package "$app/pkg.fwp" --packed --version-label "E2E 7"
    check() { TMPDIR=$work/tmp "$@" >"$work/check.out" 2>"$work/check.log"; status=$?; }
    check "$app/vrq-update" --check "$app/pkg.fwp"
    expect_status 0 "$work/check.log"
    expect_line "$work/check.out" "ready for the printer"
    grep -q '^flash time: [0-9.]* s from the firmware image' "$work/check.out" || fail "no flash time"
    # As JSON: one outcome on standard output, the report beside it.
    check "$app/vrq-update" --check "$app/pkg.fwp" --json
    expect_status 0 "$work/check.log"
    expect_line "$work/check.log" "ready for the printer"
    collect_json "$work/check.out"
    expect_json "$work/check.out" 'len(o) == 1' 'o[0]["status"] == "success"' \
      'o[0]["package"]["version"] == "E2E 7"' 'len(o[0]["package"]["sha256"]) == 64' \
      'o[0]["findings"] == []' 'o[0]["printer"] is None'
    sha256=$(sha256sum "$app/pkg.fwp" | cut -d' ' -f1)
    expect_json "$work/check.out" "o[0]['package']['sha256'] == '$sha256'"
    "$app/vrq-update" --make "$app/pkg.fwp" 2>/dev/null || fail "the make failed"
    check "$app/pkg.run" --check
    expect_status 0 "$work/check.log"
    grep -q ' bytes, checksum good, program checksum good$' "$work/check.out" ||
      fail "no checksum states"
    # The package linked into the application has the SHA-256 of the package file.
    check "$app/pkg.run" --check --json
    expect_status 0 "$work/check.log"
    collect_json "$work/check.out"
    expect_json "$work/check.out" "o[0]['package']['sha256'] == '$sha256'" \
      "o[0]['package']['path'] == '$app/pkg.run'"
    check "$app/pkg.run" --version
    expect_line "$work/check.out" "package version: E2E 7"
    check "$app/vrq-update" --version
    expect_no_line "$work/check.out" "package version"
    size=$(stat -c %s "$app/pkg.run")
    cp "$app/pkg.run" "$app/damaged.run"
    printf '\125' | dd of="$app/damaged.run" bs=1 seek=$((size - 600)) conv=notrunc 2>/dev/null
    check "$app/damaged.run" --check --json
    expect_status 1 "$work/check.log"
    expect_line "$work/check.log" "Error: Error fwp data!"
    collect_json "$work/check.out"
    expect_json "$work/check.out" 'o[0]["status"] == "failed"' 'o[0]["exit_status"] == 1' \
      'o[0]["message"] == "Error fwp data!"' 'o[0]["findings"][0]["kind"] == "damaged"'
    head -c $((size - 100)) "$app/pkg.run" >"$app/cut.run"
    cp "$app/vrq-update" "$app/outside.run"
    printf '\377\377\377\177LINK FILE 1.00\0\0CRC1' >>"$app/outside.run"
    head -c 12 /dev/zero >>"$app/outside.run"
    chmod +x "$app/cut.run" "$app/outside.run"
    check "$app/cut.run" --check
    expect_status 1 "$work/check.log"
    grep -q "carries no linked package" "$work/check.log" || fail "cut.run: $(cat "$work/check.log")"
    check "$app/cut.run" --version
    expect_status 0 "$work/check.log"
    expect_no_line "$work/check.out" "package version"
    # A trailer whose length does not fit: a damaged update application.
    check "$app/outside.run" --check
    expect_status 1 "$work/check.log"
    expect_line "$work/check.log" "Error: Error fwp data!"
    grep -q "the update application is damaged: .*fetch the update application again" \
      "$work/check.log" || fail "outside.run: $(cat "$work/check.log")"
    expect_clean
    ;;
  bad-packages)
    make_items
    build_package "$work/other-printer.fwp" --printer vrqprinter
    build_package "$work/not-update.fwp" --kind Fonts
    build_package "$work/bad-magic.fwp" --magic "OP FILE 1.01"
    build_package "$work/cut.fwp" --truncate 100000
    "$BIN/fwp-tool" build --item "font:$items/font.bin" "$work/no-frw.fwp" >/dev/null
    for package in other-printer not-update bad-magic cut; do
      run_update "$work/$package.log" -- --package "$work/$package.fwp" --yes
      expect_status 1 "$work/$package.log"
      expect_line "$work/$package.log" "Error fwp data!"
      expect_line "$work/$package.log" "Error: Error fwp data!"
      expect_clean
    done
    expect_no_line "$work/cut.log" "CONNECT"
    run_update "$work/no-frw.log" -- --package "$work/no-frw.fwp" --yes
    expect_status 1 "$work/no-frw.log"
    expect_line "$work/no-frw.log" "Error: Can not Run FRW!"
    expect_clean
    # Discovery sees the simulated printer.
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" -- "$app/vrq-update" --list >"$work/list.out" 2>&1
    status=$?
    expect_status 0 "$work/list.out"
    expect_line "$work/list.out" "1     04710055  /dev/usb/lp0  1-1.4     VRQSIM0001"
    # No terminal to confirm at, and no --yes: the printer is sent nothing, exit 2.
    build_package "$work/pkg.fwp"
    run_update "$work/refused.log" -- --package "$work/pkg.fwp" --json
    expect_status 2 "$work/refused.log"
    check_json "$work/refused.log" 2 refused
    expect_json "$work/refused.log.out" \
      'o[-1]["message"] == "Not updated: there is no terminal to answer at."' \
      'o[-1]["package"]["items"][0]["type"] == "frw"'
    expect_line "$work/refused.log" "  Not updated: there is no terminal to answer at. Give --yes to update without the question."
    expect_no_line "$work/refused.log" "Error"
    [ ! -s "$work/flash/transcript.txt" ] || fail "the unconfirmed update sent the printer something"
    expect_clean
    # A FIFO named as the package, for the update, the maker and --check: refused at once,
    # never waited on for a writer.
    mkfifo "$work/pipe.fwp"
    run_update "$work/fifo.log" -- --package "$work/pipe.fwp" --yes
    expect_status 1 "$work/fifo.log"
    expect_line "$work/fifo.log" "Error: Error fwp data!"
    expect_line "$work/fifo.log" "  $work/pipe.fwp is not a regular file"
    [ ! -s "$work/flash/transcript.txt" ] || fail "the printer was spoken to"
    for option in --make --check; do
      TMPDIR=$work/tmp timeout 10 "$app/vrq-update" "$option" "$work/pipe.fwp" >/dev/null 2>"$work/fifo.log"
      status=$?
      expect_status 1 "$work/fifo.log"
      grep -q "pipe.fwp is not a regular file" "$work/fifo.log" || fail "$option of a FIFO: $(cat "$work/fifo.log")"
    done
    expect_clean
    # No printer at all (no simulator).
    run_update "$work/none.log" none -- --package "$work/no-frw.fwp" --yes --json
    expect_status 1 "$work/none.log"
    check_json "$work/none.log" 1 failed
    expect_line "$work/none.log" "Can not open usb port!"
    expect_line "$work/none.log" "Error: Can not open usb port!"
    expect_clean
    ;;
  no-connect-reply)
    run_failure no-connect-reply "Can not Run FRW!" 1
    expect_line "$work/log" '  no "Connect Success!" within 3 s'
    ;;
  garbage-reply)
    # A printer that answers the connect line with noise: said as it came, escaped, and
    # not taken for silence.
    run_failure garbage "Can not Run FRW!" 1
    grep -q '^  the printer answered ".*" instead of "Connect Success!"$' "$work/log" ||
      fail "the garbage reply is not quoted: $(tr '\n' '|' <"$work/log")"
    if grep -q $'\x1b' "$work/log"; then fail "an escape byte reached the log"; fi
    ;;
  cut-stream)
    # A packed firmware stream that ends after 29 of its 2,048 bytes: the package loads
    # with zeros at the end and a warning. It is never "good", the maker makes nothing of
    # it unless told to, and every outcome carries the warning.
    make_items
    seq 1 100 | head -c 28 >"$items/short.bin"
    cut_package() {
      "$BIN/fwp-tool" build --packed --item "frw:$items/short.bin:1:CONNECT\r\nSTART FRW" \
        --item "font:$items/font.bin" "$@" "$app/cut.fwp" >/dev/null || fail "fwp-tool build $*"
    }
    cut_package
    # U, the item's unpacked size, behind the record's fields and the packed data's first word.
    at=$(python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(d.index(b"short.bin") + 9 + 24 + 4)' "$app/cut.fwp")
    cut_package --patch "$at:00080000"
    warning='item "short.bin": its packed stream ends after 29 of its 2048 bytes; the last 2019 are zeros'
    "$BIN/fwp-tool" verify "$app/cut.fwp" >"$work/verify.out" 2>&1
    status=$?
    expect_status 0 "$work/verify.out"
    expect_line "$work/verify.out" "warning: $warning"
    expect_line "$work/verify.out" "$app/cut.fwp: usable, with warnings (1 warning, 2 items)"
    expect_no_line "$work/verify.out" "good"
    # The maker: refused without --allow-warnings, made with it.
    "$app/vrq-update" --make "$app/cut.fwp" --json >"$work/make.out" 2>"$work/make.log"
    status=$?
    expect_status 1 "$work/make.log"
    expect_line "$work/make.log" "Error: Error fwp data!"
    expect_line "$work/make.log" "  $warning"
    [ ! -e "$app/cut.run" ] || fail "the maker made cut.run of a package with warnings"
    collect_json "$work/make.out"
    expect_json "$work/make.out" 'o[-1]["status"] == "failed"' \
      "o[-1]['warnings'] == ['$warning']" 'o[-1]["package"]["items"][0]["size"] == 2048'
    "$app/vrq-update" --make "$app/cut.fwp" --allow-warnings 2>"$work/make.log"
    status=$?
    expect_status 0 "$work/make.log"
    expect_line "$work/make.log" "Warning: $warning"
    [ -x "$app/cut.run" ] || fail "--allow-warnings made no cut.run"
    # --check, of the package and of the application made of it.
    for file in "$app/cut.fwp" ""; do
      if [ -n "$file" ]; then
        TMPDIR=$work/tmp "$app/vrq-update" --check "$file" --json >"$work/check.out" 2>"$work/check.log"
      else
        TMPDIR=$work/tmp "$app/cut.run" --check --json >"$work/check.out" 2>"$work/check.log"
      fi
      status=$?
      expect_status 0 "$work/check.log"
      expect_line "$work/check.log" "warning: $warning"
      collect_json "$work/check.out"
      expect_json "$work/check.out" "o[0]['warnings'] == ['$warning']" \
        "o[0]['findings'] == [{'kind': 'warning', 'text': '$warning'}]"
    done
    # An update's outcome carries it: one that may not ask, so that nothing is sent.
    run_update "$work/update.log" -- --package "$app/cut.fwp" --json
    expect_status 2 "$work/update.log"
    expect_line "$work/update.log" "Warning: $warning"
    expect_json "$work/update.log.out" 'o[-1]["status"] == "refused"' "o[-1]['warnings'] == ['$warning']"
    [ ! -s "$work/flash/transcript.txt" ] || fail "the printer was sent something"
    expect_clean
    ;;
  no-mac) run_failure no-mac "No MAC ADDR!" 3 ;;
  block-error) run_failure block-error:font:2 "Write Flash Error!" 3 ;;
  block-silent) run_failure block-silent:2 "Write Flash Error!" 3 ;;
  no-link-reply) run_failure no-link-reply "Write Flash Error!" 3 ;;
  block-stall)
    # The printer stops taking data halfway through a block: the write gives up after
    # 60 s without progress, the block's 60 s wait runs out, and the run ends well
    # within 126 s of the last byte the printer took.
    make_items
    build_package "$work/pkg.fwp"
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --verbose --flash-dir "$work/flash" \
      --fault stall-block:font:1 -- "$app/vrq-update" --package "$work/pkg.fwp" --yes \
      >"$work/log.out" 2>"$work/log" &
    pid=$!
    until grep -q "printer stopped taking data" "$work/log" || ! kill -0 "$pid" 2>/dev/null; do
      sleep 0.1
    done
    stalled=$(date +%s%N)
    wait "$pid"
    status=$?
    seconds=$((($(date +%s%N) - stalled) / 1000000000))
    grep -q "printer stopped taking data" "$work/log" || fail "the printer never stalled"
    [ "$status" -eq 1 ] || [ "$status" -eq 3 ] || fail "exit status $status after a failed block"
    expect_line "$work/log" "Error: Write Flash Error!"
    expect_no_line "$work/log" "Update Success!"
    [ "$seconds" -ge 119 ] && [ "$seconds" -lt 126 ] ||
      fail "ended $seconds s after the printer stalled, expected 120 s or a little more"
    expect_no_line "$work/flash/transcript.txt" "LINK"
    expect_clean
    ;;
  maker-mode-package)
    # The settings file chooses the window's mode only: --package always updates.
    make_items
    build_package "$work/pkg.fwp"
    printf '[MAIN]\nMAKE=1\n' >"$app/vrq-update.ini"
    run_update "$work/log" -- --package "$work/pkg.fwp" --yes
    expect_status 0 "$work/log"
    expect_line "$work/log" "Info: Update Success!"
    expect_flash_equals_items
    [ ! -e "$work/pkg.run" ] || fail "--package made pkg.run"
    expect_clean
    ;;
  stop-before-image)
    # Before the firmware image a stop is immediate: the run cleans up and exits 130
    # (SIGINT) or 143 (SIGTERM, SIGHUP).
    make_items
    build_package "$work/pkg.fwp" --packed
    for pair in INT:130 TERM:143 HUP:143; do
      start_update "$work/$pair.log" --fault no-connect-reply -- --package "$work/pkg.fwp" --yes --json
      wait_for_line "$work/$pair.log" "CONNECT"
      signal_update "${pair%%:*}"
      finish_update
      expect_status "${pair##*:}" "$work/$pair.log"
      expect_line "$work/$pair.log" "Stopped."
      check_json "$work/$pair.log" "${pair##*:}" stopped
      expect_json "$work/$pair.log.out" 'o[-1]["message"] == "Stopped."' \
        'o[-1]["durations"]["writing"] is None'
      expect_no_line "$work/flash/transcript.txt" "DF "
      expect_clean
    done
    ;;
  stop-during-block)
    # While the printer is written a first Ctrl-C only warns; a second one, or SIGTERM,
    # stops after the write in progress, and the run cleans up.
    make_items
    build_package "$work/pkg.fwp"
    start_update "$work/int.log" -- --package "$work/pkg.fwp" --yes --json
    wait_for_line "$work/int.log" "Update..."
    signal_update INT
    wait_for_line "$work/int.log" "Press Ctrl-C again to stop anyway."
    signal_update INT
    finish_update
    expect_status 130 "$work/int.log"
    # Told apart from a stop that left the printer as it was.
    check_json "$work/int.log" 130 stopped_after_image
    expect_json "$work/int.log.out" 'o[-1]["message"].startswith("Stopped while writing the printer")'
    expect_line "$work/int.log" \
      "Stopped while writing the printer: it may hold incomplete firmware; run the update again."
    expect_no_line "$work/flash/transcript.txt" "LINK"
    expect_clean
    start_update "$work/term.log" -- --package "$work/pkg.fwp" --yes --json
    wait_for_line "$work/term.log" "Update..."
    signal_update TERM
    finish_update
    expect_status 143 "$work/term.log"
    check_json "$work/term.log" 143 stopped_after_image
    expect_no_line "$work/flash/transcript.txt" "LINK"
    expect_clean
    ;;
  stop-maker)
    # A make stopped half way leaves neither the application nor its temporary file. The
    # package is large, so that the make is still writing when the signal comes.
    make_items
    head -c $((64 << 20)) /dev/zero | tr '\0' '\132' >"$items/big.bin"
    "$BIN/fwp-tool" build --item "frw:$items/frw.bin" --item "system:$items/big.bin" \
      "$work/pkg.fwp" >/dev/null || fail "fwp-tool build"
    for pair in INT:130 TERM:143; do
      "$app/vrq-update" --make "$work/pkg.fwp" --json >"$work/make.out" 2>"$work/make.log" &
      maker=$!
      until compgen -G "$work/_^~*.tmp" >/dev/null || ! kill -0 "$maker" 2>/dev/null; do
        sleep 0.005
      done
      compgen -G "$work/_^~*.tmp" >/dev/null || fail "the make never began its file"
      kill "-${pair%%:*}" "$maker"
      wait "$maker"
      status=$?
      expect_status "${pair##*:}" "$work/make.log"
      collect_json "$work/make.out"
      expect_json "$work/make.out" 'o[-1]["status"] == "stopped"' \
        "o[-1]['exit_status'] == ${pair##*:} and o[-1]['message'] == 'Stopped.'"
      left=$(find "$work" -maxdepth 1 \( -name 'pkg.run' -o -name '_^~*' \))
      [ -z "$left" ] || fail "a stopped make left $left"
    done
    ;;
  leftovers-after-kill)
    # A run killed with SIGKILL leaves its files; the next run removes them at start, but
    # never the files of an instance that is still running.
    make_items
    build_package "$work/pkg.fwp"
    printf 'not a package' >"$work/junk.fwp"
    leftovers() { find "$app" "$work/tmp" -mindepth 1 -maxdepth 1 \( -name '_^~*' -o -name '.*' \) | sort; }
    start_update "$work/killed.log" --fault no-connect-reply -- --package "$work/pkg.fwp" --yes
    wait_for_line "$work/killed.log" "CONNECT"
    signal_update KILL
    finish_update
    killed=$(leftovers)
    [ -n "$killed" ] || fail "the killed run left nothing to sweep"
    start_update "$work/live.log" --fault no-connect-reply -- --package "$work/pkg.fwp" --yes
    wait_for_line "$work/live.log" "CONNECT"
    live=$(leftovers)
    for path in $killed; do
      [ ! -e "$path" ] || fail "$path of the killed run was not removed"
    done
    [ -n "$live" ] || fail "the live run holds no files"
    TMPDIR=$work/tmp "$app/vrq-update" --package "$work/junk.fwp" --yes 2>"$work/third.log"
    [ "$(leftovers)" = "$live" ] || fail "another run removed files of a live one"
    finish_update
    expect_clean
    ;;
  make-over-symlink)
    # A symlink planted at NAME.run is replaced by the application, never written through.
    make_items
    build_package "$work/pkg.fwp"
    printf 'precious' >"$work/victim"
    ln -s "$work/victim" "$work/pkg.run"
    "$app/vrq-update" --make "$work/pkg.fwp" 2>"$work/make.log"
    status=$?
    expect_status 0 "$work/make.log"
    expect_line "$work/make.log" "Replaced the existing $work/pkg.run"
    [ "$(cat "$work/victim")" = precious ] || fail "the make wrote through the symlink"
    [ -f "$work/pkg.run" ] && [ ! -L "$work/pkg.run" ] || fail "pkg.run is not a file of its own"
    [ -x "$work/pkg.run" ] || fail "pkg.run is not executable"
    ;;
  hid-library)
    # The library is mapped while the program runs when it lies beside it, and the
    # program runs as well without it.
    printf 'not a package' >"$work/junk.fwp"
    LD_DEBUG=files "$app/vrq-update" --package "$work/junk.fwp" --yes 2>"$work/with.log"
    grep -q "calling init: $app/libJXUsbHid.so" "$work/with.log" ||
      fail "libJXUsbHid.so beside the program was not loaded"
    grep -q "calling fini: $app/libJXUsbHid.so" "$work/with.log" ||
      fail "libJXUsbHid.so was not released at exit"
    rm "$app"/libJXUsbHid.so*
    LD_DEBUG=files "$app/vrq-update" --package "$work/junk.fwp" --yes 2>"$work/without.log"
    status=$?
    expect_status 1 "$work/without.log"
    expect_line "$work/without.log" "Error: Error fwp data!"
    expect_no_line "$work/without.log" "calling init: $app/libJXUsbHid.so"
    ;;
  sleep-lock)
    # While the printer is written, logind holds the program's "block" lock: asked for
    # before anything reached the printer, still held in the flash sections after the
    # printer's restart, gone once the run is over.
    source "$(dirname "${BASH_SOURCE[0]}")/logind_mock.sh"
    make_items
    build_package "$work/pkg.fwp"
    start_logind_mock "$work/flash/transcript.txt" "$work/at-lock.txt"
    why="Updating the firmware of the printer at /dev/usb/lp0"
    (
      run_update "$work/log" -- --package "$work/pkg.fwp" --yes
      exit "$status"
    ) &
    runner=$!
    for ((i = 0; i < 600; i++)); do
      grep -qx CKID "$work/flash/transcript.txt" 2>/dev/null && break
      sleep 0.1
    done
    during=$(list_inhibitors)
    wait "$runner"
    status=$?
    expect_status 0 "$work/log"
    expect_line "$work/log" "Info: Update Success!"
    expect_flash_equals_items
    [ "$(grep -c ' Inhibit ' "$work/logind.log")" -eq 1 ] ||
      fail "Inhibit was not called once: $(tr '\n' '|' <"$work/logind.log")"
    grep -qF " Inhibit \"sleep:shutdown:idle\" \"vrq-update\" \"$why\" \"block\"" "$work/logind.log" ||
      fail "Inhibit asked for something else: $(grep Inhibit "$work/logind.log")"
    [ -f "$work/at-lock.txt" ] || fail "logind never saw the lock asked for"
    expect_no_line "$work/at-lock.txt" "DF "
    [ "$during" = "sleep:shutdown:idle|vrq-update|$why|block" ] ||
      fail "while the sections were written logind held: '$during'"
    for ((i = 0; i < 50; i++)); do
      after=$(list_inhibitors)
      [ -z "$after" ] && break
      sleep 0.1
    done
    [ -z "$after" ] || fail "the lock outlived the program: $after"
    expect_clean
    ;;
  sleep-lock-no-bus)
    # Without a system bus there is no lock, and the update goes on without a word of it.
    make_items
    build_package "$work/pkg.fwp"
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-bus \
      run_update "$work/log" -- --package "$work/pkg.fwp" --yes
    expect_status 0 "$work/log"
    expect_line "$work/log" "Info: Update Success!"
    expect_flash_equals_items
    expect_no_line "$work/log" "system bus"
    expect_no_line "$work/log" "logind"
    expect_clean
    ;;
  device)
    # Two printers; --device names one by its USB port path, its node or its serial, and
    # only that one is written: the other is sent nothing. With the port path, the other
    # printer restarts with ours and comes back first, on the node ours had: the run
    # waits for its own printer, back on the other node, and goes on with it.
    make_items
    build_package "$work/pkg.fwp"
    for pick in "1-1.4:1-1.4:1-1.5" "/dev/usb/lp1:1-1.5:1-1.4" "VRQSIM0001:1-1.4:1-1.5"; do
      IFS=: read -r name ours other <<<"$pick"
      faults=()
      [ "$name" = 1-1.4 ] && faults=(--fault "restart-with:1-1.4@1-1.5")
      run_update "$work/device.log" --printers 2 "${faults[@]}" -- \
        --package "$work/pkg.fwp" --yes --device "$name"
      expect_status 0 "$work/device.log"
      expect_line "$work/device.log" "Info: Update Success!"
      expect_flash_equals_items "$work/flash/$ours"
      [ ! -s "$work/flash/$other/transcript.txt" ] ||
        fail "--device $name: the printer on $other was sent $(head -c 200 "$work/flash/$other/transcript.txt")"
      [ -z "$(find "$work/flash/$other" -name '*.bin')" ] || fail "--device $name: $other was flashed"
      expect_clean
    done
    ;;
  several-printers)
    # Without --device a headless update does not guess: it writes no printer, names them
    # all, and exits 2. --list names them under a header, also as JSON.
    make_items
    build_package "$work/pkg.fwp"
    run_update "$work/log" --printers 2 -- --package "$work/pkg.fwp" --yes --json
    expect_status 2 "$work/log"
    expect_json "$work/log.out" 'len(o) == 1' 'o[0]["status"] == "refused"' \
      'o[0]["exit_status"] == 2' 'o[0]["message"].startswith("2 printers are attached")'
    check_json "$work/log" 2 refused
    expect_line "$work/log" "vrq-update: 2 printers are attached: 1-1.4 (serial VRQSIM0001, /dev/usb/lp0), 1-1.5 (serial VRQSIM0002, /dev/usb/lp1). Pick the one to update with --device (its USB port path, node or serial number), or update them all with --all."
    for port in 1-1.4 1-1.5; do
      [ ! -s "$work/flash/$port/transcript.txt" ] || fail "the printer on $port was sent something"
    done
    run_update "$work/nomatch.log" --printers 2 -- --package "$work/pkg.fwp" --yes --device lp7 --json
    expect_status 2 "$work/nomatch.log"
    expect_json "$work/nomatch.log.out" 'o[0]["status"] == "refused"' \
      'o[0]["message"].startswith("--device lp7 names no attached printer")'
    grep -q "^vrq-update: --device lp7 names no attached printer; attached: 1-1.4" "$work/nomatch.log" ||
      fail "an unmatched --device does not name what is attached"
    run_update "$work/list" --printers 2 -- --list
    expect_status 0 "$work/list"
    expect_line "$work/list.out" "PORT  ID        NODE          USB PORT  SERIAL"
    expect_line "$work/list.out" "2     04710055  /dev/usb/lp1  1-1.5     VRQSIM0002"
    run_update "$work/json" --printers 2 -- --list --json
    python3 -m json.tool "$work/json.out" >/dev/null || fail "--list --json is no JSON: $(cat "$work/json.out")"
    expect_json "$work/json.out" 'all(entry["schema"] == 1 for entry in o)'
    [ "$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$work/json.out")" = 2 ] ||
      fail "--list --json does not list two printers"
    TMPDIR=$work/tmp "$app/vrq-update" --list >"$work/none.out" 2>"$work/none.log"
    status=$?
    expect_status 1 "$work/none.log"
    grep -q "no printer found" "$work/none.log" || fail "--list without printers does not say so"
    expect_clean
    ;;
  all-printers)
    # --all updates both printers at once, each by its own process, and ends with a table.
    make_items
    build_package "$work/pkg.fwp"
    run_update "$work/log" --printers 2 -- --package "$work/pkg.fwp" --all --yes --json
    expect_status 0 "$work/log"
    for port in 1-1.4 1-1.5; do
      expect_flash_equals_items "$work/flash/$port"
      grep -qE "^$port +VRQSIM000[12] +Update Success! +[0-9]+:[0-5][0-9]$" "$work/log" ||
        fail "no table row for $port"
      grep -q "^$port: Update\.\.\. | font 50% " "$work/log" || fail "no progress line for $port"
    done
    # Each printer's outcome as its own process wrote it, and the summary last.
    expect_json "$work/log.out" 'len(o) == 3' \
      'sorted(x["printer"]["port_path"] for x in o[:2]) == ["1-1.4", "1-1.5"]' \
      'all(x["event"] == "outcome" and x["status"] == "success" for x in o[:2])' \
      'o[2]["event"] == "summary" and o[2]["status"] == "success" and o[2]["exit_status"] == 0' \
      'sorted(p["serial"] for p in o[2]["printers"]) == ["VRQSIM0001", "VRQSIM0002"]' \
      'o[0]["package"]["sha256"] == o[1]["package"]["sha256"] != None'
    expect_clean
    # No printer attached: the summary alone, with the reason.
    run_update "$work/none.log" none -- --package "$work/pkg.fwp" --all --yes --json
    expect_status 1 "$work/none.log"
    expect_line "$work/none.log" "Error: Can not open usb port!"
    expect_json "$work/none.log.out" 'len(o) == 1' 'o[0]["event"] == "summary"' \
      'o[0]["status"] == "failed" and o[0]["exit_status"] == 1' 'o[0]["printers"] == []' \
      'o[0]["message"] == "Can not open usb port!" and "found on USB" in o[0]["detail"]'
    expect_clean
    ;;
  broken-pipe)
    # Nobody has to read what the program says: a closed pipe on standard output, and a
    # tee on standard error that the terminal's Ctrl-C ends, change nothing in an update.
    # The two runs go at once.
    make_items
    build_package "$work/pkg.fwp"
    {
      TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash-head" -- "$app/vrq-update" \
        --package "$work/pkg.fwp" --yes --json 2>"$work/head.log" | head -n 3 >"$work/head.out"
      echo "${PIPESTATUS[0]}" >"$work/head.status"
    } &
    headed=$!
    mkfifo "$work/keys"
    exec 7<>"$work/keys"
    # A command started with & has SIGINT ignored; tee must get it at its default.
    SHELL=/bin/bash TMPDIR=$work/tmp env --default-signal=INT script -qefc "{ '$BIN/vrq-printer-sim' \
      --rate 100000 --flash-dir '$work/flash' -- '$app/vrq-update' --package '$work/pkg.fwp' \
      --yes 2>&1; echo \$? >'$work/status'; } | tee '$work/tee.log'" "$work/tty" \
      <"$work/keys" >/dev/null 2>&1 &
    runner=$!
    wait_for_line "$work/tee.log" "Update..."
    printf '\003' >&7
    wait "$runner"
    exec 7>&-
    [ "$(cat "$work/status" 2>/dev/null)" = 0 ] ||
      fail "with tee gone the run ended with $(cat "$work/status" 2>/dev/null): $(tail -c 300 "$work/tee.log")"
    expect_no_line "$work/tee.log" "Update Success!"
    expect_flash_equals_items
    expect_line "$work/flash/transcript.txt" "LINK"
    wait "$headed"
    status=$(cat "$work/head.status")
    expect_status 0 "$work/head.log"
    [ "$(wc -l <"$work/head.out")" -eq 3 ] || fail "head did not get three lines"
    expect_line "$work/head.log" "Info: Update Success!"
    expect_flash_equals_items "$work/flash-head"
    expect_line "$work/flash-head/transcript.txt" "LINK"
    status=0
    expect_clean
    ;;
  all-parent-killed)
    # The children of --all are no part of the parent's life: kill -9 of the parent in the
    # middle of the blocks leaves both printers fully written. A shell keeps the simulator
    # (and its printers) alive until the orphaned children are done.
    make_items
    build_package "$work/pkg.fwp"
    rm -rf "$work/flash"
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --printers 2 --rate 100000 --flash-dir "$work/flash" \
      -- bash -c '"$0" --package "$1" --all --yes & echo $! >"$2"; wait
      while pgrep -f -- "^$0 --package" >/dev/null; do sleep 0.2; done' \
      "$app/vrq-update" "$work/pkg.fwp" "$work/parent.pid" >"$work/log.out" 2>"$work/log" &
    sim=$!
    wait_for_line "$work/log" ": Update... | font"
    kill -KILL "$(cat "$work/parent.pid")"
    finish_update
    for port in 1-1.4 1-1.5; do
      expect_flash_equals_items "$work/flash/$port"
      expect_line "$work/flash/$port/transcript.txt" "LINK"
    done
    # The orphaned children still record their outcomes.
    history=$work/state/vrq-update/history.jsonl
    [ -n "${VRQ_TEST_NAMESPACE:-}" ] && history=$work/root-state/history.jsonl
    if [ "$(id -u)" != 0 ] || [ -n "${VRQ_TEST_NAMESPACE:-}" ]; then
      /usr/bin/python3 - "$history" <<'EOF' || fail "the children's outcomes are not in the history"
import json, sys
records = [json.loads(line) for line in open(sys.argv[1])]
done = sorted(r["printer"]["serial"] for r in records if r["status"] == "success")
sys.exit(done != ["VRQSIM0001", "VRQSIM0002"])
EOF
    fi
    status=0
    expect_clean
    ;;
  installed-folder)
    # Installed in a folder of root's under /usr and run by root: no temporary file goes
    # beside the program, also not when the run is killed; they go to the runtime folder
    # and TMPDIR, where the next start removes them. Another program's empty ".1A2B.tmp"
    # in TMPDIR stays.
    if [ "$(id -u)" != 0 ]; then
      echo "skipped: only root may make a folder under /usr/local/lib"
      exit 0
    fi
    make_items
    build_package "$work/pkg.fwp"
    printf 'not a package' >"$work/junk.fwp"
    installed=$(mktemp -d /usr/local/lib/vrq-update-test-XXXXXX)
    trap 'rm -rf "$work" "$installed"' EXIT
    chmod 755 "$installed"
    cp -P "$app"/vrq-update "$app"/libJXUsbHid.so* "$installed/"
    files=$(ls -A "$installed")
    mkdir -m 700 "$work/run"
    : >"$work/tmp/.1A2B.tmp"
    rm -rf "$work/flash"
    XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --fault no-connect-reply \
      --flash-dir "$work/flash" -- "$installed/vrq-update" --package "$work/pkg.fwp" --yes \
      >"$work/killed.log.out" 2>"$work/killed.log" &
    sim=$!
    wait_for_line "$work/killed.log" "CONNECT"
    [ "$(ls -A "$installed")" = "$files" ] || fail "the run wrote beside the program: $(ls -A "$installed")"
    [ -n "$(find "$work/run" -name '_^~*.tmp')" ] || fail "no library image in the runtime folder"
    signal_update KILL
    finish_update
    [ "$(ls -A "$installed")" = "$files" ] || fail "the killed run left beside the program: $(ls -A "$installed")"
    [ -n "$(find "$work/run" "$work/tmp" -mindepth 1 -not -name .1A2B.tmp -not -name 'JX_USBHID_*')" ] ||
      fail "the killed run left nothing to sweep"
    XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp "$installed/vrq-update" --package "$work/junk.fwp" \
      --yes 2>"$work/next.log"
    # The HID library's named objects stay in the runtime folder by design.
    left=$(find "$work/run" "$work/tmp" -mindepth 1 -not -name 'JX_USBHID_*')
    [ "$left" = "$work/tmp/.1A2B.tmp" ] || fail "after the next start: ${left:-nothing} (expected only .1A2B.tmp)"
    [ "$(ls -A "$installed")" = "$files" ] || fail "the next run wrote beside the program"
    rm "$work/tmp/.1A2B.tmp"
    status=0
    expect_clean
    ;;
  check-stop)
    # --check of a large update application stops like an update while it copies the
    # package out: Ctrl-C ends it at once with 130 and leaves nothing; the copy that a
    # kill -9 leaves goes at the next run.
    make_items
    truncate -s 400M "$items/big.bin"
    "$BIN/fwp-tool" build --item "frw:$items/frw.bin:1:CONNECT\r\nSTART FRW" \
      --item "font:$items/big.bin" --stored "$app/big.fwp" >/dev/null || fail "fwp-tool build"
    TMPDIR=$work/tmp "$app/vrq-update" --make "$app/big.fwp" 2>/dev/null || fail "the make failed"
    rm "$app/big.fwp" "$items/big.bin"
    copies() { find "$app" "$work/tmp" -name '_^~*.tmp'; }
    for sig in INT KILL; do
      TMPDIR=$work/tmp "$app/big.run" --check >"$work/$sig.out" 2>"$work/$sig.log" &
      pid=$!
      # A loaded machine may take a while to start the copy: wait for it as long as the
      # check runs, up to a minute.
      for ((i = 0; i < 6000; i++)); do
        [ -n "$(copies)" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.01
      done
      [ -n "$(copies)" ] || fail "SIG$sig: no copy of the package was seen: $(cat "$work/$sig.log")"
      kill "-$sig" "$pid"
      wait "$pid"
      status=$?
      expect_no_line "$work/$sig.out" "ready for the printer"
      if [ "$sig" = INT ]; then expect_status 130 "$work/INT.log"; fi
    done
    expect_status 137 "$work/KILL.log"
    [ -n "$(copies)" ] || fail "the killed --check left no copy"
    TMPDIR=$work/tmp "$app/vrq-update" --check "$items/frw.bin" >/dev/null 2>&1
    [ -z "$(copies)" ] || fail "the next run left $(copies)"
    status=$(grep -c . "$work/INT.log")
    expect_line "$work/INT.log" "Stopped."
    [ "$status" -eq 1 ] || fail "more than \"Stopped.\" after Ctrl-C: $(cat "$work/INT.log")"
    status=0
    expect_clean
    ;;
  terminal-width)
    # In terminals of 40 and 80 columns (tmux) the progress line of an update, and the
    # block of --all with two printers, stay within the width: no row is wrapped, and no
    # redraw leaves pieces of an earlier one. The four runs go at once, each with its own
    # simulator, and their screens are looked at while they run.
    make_items
    build_package "$work/pkg.fwp"
    tmux_() { tmux -L "vrq-e2e-$$" "$@"; }
    trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
    runs=()
    for width in 40 80; do
      for printers in 1 2; do
        run=$width-$printers
        runs+=("$run")
        all=$([ "$printers" = 2 ] && echo --all)
        tmux_ new-session -d -s "$run" -x "$width" -y 20 "TMPDIR='$work/tmp' \
          '$BIN/vrq-printer-sim' --printers $printers --flash-dir '$work/flash-$run' -- \
          '$app/vrq-update' --package '$work/pkg.fwp' --yes $all; echo \$? >'$work/status-$run'; sleep 120"
      done
    done
    for ((n = 0; n < 400; n++)); do
      running=0
      for run in "${runs[@]}"; do
        [ -s "$work/status-$run" ] && continue
        running=1
        tmux_ capture-pane -p -S - -t "$run" >"$work/screen-$run.$n"
      done
      [ "$running" = 0 ] && break
      sleep 0.25
    done
    for run in "${runs[@]}"; do
      width=${run%-*}
      tmux_ capture-pane -p -S - -t "$run" >"$work/screen-$run.end"
      tmux_ capture-pane -pJ -S - -t "$run" >"$work/joined-$run"
      [ "$(cat "$work/status-$run" 2>/dev/null)" = 0 ] ||
        fail "$run: exit status $(cat "$work/status-$run" 2>/dev/null)"
      sed 's/ *$//' "$work/screen-$run.end" | diff -q - <(sed 's/ *$//' "$work/joined-$run") \
        >/dev/null || fail "$run: a line was wrapped: $(cat "$work/joined-$run")"
      for screen in "$work"/screen-$run.*; do
        long=$(sed 's/ *$//' "$screen" | awk -v w="$width" 'length($0) >= w')
        [ -z "$long" ] || fail "$run: a row fills the width: $long"
        # A progress row ends with the time left, or is cut short within the width.
        broken=$(sed 's/ *$//' "$screen" | grep -E '\| [0-9]+:[0-5][0-9] left.' | head -1)
        [ -z "$broken" ] || fail "$run: pieces of an earlier line: $broken"
      done
      grep -q "Update Success!" "$work/joined-$run" || fail "$run: no success shown"
      seen=$(find "$work" -name "screen-$run.*" | wc -l)
      [ "$seen" -gt 10 ] || fail "$run: the screen was seen only $seen times"
    done
    tmux_ kill-server
    status=0
    expect_clean
    ;;
  terminal-dumb)
    # TERM=dumb, and NO_COLOR on any terminal: plain lines as for a log, no escape
    # sequence at all. Both runs go at once.
    make_items
    build_package "$work/pkg.fwp"
    for setting in TERM=dumb NO_COLOR=1; do
      env "$setting" TMPDIR="$work/tmp" script -qefc "'$BIN/vrq-printer-sim' --printers 2 \
        --flash-dir '$work/flash-$setting' -- '$app/vrq-update' --package '$work/pkg.fwp' --yes \
        $([ "$setting" = NO_COLOR=1 ] && echo --all || echo --device 1-1.4)" \
        "$work/tty-$setting" >/dev/null 2>&1 &
    done
    wait
    for setting in TERM=dumb NO_COLOR=1; do
      tty=$work/tty-$setting
      grep -q 'COMMAND_EXIT_CODE="0"' "$tty" || fail "$setting: the update did not exit 0"
      grep -q "Update Success!" "$tty" || fail "$setting: no success"
      if grep -q $'\033' "$tty"; then
        fail "$setting: an escape sequence: $(grep -a $'\033' "$tty" | head -2 | cat -v)"
      fi
      grep -q "font 50%" "$tty" || fail "$setting: no plain progress line"
    done
    status=0
    expect_clean
    ;;
  all-ctrl-c)
    # Ctrl-C at the terminal reaches the children of --all only through the parent, by
    # the stop rules: the first press while the printers are written only warns, the
    # second stops each child after its write in progress, with 130.
    make_items
    build_package "$work/pkg.fwp"
    mkfifo "$work/keys"
    exec 7<>"$work/keys"
    TMPDIR=$work/tmp script -qefc "'$BIN/vrq-printer-sim' --printers 2 --rate 100000 \
      --flash-dir '$work/flash' -- '$app/vrq-update' --package '$work/pkg.fwp' --all --yes \
      2>'$work/log'" "$work/tty" <"$work/keys" >/dev/null 2>&1 &
    runner=$!
    # Until both printers are taking blocks.
    for ((i = 0; i < 600; i++)); do
      grep -q "SETIT" "$work/flash/1-1.4/transcript.txt" 2>/dev/null &&
        grep -q "SETIT" "$work/flash/1-1.5/transcript.txt" 2>/dev/null && break
      sleep 0.1
    done
    printf '\003' >&7
    sleep 1
    kill -0 "$runner" 2>/dev/null || fail "the first Ctrl-C ended the run"
    printf '\003' >&7
    wait "$runner"
    exec 7>&-
    grep -q 'COMMAND_EXIT_CODE="130"' "$work/tty" ||
      fail "the run did not end with 130: $(tail -c 300 "$work/tty" | tr '\r\n' '||')"
    for port in 1-1.4 1-1.5; do
      expect_no_line "$work/flash/$port/transcript.txt" "LINK"
      expect_nothing_lost "$work/flash/$port"
    done
    status=0
    expect_clean
    ;;
  hostile-serial)
    # A printer whose USB serial number holds an escape sequence, CR LF and a forged row,
    # a C1 control, a stray C1 byte and 0xFF: --list, the several-printers refusal and
    # --all's question show it escaped, and no control byte reaches the output; JSON
    # keeps the characters and writes the invalid bytes as the text \xNN.
    make_items
    build_package "$work/pkg.fwp"
    hostile=(--printers 2 --serial '1-1.5=X\x1b[2J\x0d\x0a3     04710055  /dev/usb/lp9\xc2\x9b\x9b\xff')
    shown='X\x1B[2J\x0D\x0A3     04710055  /dev/usb/lp9\xC2\x9B\x9B\xFF'
    # Fails when a file holds a control byte other than LF, or is not UTF-8; says which
    # line.
    expect_no_controls() {
      local found
      found=$(/usr/bin/python3 - "$@" <<'PY'
import re, sys
for name in sys.argv[1:]:
    for line in open(name, "rb").read().split(b"\n"):
        try:
            if not re.search("[\x00-\x09\x0b-\x1f\x7f-\x9f]", line.decode("utf-8")):
                continue
        except UnicodeDecodeError:
            pass
        print(name, repr(line))
PY
      )
      [ -z "$found" ] || fail "control bytes or broken UTF-8 in the output: $found"
    }
    run_update "$work/list" "${hostile[@]}" -- --list
    expect_status 0 "$work/list"
    expect_line "$work/list.out" "2     04710055  /dev/usb/lp1  1-1.5     $shown"
    expect_no_controls "$work/list.out" "$work/list"
    run_update "$work/several" "${hostile[@]}" -- --package "$work/pkg.fwp" --yes
    expect_status 2 "$work/several"
    grep -qF "1-1.5 (serial $shown, /dev/usb/lp1). Pick the one" "$work/several" ||
      fail "the refusal does not show the serial escaped: $(cat "$work/several")"
    expect_no_controls "$work/several" "$work/several.out"
    run_update "$work/all" "${hostile[@]}" -- --package "$work/pkg.fwp" --all </dev/null
    expect_status 2 "$work/all"
    expect_line "$work/all" "Printers: 1-1.4 (serial VRQSIM0001, /dev/usb/lp0), 1-1.5 (serial $shown, /dev/usb/lp1)"
    expect_no_controls "$work/all" "$work/all.out"
    run_update "$work/json" "${hostile[@]}" -- --list --json
    expect_status 0 "$work/json"
    expect_no_controls "$work/json.out"
    /usr/bin/python3 -c '
import json, sys
serial = json.load(open(sys.argv[1]))[1]["serial"]
sys.exit(serial != "X\x1b[2J\r\n3     04710055  /dev/usb/lp9\x9b\\x9B\\xFF")' "$work/json.out" ||
      fail "--list --json does not keep the serial: $(cat "$work/json.out")"
    for port in 1-1.4 1-1.5; do
      [ ! -s "$work/flash/$port/transcript.txt" ] || fail "the printer on $port was sent something"
    done
    expect_clean
    ;;
  serial-like-port)
    # The printer on 1-1.5 has the serial number "1-1.4", the other printer's port path.
    # --device 1-1.4 takes the printer on that port, serial:1-1.4 the other one (the
    # question names the printer; without a terminal nothing is written), and --all
    # updates both.
    make_items
    build_package "$work/pkg.fwp"
    twin=(--printers 2 --serial '1-1.5=1-1.4')
    for pick in "1-1.4:1-1.4, serial VRQSIM0001" "port:1-1.4:1-1.4, serial VRQSIM0001" \
      "serial:1-1.4:1-1.5, serial 1-1.4" "lp1:1-1.5, serial 1-1.4"; do
      name=${pick%:*}
      run_update "$work/pick" "${twin[@]}" -- --package "$work/pkg.fwp" --device "$name" </dev/null
      expect_status 2 "$work/pick"
      grep -qF "Printer: USB port ${pick##*:} (" "$work/pick" ||
        fail "--device $name does not pick ${pick##*:}: $(cat "$work/pick")"
    done
    run_update "$work/log" "${twin[@]}" -- --package "$work/pkg.fwp" --all --yes
    expect_status 0 "$work/log"
    for port in 1-1.4 1-1.5; do
      expect_flash_equals_items "$work/flash/$port"
    done
    grep -qE "^1-1.5 +1-1.4 +Update Success! " "$work/log" || fail "no table row for 1-1.5"
    expect_clean
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ]
