# Shared by the end-to-end scripts: sourced after $work and $case_name are set.
# Puts a copy of the program, with the HID library beside it, into $app and counts
# failures.
app=$work/app
mkdir -p "$app" "$work/items" "$work/tmp"
cp "$BIN/vrq-update" "$app/"
cp -P "$BIN"/libJXUsbHid.so* "$app/"

failures=0
fail() {
  echo "FAIL [$case_name]: $*" >&2
  failures=$((failures + 1))
}
