# Shared by the end-to-end scripts: sourced after $work and $case_name are set.
# Puts a copy of the program, with the HID library beside it, into $app, counts
# failures and runs the program.
app=$work/app
mkdir -p "$app" "$work/items" "$work/tmp"
# Updates are recorded in $work/state, never in the history of whoever runs the tests.
export XDG_STATE_HOME=$work/state
cp "$BIN/vrq-update" "$app/"
cp -P "$BIN"/libJXUsbHid.so* "$app/"

failures=0
fail() {
  echo "FAIL [$case_name]: $*" >&2
  failures=$((failures + 1))
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
}
