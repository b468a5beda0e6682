#!/usr/bin/env bash
# End-to-end cases of the update history, --skip-updated and --all for a subset: the
# real vrq-update under the simulated printers.
#   history.sh CASE      with BIN naming the folder of vrq-update, fwp-tool, vrq-printer-sim
# The history goes to $work/state ($XDG_STATE_HOME). Root's history has a fixed place
# (/var/lib/vrq-update), so as root the program runs as the user nobody.
set -uo pipefail

: "${BIN:?BIN must name the build output folder}"
case_name=${1:?usage: history.sh CASE}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e-$case_name.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

source "$here/common.sh"
items=$work/items
export XDG_STATE_HOME=$work/state
history_file=$work/state/vrq-update/history.jsonl
schema=$here/../../docs/outcome.schema.json

as_user=()
sim_user=()
if [ "$(id -u)" = 0 ]; then
  chmod 755 "$work"
  as_user=(runuser -u nobody --)
  sim_user=(--user nobody)
fi

make_items() {
  head -c 3000 /dev/zero | tr '\0' '\125' >"$items/frw.bin"
  seq 1 1200 | head -c 5000 >"$items/boot.bin"
  seq 5000 9000 | head -c 20000 >"$items/sys.bin"
  seq 1 3000 | head -c 9000 >"$items/font.bin"
  "$BIN/fwp-tool" build --item "frw:$items/frw.bin:1:CONNECT\r\nSTART FRW" \
    --item "bootloader:$items/boot.bin" --item "system:$items/sys.bin" \
    --item "font:$items/font.bin" --version-label "V-e2e" "$work/pkg.fwp" >/dev/null ||
    fail "fwp-tool build"
  [ "$(id -u)" != 0 ] || chown -R nobody: "$work"
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1 ($(tail -n 3 "$2" | tr '\n' '|'))"
}

# sim LOG [sim options...] -- [vrq-update arguments...]: as run_update, as the test user.
sim() {
  local log=$1
  shift
  local options=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  shift
  rm -rf "$work/flash"
  TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" "${sim_user[@]}" \
    "${options[@]}" -- "${exe:-$app/vrq-update}" "$@" >"$log.out" 2>"$log"
  status=$?
}

# program LOG [vrq-update arguments...]: without printers, as the test user.
program() {
  local log=$1
  shift
  TMPDIR=$work/tmp "${as_user[@]}" env XDG_STATE_HOME="$XDG_STATE_HOME" "$app/vrq-update" "$@" \
    >"$log.out" 2>"$log"
  status=$?
}

# valid FILE...: every JSON value in FILE fits the schema.
valid() {
  local why
  why=$(/usr/bin/python3 "$here/../json/validate.py" "$schema" "$@" 2>&1) || fail "schema: $why"
}

# py EXPRESSION FILE: a Python expression over the JSON value of FILE (as "v") is true.
py() {
  /usr/bin/python3 -c "import json,sys; v=json.load(open(sys.argv[2])); sys.exit(0 if ($1) else 1)" \
    "$1" "$2" || fail "not ($1) for $(basename "$2"): $(head -c 600 "$2")"
}

# connected PORT_FOLDER: the printer was sent its connect line.
connected() {
  grep -q "CONNECT" "$1/transcript.txt" 2>/dev/null
}

