#!/usr/bin/env bash
# The desktop entries and the AppStream metainfo pass their validators without a word
# of complaint (desktop-file-validate exits 0 on warnings and hints, so its output
# counts too), and each entry names the X class of the window it starts, so that a dock
# puts the running window under its entry: "vrq-update-maker" for the maker (--maker),
# "vrq-update" for the updater.
#   desktop_test.sh PACKAGING_FOLDER
set -uo pipefail
dir=${1:?usage: desktop_test.sh PACKAGING_FOLDER}
failures=0
classes=()
for entry in "$dir"/*.desktop; do
  if ! out=$(desktop-file-validate "$entry" 2>&1) || [ -n "$out" ]; then
    echo "FAIL: $(basename "$entry"): $out" >&2
    failures=$((failures + 1))
  fi
  exec_line=$(sed -n 's/^Exec=//p' "$entry")
  class=$(sed -n 's/^StartupWMClass=//p' "$entry")
  case " $exec_line " in
    *" --maker "*) expected=vrq-update-maker ;;
    *) expected=vrq-update ;;
  esac
  if [ "$class" != "$expected" ]; then
    echo "FAIL: $(basename "$entry") (Exec=$exec_line) names the window class \"$class\", not \"$expected\"" >&2
    failures=$((failures + 1))
  fi
  classes+=("$class")
done
if [ "${#classes[@]}" -ne 2 ] || [ "${classes[0]}" = "${classes[1]:-}" ]; then
  echo "FAIL: the updater and the maker need two entries with two window classes: ${classes[*]}" >&2
  failures=$((failures + 1))
fi
if ! out=$(appstreamcli validate --no-net --explain "$dir"/*.metainfo.xml 2>&1); then
  echo "FAIL: metainfo: $out" >&2
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "desktop entries and metainfo are valid"
