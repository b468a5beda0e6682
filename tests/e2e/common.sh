# Shared by the end-to-end scripts: sourced after $work and $case_name are set.
# Puts a copy of the program, with the HID library beside it, into $app, counts
# failures and runs the program.
app=$work/app
mkdir -p "$app" "$work/items" "$work/tmp"
cp "$BIN/vrq-update" "$app/"
cp -P "$BIN"/libJXUsbHid.so* "$app/"

failures=0
fail() {
  echo "FAIL [$case_name]: $*" >&2
  failures=$((failures + 1))
}

# collect_json FILE: keeps FILE, the JSON a run printed (objects a line, or one array), for
# the check of every JSON object the tests saw against the schema (json.collected), in
# the folder JSON_COLLECT names; without it, nothing is kept.
collect_json() {
  [ -n "${JSON_COLLECT:-}" ] && [ -s "$1" ] || return 0
  mkdir -p "$JSON_COLLECT" && cp "$1" "$(mktemp --suffix=.json "$JSON_COLLECT/e2e-$case_name.XXXXXX")"
}

# collect_json_of FILE ARGUMENT...: collect_json FILE when the arguments hold --json.
collect_json_of() {
  local file=$1 argument
  shift
  for argument in "$@"; do
    if [ "$argument" = --json ]; then
      collect_json "$file"
      return
    fi
  done
}

# run_update LOG [sim options...] -- [vrq-update arguments...]: runs the program under
# the simulator with flash dir $work/flash, or with no printer at all when the sim
# options are "none"; standard error goes to LOG, standard output to LOG.out; sets $status.
run_update() {
  local log=$1
  shift
  local sim=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    sim+=("$1")
    shift
  done
  shift
  rm -rf "$work/flash"
  if [ "${sim[*]}" = none ]; then
    TMPDIR=$work/tmp "$app/vrq-update" "$@" >"$log.out" 2>"$log"
  else
    TMPDIR=$work/tmp "$BIN/vrq-printer-sim" --flash-dir "$work/flash" "${sim[@]}" -- \
      "$app/vrq-update" "$@" >"$log.out" 2>"$log"
  fi
  status=$?
  collect_json_of "$log.out" "$@"
}
