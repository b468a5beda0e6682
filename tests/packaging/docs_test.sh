#!/usr/bin/env bash
# The man pages render without a warning; every option a program's --help names is in
# its man page and offered by its bash completion, and every exit status it names is in
# the man page's EXIT STATUS.
#   docs_test.sh BIN SOURCE    BIN: the build's programs; SOURCE: the project's folder
set -uo pipefail
bin=${1:?usage: docs_test.sh BIN SOURCE}
source_dir=${2:?usage: docs_test.sh BIN SOURCE}
work=$(mktemp -d "${TMPDIR:-/tmp}/docs-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# completion_words PROGRAM WORD...: what the completion offers for the words typed so far
# (the last one is being completed).
completion_words() (
  local program=$1
  shift
  source "$source_dir/packaging/completion/$program"
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  "$(complete -p "$program" | sed 's/.*-F \([^ ]*\) .*/\1/')" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}"
)

# The words typed where a program takes options.
offered_options() {
  case $1 in
    vrq-update) completion_words vrq-update - ;;
    fwp-tool)
      completion_words fwp-tool -
      completion_words fwp-tool build -
      completion_words fwp-tool extract -
      ;;
    vrq-printer-sim) completion_words vrq-printer-sim - ;;
  esac
}

for program in vrq-update fwp-tool vrq-printer-sim; do
  page=$source_dir/packaging/man/$program.1
  LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -E UTF-8 -l -Tutf8 "$page" \
    >"$work/$program.txt" 2>"$work/$program.warnings"
  [ -s "$work/$program.warnings" ] && fail "$program.1: $(head -n 3 "$work/$program.warnings" | tr '\n' ' ')"
  # Plain text: no overstrike, hyphens as typed.
  sed 's/.\x08//g; s/‐/-/g' "$work/$program.txt" >"$work/$program.plain"

  "$bin/$program" --help >"$work/$program.help" 2>&1 || fail "$program --help failed"
  options=$(grep -oE -- '(^|[][ ,|(])--?[a-z][a-z-]*' "$work/$program.help" | sed 's/^[][ ,|(]//' | sort -u)
  [ -n "$options" ] || fail "no options found in $program --help"
  offered=$(offered_options "$program")
  for option in $options; do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" "$work/$program.plain" ||
      fail "$program.1 does not describe $option"
    grep -qxF -- "$option" <<<"$offered" || fail "the completion of $program does not offer $option"
  done

  statuses=$(awk '/^Exit status/ {on = 1} on && /^$/ {exit} on' "$work/$program.help" |
    grep -oE '\b[0-9]{1,3}\b' | sort -u)
  [ -n "$statuses" ] || fail "$program --help names no exit status"
  section=$(awk '/^EXIT STATUS/ {on = 1; next} on && /^[A-Z]/ {exit} on' "$work/$program.plain")
  for status in $statuses; do
    grep -qE "\b$status\b" <<<"$section" || fail "$program.1 does not describe exit status $status"
  done
done

[ "$failures" -eq 0 ] && echo "man pages and completions cover every option and exit status"
