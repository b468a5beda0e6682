#!/usr/bin/env bash
# The collection's play (station_play.yml) against three simulated printers and the real
# vrq-update: check mode, a first and a second run, and a fault in one printer. See
# simulator_test.py for what is checked.
#   simulator_play.sh      with BIN naming the build output folder (vrq-update, fwp-tool,
#                          vrq-printer-sim)
set -uo pipefail

: "${BIN:?BIN must name the build output folder}"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
case_name=ansible-simulator
work=$(mktemp -d "${TMPDIR:-/tmp}/ansible-sim.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

# $app/vrq-update with the HID library beside it, $work/items and $work/tmp.
source "$source_dir/tests/e2e/common.sh"
items=$work/items
head -c 3000 /dev/zero | tr '\0' '\125' >"$items/frw.bin"
seq 1 1200 | head -c 5000 >"$items/boot.bin"
seq 5000 9000 | head -c 20000 >"$items/sys.bin"
{ seq 1 30000; seq 1 30000; } | head -c 140000 >"$items/font.bin"
"$BIN/fwp-tool" build --item "frw:$items/frw.bin:1:CONNECT\r\nSTART FRW" \
  --item "bootloader:$items/boot.bin" --item "system:$items/sys.bin" \
  --item "font:$items/font.bin" "$work/VRQ-sim.fwp" >/dev/null || exit 1

# From here on the test keeps $work when it fails, for a look.
trap - EXIT
/usr/bin/python3 "$here/simulator_test.py" "$source_dir" "$work" "$BIN/vrq-printer-sim" \
  "$app/vrq-update" "$work/VRQ-sim.fwp" "$items"
