#!/usr/bin/env bash
# The desktop entries and the AppStream metainfo pass their validators without a word
# of complaint (desktop-file-validate exits 0 on warnings and hints, so its output
# counts too).
#   desktop_test.sh PACKAGING_FOLDER
set -uo pipefail
dir=${1:?usage: desktop_test.sh PACKAGING_FOLDER}
failures=0
for entry in "$dir"/*.desktop; do
  if ! out=$(desktop-file-validate "$entry" 2>&1) || [ -n "$out" ]; then
    echo "FAIL: $(basename "$entry"): $out" >&2
    failures=$((failures + 1))
  fi
done
if ! out=$(appstreamcli validate --no-net --explain "$dir"/*.metainfo.xml 2>&1); then
  echo "FAIL: metainfo: $out" >&2
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "desktop entries and metainfo are valid"
