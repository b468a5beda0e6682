#!/usr/bin/env bash
# End-to-end: why the printer could not be opened, as the user is told it, with the real
# vrq-update under the simulated printer.
#   open-failure.sh CASE      with BIN naming the folder of vrq-update, fwp-tool,
#                             vrq-printer-sim
set -uo pipefail

: "${BIN:?BIN must name the build output folder}"
case_name=${1:?usage: open-failure.sh CASE}
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e-$case_name.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

head -c 3000 /dev/zero | tr '\0' '\125' >"$work/items/frw.bin"
"$BIN/fwp-tool" build --item "frw:$work/items/frw.bin:1:CONNECT\r\nSTART FRW" \
  "$work/pkg.fwp" >/dev/null || fail "fwp-tool build"

expect_failure() {
  local log=$1
  shift
  [ "$status" -eq 1 ] || fail "exit status $status, expected 1 ($(tr '\n' '|' <"$log"))"
  grep -qxF "Error: Can not open usb port!" "$log" || fail "no open error in $(tr '\n' '|' <"$log")"
  local line
  for line in "$@"; do
    grep -qF -- "$line" "$log" || fail "no \"$line\" in $(tr '\n' '|' <"$log")"
  done
  if [ -s "$work/flash/transcript.txt" ]; then fail "the printer was sent something"; fi
  left=$(find "$work/tmp" -mindepth 1)
  [ -z "$left" ] || fail "left in TMPDIR: $left"
}

case "$case_name" in
  no-printer)
    run_update "$work/log" none -- --package "$work/pkg.fwp" --yes
    expect_failure "$work/log" "  no printer of vendor 0471 is on USB: check that the printer is \
switched on and its USB cable plugged in"
    ;;
  not-usblp)
    run_update "$work/log" --fault bound-to:usbfs -- --package "$work/pkg.fwp" --yes
    expect_failure "$work/log" "  the printer on USB port 1-1.4 has no /dev/usb/lp node because \
usblp does not hold it: a program that uses libusb" "  stop it (for ipp-usb: sudo systemctl stop \
ipp-usb), then unplug the printer and plug it in again"
    run_update "$work/none.log" --fault bound-to:none -- --package "$work/pkg.fwp" --yes
    expect_failure "$work/none.log" "no driver holds its printer interface" \
      "  load usblp (sudo modprobe usblp"
    ;;
  busy)
    # Another program holds the node open, as a print spooler's backend would: usblp
    # refuses a second open (EBUSY), and the run names the holder.
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- /bin/sh -c '
      sleep 30 3<>/dev/usb/lp0 &
      echo $! >"$1"
      sleep 0.5
      "$0" --package "$2" --yes
      status=$?
      kill "$(cat "$1")"
      exit $status' "$app/vrq-update" "$work/holder" "$work/pkg.fwp" >"$work/log.out" 2>"$work/log"
    status=$?
    holder=$(cat "$work/holder")
    expect_failure "$work/log" "  /dev/usb/lp0 is in use by another program: sleep (pid $holder)" \
      "  end it (kill $holder) or wait until it has ended"
    ;;
  claimed)
    # ipp-usb has claimed the printer's interface through usbfs: usblp does not hold it,
    # and the run names the program that holds the USB device.
    run_update "$work/log" --verbose --fault claimed:ipp-usb@1-1.4 -- --package "$work/pkg.fwp" --yes
    holder=$(sed -n 's/^vrq-printer-sim: ipp-usb (pid \([0-9]*\)) holds .*/\1/p' "$work/log")
    [ -n "$holder" ] || fail "the simulator started no ipp-usb: $(tr '\n' '|' <"$work/log")"
    expect_failure "$work/log" "  the printer on USB port 1-1.4 has no /dev/usb/lp node because \
usblp does not hold it: ipp-usb (pid $holder) has claimed its printer interface" \
      "  stop it (for ipp-usb: sudo systemctl stop ipp-usb), then unplug the printer and plug it in again"
    ;;
  permission)
    # As a desktop user for whom the node was not opened up.
    if [ "$(id -u)" -ne 0 ]; then
      echo "skipped: only root can run the program as another user"
      exit 0
    fi
    chmod 755 "$work" "$work/app"
    chmod 777 "$work/tmp"
    chmod 644 "$work/pkg.fwp"
    if ! setpriv --reuid=65534 --regid=65534 --clear-groups -- test -x "$app/vrq-update" 2>/dev/null; then
      echo "skipped: user nobody cannot reach $app here (a folder on its way is private)"
      exit 0
    fi
    run_update "$work/log" --user nobody --node-mode 600 -- --package "$work/pkg.fwp" --yes
    expect_failure "$work/log" "  permission denied on /dev/usb/lp0: this user may not open the \
printer" "\"sudo udevadm trigger\" or unplug the printer and plug it in again; or add the user to \
the lp group (sudo adduser \$USER lp) and log in again"
    # The same user reaches a node that udev has given to it.
    run_update "$work/ok.log" --user nobody -- --package "$work/pkg.fwp" --yes
    [ "$status" -ne 0 ] && grep -qxF "Error: Can not open usb port!" "$work/ok.log" &&
      fail "an open node was not opened: $(tr '\n' '|' <"$work/ok.log")"
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ]