case "$case_name" in
  history)
    # An update leaves one record, which --history shows as a table and as JSON, for
    # every printer or those --device names; a damaged line is passed over with a
    # warning; no history at all is an empty one.
    make_items
    program "$work/empty" --history --json
    expect_status 0 "$work/empty"
    [ "$(cat "$work/empty.out")" = "[]" ] || fail "no history is not []: $(cat "$work/empty.out")"
    sim "$work/log" -- --package "$work/pkg.fwp" --yes
    expect_status 0 "$work/log"
    [ "$(wc -l <"$history_file")" -eq 1 ] || fail "not one record: $(cat "$history_file")"
    valid "$history_file"
    program "$work/text" --history
    expect_status 0 "$work/text"
    grep -qE '^TIME \(UTC\) +SERIAL +USB PORT +PACKAGE +VERSION +STATUS$' "$work/text.out" ||
      fail "no table header: $(cat "$work/text.out")"
    grep -qE '^20[0-9-]+T[0-9:]+Z +VRQSIM0001 +1-1\.4 +pkg\.fwp +V-e2e +success$' "$work/text.out" ||
      fail "no row for the update: $(cat "$work/text.out")"
    program "$work/json" --history --device VRQSIM0001 --json
    valid "$work/json.out"
    sha=$(sha256sum "$work/pkg.fwp" | cut -d' ' -f1)
    py "len(v) == 1 and v[0]['package']['sha256'] == '$sha' and v[0]['exit_status'] == 0 and v[0]['schema'] == 1" "$work/json.out"
    program "$work/other" --history --device 1-1.9 --json
    py "v == []" "$work/other.out"
    echo '{"schema":1,"record":"upd' >>"$history_file"
    sim "$work/log2" --fault no-mac -- --package "$work/pkg.fwp" --yes
    expect_status 3 "$work/log2"
    program "$work/damaged" --history --json
    expect_status 0 "$work/damaged"
    grep -q "warning: history line 2 is damaged; skipped" "$work/damaged" ||
      fail "no warning of the damaged line: $(cat "$work/damaged")"
    py "[r['status'] for r in v] == ['failed_after_image', 'success']" "$work/damaged.out"
    ;;
  history-all)
    # Three children of --all append at once: every line is whole.
    make_items
    sim "$work/log" --printers 3 -- --package "$work/pkg.fwp" --all --yes
    expect_status 0 "$work/log"
    [ "$(wc -l <"$history_file")" -eq 3 ] || fail "not three records: $(cat "$history_file")"
    valid "$history_file"
    program "$work/json" --history --json
    py "sorted(r['printer']['port_path'] for r in v) == ['1-1.4', '1-1.5', '1-1.6']" "$work/json.out"
    ;;
  skip-updated)
    # A second run of the same package leaves the printer alone ("unchanged", exit 0, no
    # byte to it); a printer without a serial number is updated all the same.
    make_items
    sim "$work/first" -- --package "$work/pkg.fwp" --yes --skip-updated
    expect_status 0 "$work/first"
    sim "$work/second" -- --package "$work/pkg.fwp" --yes --skip-updated --json
    expect_status 0 "$work/second"
    grep -qxF "Already updated with this package." "$work/second" ||
      fail "no line says so: $(cat "$work/second")"
    tail -n 1 "$work/second.out" >"$work/outcome.json"
    py "v['status'] == 'unchanged' and v['exit_status'] == 0 and v['message'] == 'Already updated with this package.'" "$work/outcome.json"
    valid "$work/second.out"
    ! connected "$work/flash" || fail "the second run connected to the printer"
    py "v['printers'][0]['bytes_taken'] == 0" "$work/flash/summary.json"
    [ "$(wc -l <"$history_file")" -eq 1 ] || fail "an unchanged run was recorded"
    # An update application carries the same package: its printer is left alone too.
    program "$work/make" --make "$work/pkg.fwp"
    expect_status 0 "$work/make"
    exe=$work/pkg.run sim "$work/linked" -- --headless --yes --skip-updated
    expect_status 0 "$work/linked"
    grep -qxF "Already updated with this package." "$work/linked" ||
      fail "the update application updated again: $(tail -n 3 "$work/linked")"
    # Without a serial number, on the same port and with the same package as the record of
    # a success: updated all the same, and said so.
    sim "$work/noserial" --fault no-serial -- --package "$work/pkg.fwp" --yes --skip-updated
    expect_status 0 "$work/noserial"
    grep -qxF "the printer has no serial number, so it is updated" "$work/noserial" ||
      fail "no line says why the printer without a serial is updated"
    connected "$work/flash" || fail "the printer without a serial was not updated"
    # --all: each child decides; the summary counts the printers left out.
    sim "$work/all" --printers 2 -- --package "$work/pkg.fwp" --all --yes --skip-updated --json
    expect_status 0 "$work/all"
    tail -n 1 "$work/all.out" >"$work/summary.json"
    py "[p['status'] for p in v['printers']] == ['unchanged', 'success'] and v['detail'].startswith('1 of 2 printers was already')" "$work/summary.json"
    ! connected "$work/flash/1-1.4" || fail "--all --skip-updated connected to 1-1.4"
    connected "$work/flash/1-1.5" || fail "--all --skip-updated did not update 1-1.5"
    ;;
  all-devices)
    # --all with --device: only the printers named, one question, one table.
    make_items
    sim "$work/log" --printers 3 -- --package "$work/pkg.fwp" --all --yes --device 1-1.4 \
      --device VRQSIM0003
    expect_status 0 "$work/log"
    connected "$work/flash/1-1.4" || fail "1-1.4 not updated"
    connected "$work/flash/1-1.6" || fail "1-1.6 not updated"
    ! connected "$work/flash/1-1.5" || fail "1-1.5 updated though not named"
    [ "$(grep -cE "^1-1\.[0-9] +VRQSIM000[0-9] +Update Success!" "$work/log")" -eq 2 ] ||
      fail "not two rows: $(cat "$work/log")"
    # A name that matches nothing refuses the run before anything is written.
    sim "$work/nomatch" --printers 2 -- --package "$work/pkg.fwp" --all --yes --device 1-1.4 \
      --device lp7
    expect_status 2 "$work/nomatch"
    grep -q "^vrq-update: --device lp7 names no attached printer" "$work/nomatch" ||
      fail "the unmatched --device is not named: $(cat "$work/nomatch")"
    ! connected "$work/flash/1-1.4" || fail "a refused --all wrote a printer"
    # Without --all, one --device only.
    program "$work/twice" --package "$work/pkg.fwp" --yes --device 1-1.4 --device 1-1.5
    expect_status 2 "$work/twice"
    grep -q "give --all to update several" "$work/twice" || fail "no reason: $(cat "$work/twice")"
    ;;
  all-no-printer)
    # --all with no printer: its summary with no printers, and exit status 1.
    make_items
    program "$work/log" --all --package "$work/pkg.fwp" --yes --json
    expect_status 1 "$work/log"
    valid "$work/log.out"
    tail -n 1 "$work/log.out" >"$work/summary.json"
    py "v['event'] == 'summary' and v['printers'] == [] and v['exit_status'] == 1 and 'found' in v['detail']" "$work/summary.json"
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ]
