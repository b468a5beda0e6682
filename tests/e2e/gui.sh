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
xserver=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; fi
  if [ -n "$xserver" ]; then kill "$xserver" 2>/dev/null; fi
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

# check_geometry WINDOW [WIDTHxHEIGHT]: the client area, 346x144 unless said otherwise.
check_geometry() {
  local size
  size=$(xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
  [ "$size" = "${2:-346x144}" ] || fail "the window is $size, not ${2:-346x144}"
}

# check_class WINDOW CLASS: the X class docks match the window to its desktop entry by.
check_class() {
  xprop -id "$1" WM_CLASS | grep -q "= \"$2\"," || fail "the window's class is not $2: $(xprop -id "$1" WM_CLASS)"
}

# press_button CAPTION left|right SECONDS: presses a button of the message box with that
# caption: the right one (OK alone, or Cancel) or the one left of it (OK beside Cancel).
press_button() {
  local box x
  box=$(wait_for "$3" window_named "$1") || {
    fail "no \"$1\" box"
    return
  }
  eval "$(xdotool getwindowgeometry --shell "$box")"
  x=$((WIDTH - 52))
  [ "$2" = left ] && x=$((WIDTH - 144))
  xdotool mousemove --window "$box" "$x" $((HEIGHT - 24)) click 1
}
# Presses OK in the message box with that caption (OK sits at its bottom right).
press_ok() { press_button "$1" right "$2"; }

# gone_within MILLISECONDS PID: true once the process has ended, false if it is still
# there when the time is up.
gone_within() {
  local i
  for ((i = 0; i < $1 / 20; i++)); do
    kill -0 "$2" 2>/dev/null || return 0
    sleep 0.02
  done
  ! kill -0 "$2" 2>/dev/null
}

# expect_clean FOLDER_LISTING WHEN: the program's folder holds what it held before the
# run ($1, as ls -A listed it) and TMPDIR nothing.
expect_clean() {
  [ "$(ls -A "$app")" = "$1" ] || fail "$2: left beside the program: $(ls -A "$app" | tr '\n' ' ')"
  [ -z "$(ls -A "$work/tmp")" ] || fail "$2: left in TMPDIR: $(ls -A "$work/tmp" | tr '\n' ' ')"
}

# An X server of the case's own ($xserver), which the case may end; DISPLAY names it.
start_x_server() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
  xserver=$!
  local number
  number=$(wait_for 10 cat "$work/display") || {
    fail "no X server"
    exit 1
  }
  export DISPLAY=:$number
}

# A package whose packed firmware stream ends before its item does: it loads with a
# warning, the missing bytes read as zeros.
make_cut_package() {
  make_package "$work/whole.fwp" --packed
  local at
  at=$(LC_ALL=C grep -obUaP '\xd0\x07\x00\x00' "$work/whole.fwp" | head -n 1 | cut -d: -f1)
  # Its unpacked size, 2000, claims 2048.
  make_package "$1" --packed --patch "$at:00080000"
}

# make_update_application PACKAGE: PACKAGE's update application beside it, also when the
# package loaded with warnings.
make_update_application() {
  local allow=()
  if "$app/vrq-update" --help | grep -q -- --allow-warnings; then allow=(--allow-warnings); fi
  "$app/vrq-update" --make "$1" "${allow[@]}" >/dev/null 2>&1 || fail "the maker failed on $1"
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
  check_class "$win" vrq-update-maker
  [ "$(state_is "$win" idle)" = yes ] || fail "at start the bar is shown or the button disabled"
}

