#!/bin/sh
# json.collected: every JSON object the tests made the programs print, as the tests kept
# it in FOLDER (one file a run: objects a line, or one array), checked against the schema.
#   collected_test.sh PYTHON3 VALIDATE SCHEMA FOLDER
# Exits 77 (skipped) when no test kept anything, as when only tests without JSON ran.
python3=${1:?usage: collected_test.sh PYTHON3 VALIDATE SCHEMA FOLDER}
validate=${2:?}
schema=${3:?}
folder=${4:?}
files=$(find "$folder" -type f -name '*.json' 2>/dev/null | sort)
if [ -z "$files" ]; then
  echo "no JSON was kept in $folder"
  exit 77
fi
echo "$(echo "$files" | wc -l) files of JSON from the tests"
# The names are the tests' own: no blanks in them.
# shellcheck disable=SC2086
exec "$python3" "$validate" "$schema" $files
