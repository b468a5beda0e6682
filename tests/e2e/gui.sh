#!/usr/bin/env bash
# The window on a virtual X display: run under xvfb-run.
#   gui.sh CASE     with BIN (the build output folder) and ARTIFACTS (where screenshots go)
# The window's state is read from its pixels: the progress bar's place is one flat
# colour while the bar is hidden, and Button1's caption has black pixels only while the
# button is enabled.
set -uo pipefail

: "${BIN:?BIN must name the build output folder}"
: "${ARTIFACTS:?ARTIFACTS must name the folder for screenshots}"
case_name=${1:?usage: gui.sh CASE}
work=$(mktemp -d "${TMPDIR:-/tmp}/gui-$case_name.XXXXXX")
app=$work/app
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; fi
  wait
  rm -rf "$work"
}
trap cleanup EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
mkdir -p "$ARTIFACTS"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# wait_for SECONDS COMMAND...: retries COMMAND every 0.1 s; its output is the result.
wait_for() {
  local limit=$(($1 * 10))
  shift
  local i out
  for ((i = 0; i < limit; i++)); do
    if out=$("$@" 2>/dev/null) && [ -n "$out" ]; then
      echo "$out"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

window_named() { xdotool search --name "^$1\$" | head -n 1; }
colours_in() { import -window "$1" -crop "$2" txt:- | tail -n +2 | awk '{print $3}' | sort -u | wc -l; }
progress_visible() { [ "$(colours_in "$1" 265x17+40+80)" -gt 1 ]; }
button_enabled() { [ "$(import -window "$1" -crop 60x14+134+37 txt:- | grep -c '#000000')" -gt 0 ]; }
progress_moved() {  # prints "yes" once the bar shows some of its dark blue fill
  [ "$(import -window "$1" -crop 265x17+40+80 txt:- | grep -c '#00000000[1-9A-F]')" -gt 0 ] && echo yes
}
state_is() {  # state_is WINDOW "busy|idle": prints "yes" when the window shows that state
  if [ "$2" = busy ]; then
    progress_visible "$1" && ! button_enabled "$1" && echo yes
  else
    ! progress_visible "$1" && button_enabled "$1" && echo yes
  fi
}

check_geometry() {
  local size
  size=$(xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
  [ "$size" = 346x144 ] || fail "the window is $size, not 346x144"
}

# Presses OK in the message box with that caption (OK sits at its bottom right).
press_ok() {
  local box
  box=$(wait_for "$2" window_named "$1") || {
    fail "no \"$1\" box"
    return
  }
  eval "$(xdotool getwindowgeometry --shell "$box")"
  xdotool mousemove --window "$box" $((WIDTH - 52)) $((HEIGHT - 24)) click 1
}

# Starts the program with these arguments ($pid) and waits for the maker's window ($win):
# its size, and idle at start. Ends the case when the window does not come.
start_maker_window() {
  "$app/vrq-update" "$@" &
  pid=$!
  win=$(wait_for 10 window_named "VRQ Update Maker") || {
    fail "no window captioned VRQ Update Maker"
    exit 1
  }
  check_geometry "$win"
  [ "$(state_is "$win" idle)" = yes ] || fail "at start the bar is shown or the button disabled"
}

make_package() {
  head -c 2000 /dev/zero | tr '\0' '\125' >"$work/items/frw.bin"
  seq 1 20000 | head -c 60000 >"$work/items/font.bin"
  "$BIN/fwp-tool" build --item "frw:$work/items/frw.bin:1:CONNECT\r\nSTART FRW" \
    --item "font:$work/items/font.bin" "$1" >/dev/null || fail "fwp-tool build"
}

case "$case_name" in
  update-window)
    # An update application without a settings file: caption from its name, "Update".
    make_package "$app/pkg.fwp"
    "$app/vrq-update" --make "$app/pkg.fwp" 2>/dev/null || fail "the maker failed"
    rm "$app/pkg.fwp"
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- "$app/pkg.run" &
    win=$(wait_for 10 window_named pkg) || {
      fail "no window captioned pkg"
      exit 1
    }
    pid=$(pgrep -f "^$app/pkg.run" | head -n 1)
    check_geometry "$win"
    [ "$(state_is "$win" idle)" = yes ] || fail "at start the bar is shown or the button disabled"
    grep -q "$app/libJXUsbHid.so" "/proc/$pid/maps" || fail "libJXUsbHid.so is not mapped"

    xdotool mousemove --window "$win" 164 44 click 1
    wait_for 10 state_is "$win" busy >/dev/null || fail "no progress bar and disabled button during the update"
    wait_for 30 progress_moved "$win" >/dev/null || fail "the progress bar did not move"
    import -window "$win" "$ARTIFACTS/update-window.png"
    press_ok Info 90
    wait_for 5 state_is "$win" idle >/dev/null || fail "after the update the bar is shown or the button disabled"
    import -window "$win" "$ARTIFACTS/update-window-done.png"
    # The simulator writes what the printer received once the program has ended.
    kill "$pid"
    wait
    cmp -s "$work/items/font.bin" "$work/flash/font.bin" || fail "the printer's font differs"
    ;;
  maker-window)
    # MAKE=1: caption "VRQ Update Maker"; the file dialog picks the package.
    printf '[MAIN]\r\nMAKE=1\r\n' >"$app/vrq-update.ini"
    make_package "$app/pkg.fwp"
    start_maker_window
    xdotool mousemove --window "$win" 164 44 click 1
    chooser=$(wait_for 10 window_named "select update file") || fail "no file dialog"
    sleep 0.5
    # Real key events (XTEST) into the focused dialog: no window manager gives focus here.
    xdotool windowfocus --sync "$chooser"
    xdotool type pkg.fwp
    xdotool key Return
    press_ok Information 10
    import -window "$win" "$ARTIFACTS/maker-window.png"
    wait_for 5 state_is "$win" idle >/dev/null || fail "the button stays disabled after making"
    expected=$(($(stat -c %s "$app/vrq-update") + $(stat -c %s "$app/pkg.fwp") + 36))
    [ "$(stat -c %s "$app/pkg.run" 2>/dev/null)" = "$expected" ] || fail "pkg.run is not $expected bytes"
    ;;
  repaint-while-stalled)
    # The printer stops taking data in the middle of a block, and the program's write
    # waits for it: the window still repaints what another window uncovered.
    make_package "$app/pkg.fwp"
    "$app/vrq-update" --make "$app/pkg.fwp" 2>/dev/null || fail "the maker failed"
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --verbose --fault stall-block:font:1 -- \
      "$app/pkg.run" 2>"$work/sim.log" &
    sim=$!
    win=$(wait_for 10 window_named pkg) || {
      fail "no window captioned pkg"
      exit 1
    }
    pid=$(pgrep -P "$sim" -x pkg.run)
    xdotool mousemove --window "$win" 164 44 click 1
    wait_for 60 grep -m1 "printer stopped taking data" "$work/sim.log" >/dev/null ||
      fail "the printer never stalled"
    # The window settles once the write blocks for good (pieces already in the kernel's
    # buffer still move the bar for a moment).
    import -window "$win" "$work/before.png"
    for ((i = 0; i < 20; i++)); do
      sleep 0.5
      import -window "$win" "$work/now.png"
      [ "$(compare -metric AE "$work/before.png" "$work/now.png" null: 2>&1)" = 0 ] && break
      mv "$work/now.png" "$work/before.png"
    done
    eval "$(xdotool getwindowgeometry --shell "$win")"
    xlogo -geometry "${WIDTH}x${HEIGHT}+${X}+${Y}" 2>/dev/null &
    cover=$!
    wait_for 5 window_named xlogo >/dev/null || fail "no covering window"
    sleep 0.5
    kill "$cover"
    sleep 1
    import -window "$win" "$work/after.png"
    cp "$work/after.png" "$ARTIFACTS/repaint-while-stalled.png"
    differing=$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1)
    [ "$differing" = 0 ] || fail "$differing pixels differ after the window was uncovered"
    kill -KILL "$pid"
    ;;
  maker-option)
    # --maker: the maker's window although the settings file says update mode.
    printf '[MAIN]\r\nMAKE=0\r\n' >"$app/vrq-update.ini"
    start_maker_window --maker
    import -window "$win" "$ARTIFACTS/maker-option.png"
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ]