# make_package OUTPUT [fwp-tool build options...]
make_package() {
  local output=$1
  shift
  head -c 2000 /dev/zero | tr '\0' '\125' >"$work/items/frw.bin"
  seq 1 20000 | head -c 60000 >"$work/items/font.bin"
  "$BIN/fwp-tool" build "$@" --item "frw:$work/items/frw.bin:1:CONNECT\r\nSTART FRW" \
    --item "font:$work/items/font.bin" "$output" >/dev/null || fail "fwp-tool build"
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
    check_class "$win" vrq-update
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
  stop-in-boxes)
    # SIGTERM while the question for a package file is open, SIGINT while the file
    # dialog is open: either closes and the run ends within a second with 143 or 130,
    # leaving nothing beside the program or in TMPDIR.
    before=$(ls -A "$app")
    for step in question dialog; do
      TMPDIR=$work/tmp "$app/vrq-update" 2>"$work/$step.log" &
      pid=$!
      win=$(wait_for 10 window_named vrq-update) || {
        fail "no window captioned vrq-update"
        exit 1
      }
      xdotool mousemove --window "$win" 164 44 click 1
      wait_for 10 window_named "select ..." >/dev/null || fail "$step: no question for a package file"
      signal=TERM expected=143
      if [ "$step" = dialog ]; then
        press_button "select ..." left 5
        wait_for 10 window_named "select update file" >/dev/null || fail "no file dialog"
        signal=INT expected=130
      fi
      kill -"$signal" "$pid"
      gone_within 1000 "$pid" || fail "$step: still running 1 s after SIG$signal"
      wait "$pid"
      status=$?
      pid=""
      [ "$status" = "$expected" ] || fail "$step: exit status $status after SIG$signal, not $expected"
      expect_clean "$before" "$step"
    done
    ;;
  success-box)
    # "Update Success!" comes over the progress bar, still shown, before the clean-up;
    # SIGHUP while the box is open ends the run within a second with 143, and the
    # clean-up runs all the same.
    make_package "$app/pkg.fwp"
    "$app/vrq-update" --make "$app/pkg.fwp" 2>/dev/null || fail "the maker failed"
    rm "$app/pkg.fwp"
    before=$(ls -A "$app")
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- "$app/pkg.run" &
    sim=$!
    win=$(wait_for 10 window_named pkg) || {
      fail "no window captioned pkg"
      exit 1
    }
    pid=$(pgrep -P "$sim" -x pkg.run)
    xdotool mousemove --window "$win" 164 44 click 1
    box=$(wait_for 60 window_named Info) || fail "no \"Update Success!\" box"
    # Both are centred on the screen: the box is moved down to show what is behind it.
    eval "$(xdotool getwindowgeometry --shell "$box")"
    xdotool windowmove "$box" "$X" $((Y + 160))
    sleep 0.5
    import -window root "$ARTIFACTS/success-box.png"
    progress_visible "$win" || fail "the progress bar is hidden behind the success box"
    [ "$(ls -A "$app")" != "$before" ] || [ -n "$(ls -A "$work/tmp")" ] ||
      fail "the run's temporary files are gone before the box is closed"
    kill -HUP "$pid"
    gone_within 1000 "$pid" || fail "still running 1 s after SIGHUP"
    wait "$sim"
    status=$?
    [ "$status" = 143 ] || fail "exit status $status after SIGHUP, not 143"
    expect_clean "$before" "after SIGHUP"
    cmp -s "$work/items/font.bin" "$work/flash/font.bin" || fail "the printer's font differs"
    ;;
  warnings-question)
    # An update application whose package loads with a warning (its packed firmware
    # stream is cut short): the window asks before anything goes to the printer, naming
    # the warning; Cancel sends nothing.
    make_cut_package "$app/pkg.fwp"
    make_update_application "$app/pkg.fwp"
    rm "$app/pkg.fwp"
    before=$(ls -A "$app")
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" -- "$app/pkg.run" &
    sim=$!
    win=$(wait_for 10 window_named pkg) || {
      fail "no window captioned pkg"
      exit 1
    }
    pid=$(pgrep -P "$sim" -x pkg.run)
    xdotool mousemove --window "$win" 164 44 click 1
    wait_for 30 window_named Warning >/dev/null || fail "no question about the package's warnings"
    sleep 0.3
    import -window root "$ARTIFACTS/warnings-question.png"
    press_button Warning right 5
    wait_for 10 state_is "$win" idle >/dev/null || fail "after Cancel the bar is shown or the button disabled"
    kill "$pid"
    wait "$sim"
    pid=""
    grep -q CONNECT "$work/flash/transcript.txt" && fail "the printer was sent something after Cancel"
    [ -e "$work/flash/firmware.bin" ] && fail "the printer received a firmware image after Cancel"
    expect_clean "$before" "after Cancel"
    ;;
  scaled-window)
    # The desktop's density (Xft.dpi, as a desktop's settings daemon or xrdb puts it into
    # the display's resources): at 96 dpi the window's own geometry, at 192 everything
    # twice as large, controls where the scale puts them. Run on a server that keeps
    # its resources when the last client goes (Xvfb -noreset).
    for dpi in 96 192; do
      xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "Xft.dpi:	$dpi"$'\n'
      factor=$((dpi / 96))
      TMPDIR=$work/tmp "$app/vrq-update" &
      pid=$!
      win=$(wait_for 10 window_named vrq-update) || {
        fail "no window at $dpi dpi"
        exit 1
      }
      check_geometry "$win" "$((346 * factor))x$((144 * factor))"
      check_class "$win" vrq-update
      sleep 0.3
      import -window "$win" "$ARTIFACTS/scaled-$dpi.png"
      # The button is where the scale puts it.
      xdotool mousemove --window "$win" $((164 * factor)) $((44 * factor)) click 1
      wait_for 10 window_named "select ..." >/dev/null || fail "$dpi dpi: the button is not at its scaled place"
      kill "$pid"
      wait "$pid"
      pid=""
    done
    ;;
  maker-warnings)
    # The maker's window, given a package that loads with a warning, asks before it makes
    # anything; Cancel makes nothing. A program whose maker does not look at warnings
    # (no --allow-warnings) has nothing to ask: the case is skipped then.
    if ! "$app/vrq-update" --help | grep -q -- --allow-warnings; then
      echo "skipped: this maker does not look at a package's warnings"
      exit 77
    fi
    printf '[MAIN]\r\nMAKE=1\r\n' >"$app/vrq-update.ini"
    make_cut_package "$app/pkg.fwp"
    start_maker_window
    xdotool mousemove --window "$win" 164 44 click 1
    chooser=$(wait_for 10 window_named "select update file") || fail "no file dialog"
    sleep 0.5
    xdotool windowfocus --sync "$chooser"
    xdotool type pkg.fwp
    xdotool key Return
    wait_for 20 window_named Warning >/dev/null || fail "the maker did not ask about the warnings"
    sleep 0.3
    import -window root "$ARTIFACTS/maker-warnings.png"
    press_button Warning right 5
    press_ok Error 10
    wait_for 5 state_is "$win" idle >/dev/null || fail "the button stays disabled after Cancel"
    [ -e "$app/pkg.run" ] && fail "pkg.run was made after Cancel"
    ;;
  display-lost)
    # The X server goes away while the window is open, idle and while an update writes
    # a slow printer: the run ends as on SIGHUP, with 143 and a line that says so, and
    # leaves nothing behind. Not under xvfb-run: each step has a server of its own.
    make_package "$app/pkg.fwp"
    "$app/vrq-update" --make "$app/pkg.fwp" 2>/dev/null || fail "the maker failed"
    rm "$app/pkg.fwp"
    before=$(ls -A "$app")
    for step in idle update; do
      start_x_server
      if [ "$step" = idle ]; then
        TMPDIR=$work/tmp "$app/pkg.run" 2>"$work/$step.log" &
        runner=$!
      else
        TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --rate 20000 -- "$app/pkg.run" 2>"$work/$step.log" &
        runner=$!
      fi
      win=$(wait_for 10 window_named pkg) || {
        fail "$step: no window captioned pkg"
        exit 1
      }
      pid=$(pgrep -P "$runner" -x pkg.run || echo "$runner")
      if [ "$step" = update ]; then
        xdotool mousemove --window "$win" 164 44 click 1
        wait_for 60 progress_moved "$win" >/dev/null || fail "the progress bar did not move"
      fi
      kill "$xserver"
      wait "$xserver"
      xserver=""
      gone_within 5000 "$pid" || fail "$step: still running 5 s after the X server went"
      wait "$runner"
      status=$?
      pid=""
      [ "$status" = 143 ] || fail "$step: exit status $status, not 143"
      grep -q "the connection to the display was lost" "$work/$step.log" ||
        fail "$step: nothing says the display was lost: $(cat "$work/$step.log")"
      expect_clean "$before" "$step"
    done
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ]
