#!/usr/bin/env bash
# What the bash completions offer: package files where a package is expected, folders
# where a folder is, the commands and values each program knows.
#   completion_test.sh SOURCE
set -uo pipefail
source_dir=${1:?usage: completion_test.sh SOURCE}
work=$(mktemp -d "${TMPDIR:-/tmp}/completion-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir items
touch a.fwp B.FWP notes.txt manifest.txt app.run
failures=0

# expect PROGRAM "WORD..." "OFFERED...": the sorted offers for the typed words.
expect() {
  local program=$1 expected=$3 offered
  local -a words
  read -r -a words <<<"$2"
  [[ $2 == *" " || -z $2 ]] && words+=("")
  offered=$(
    source "$source_dir/packaging/completion/$program"
    COMP_WORDS=("$program" "${words[@]}")
    COMP_CWORD=${#words[@]}
    COMPREPLY=()
    "$(complete -p "$program" | sed 's/.*-F \([^ ]*\) .*/\1/')" 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
  )
  if [ "$offered" != "$expected" ]; then
    echo "FAIL: $program $2<TAB> offers \"$offered\", not \"$expected\"" >&2
    failures=$((failures + 1))
  fi
}

expect vrq-update "--package " "B.FWP a.fwp items"
expect vrq-update "--make a" "a.fwp"
expect vrq-update "--ma" "--make --maker"
expect vrq-update "--package a.fwp --y" "--yes"
expect vrq-update "--device " "node: port: serial:"
expect vrq-update "--device se" "serial:"
expect vrq-update "--device port : " ""
expect vrq-update "--device 1-1.4 --al" "--all --allow-warnings"

expect fwp-tool "" "--help --version build extract list pack verify"
expect fwp-tool "list " "B.FWP a.fwp app.run items"
expect fwp-tool "verify " "B.FWP a.fwp app.run items"
expect fwp-tool "list a.fwp " ""
expect fwp-tool "extract " "B.FWP a.fwp app.run items"
expect fwp-tool "extract -v a.fwp " "items"
expect fwp-tool "extract a.fwp i" "items"
expect fwp-tool "build -m m" "manifest.txt"
expect fwp-tool "build --item f" "font: frw:"
expect fwp-tool "build --item font:a" "font:a.fwp font:app.run"
expect fwp-tool "build --printer " ""
expect fwp-tool "build --packed --item frw:a.fwp " "B.FWP a.fwp items"
expect fwp-tool "build --pac" "--pack-mode --packed"
expect fwp-tool "pack n" "notes.txt"

expect vrq-printer-sim "--fault block-" "block-error: block-silent:"
expect vrq-printer-sim "--fault nev" "never-return"
expect vrq-printer-sim "--fault c" "claimed:"
expect vrq-printer-sim "--fault nak:50@" "nak:50@after-link nak:50@block-last: nak:50@last"
expect vrq-printer-sim "--ra" "--rate"
expect vrq-printer-sim "--flash-dir " "items"
expect vrq-printer-sim "--restart-ms " ""
expect vrq-printer-sim "--serial " ""
expect vrq-printer-sim "--ver" "--verbose --version"
expect vrq-printer-sim "--flash-dir out -- bas" "$(compgen -c -- bas | sort | tr '\n' ' ' | sed 's/ $//')"

[ "$failures" -eq 0 ] && echo "the completions offer what each place expects"
