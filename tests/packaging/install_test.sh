#!/usr/bin/env bash
# cmake --install --strip into a scratch DESTDIR, then what a user and a developer get:
# the HID library once, the program in its own folder with a link to it, its settings
# file in the configuration folder with a link beside the program (an edited one kept
# when installing again), the files of the desktop, a pkg-config file that builds a
# client, and an update application made by the installed program that is the stripped
# program plus the package.
#   install_test.sh  with BUILD (the build folder), SOURCE (the project's folder), BIN,
#                    PREFIX, LIBDIR, BINDIR, SYSCONFDIR (absolute), UDEV_RULES_DIR (as
#                    configured), SANITIZER (empty, address or thread)
set -uo pipefail
: "${BUILD:?}" "${SOURCE:?}" "${BIN:?}" "${PREFIX:?}" "${LIBDIR:?}" "${BINDIR:?}" "${SYSCONFDIR:?}" "${UDEV_RULES_DIR:?}"
dest=$(mktemp -d "${TMPDIR:-/tmp}/install-test.XXXXXX")
trap 'rm -rf "$dest"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# Relative folders are under the prefix, as GNUInstallDirs gives them.
under_prefix() { case $1 in /*) echo "$dest$1" ;; *) echo "$dest$PREFIX/$1" ;; esac }

DESTDIR=$dest cmake --install "$BUILD" --strip >"$dest.log" 2>&1 || {
  cat "$dest.log" >&2
  rm -f "$dest.log"
  exit 1
}
rm -f "$dest.log"
root=$dest$PREFIX
libdir=$(under_prefix "$LIBDIR")
bindir=$(under_prefix "$BINDIR")
app_dir=$libdir/vrq-update

# The library: one file, with its SONAME link and the development link.
copies=$(find "$dest" -name 'libJXUsbHid.so*' -type f)
[ "$copies" = "$libdir/libJXUsbHid.so.2.0.0.0" ] || fail "the library is installed as: $copies"
[ "$(readlink "$libdir/libJXUsbHid.so.2")" = libJXUsbHid.so.2.0.0.0 ] || fail "no SONAME link"
[ "$(readlink "$libdir/libJXUsbHid.so")" = libJXUsbHid.so.2 ] || fail "no development link"
[ "$(readlink -f "$app_dir/libJXUsbHid.so")" = "$libdir/libJXUsbHid.so.2.0.0.0" ] ||
  fail "the program's folder has no link to the library"
[ "$(readlink -f "$bindir/vrq-update")" = "$app_dir/vrq-update" ] || fail "no vrq-update in $bindir"
for tool in fwp-tool vrq-printer-sim; do
  [ -x "$bindir/$tool" ] || fail "no $tool in $bindir"
done
# The simulator's preload library, where the installed simulator looks for it.
[ -f "$libdir/vrq-printer-sim/vrq-printer-sim-usblp.so" ] ||
  fail "no vrq-printer-sim-usblp.so in $libdir/vrq-printer-sim"
case $LIBDIR in /*) full_libdir=$LIBDIR ;; *) full_libdir=$PREFIX/$LIBDIR ;; esac
strings "$bindir/vrq-printer-sim" >"$dest/sim-strings.txt"
grep -qxF "$full_libdir/vrq-printer-sim" "$dest/sim-strings.txt" ||
  fail "the installed vrq-printer-sim does not look for its library in $full_libdir/vrq-printer-sim"

# The settings file: the program reads the one beside it, a link to the configuration
# folder's (absolute: it leads out of the prefix's tree), where the default update mode
# is the administrator's to change; installing again keeps a changed file.
settings=$SYSCONFDIR/vrq-update/vrq-update.ini
[ -L "$app_dir/vrq-update.ini" ] && [ "$(readlink "$app_dir/vrq-update.ini")" = "$settings" ] ||
  fail "$app_dir/vrq-update.ini is no link to $settings"
if [ -f "$dest$settings" ] && [ ! -L "$dest$settings" ]; then
  cmp -s "$dest$settings" "$SOURCE/packaging/vrq-update.ini" || fail "$settings is not the default"
  printf '[MAIN]\nMAKE=1\n' >"$dest$settings"
  if DESTDIR=$dest cmake --install "$BUILD" --strip --component runtime >"$dest/again.log" 2>&1; then
    [ "$(cat "$dest$settings")" = "$(printf '[MAIN]\nMAKE=1')" ] ||
      fail "installing again replaced the changed $settings"
    [ "$(readlink "$app_dir/vrq-update.ini")" = "$settings" ] || fail "installing again lost the link"
  else
    fail "installing again failed: $(tail -n 3 "$dest/again.log")"
  fi
else
  fail "$settings is not installed as a file"
fi

# The installed program runs, and loads the library through the link beside it.
# (No printer is attached here: --list says so and exits 1.)
LD_DEBUG=files "$bindir/vrq-update" --list >/dev/null 2>"$dest/list.log"
[ $? -eq 1 ] || fail "vrq-update --list without a printer did not exit 1"
grep -q "calling init: $app_dir/libJXUsbHid.so" "$dest/list.log" ||
  fail "the installed program did not load the library beside it"

# The desktop's files.
for file in share/man/man1/vrq-update.1 share/man/man1/fwp-tool.1 share/man/man1/vrq-printer-sim.1 \
  share/applications/org.vrqprinter.Update.desktop \
  share/applications/org.vrqprinter.UpdateMaker.desktop \
  share/metainfo/org.vrqprinter.Update.metainfo.xml \
  share/icons/hicolor/scalable/apps/vrq-update.svg share/vrq-update/outcome.schema.json \
  share/bash-completion/completions/vrq-update share/bash-completion/completions/fwp-tool \
  share/bash-completion/completions/vrq-printer-sim; do
  [ -f "$root/$file" ] || fail "$file is not installed"
done
[ -f "$(under_prefix "$UDEV_RULES_DIR")/70-vrq-printer.rules" ] || fail "no udev rules in $UDEV_RULES_DIR"

# A client built with what pkg-config says, against the installed header and library.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion jxusbhid)" = 2.0.0.0 ] || fail "jxusbhid.pc: wrong version"
cat >"$dest/client.c" <<'CLIENT'
#include <JXUsbHid.h>
#include <stdio.h>
int main(void) {
  char version[8] = {0};
  if (hidusbGetVersion(version, sizeof version) != 7) return 1;
  puts(version);
  return 0;
}
CLIENT
# A sanitizer build's library expects the sanitizer's runtime in the program.
sanitize=()
case ${SANITIZER:-} in
  address) sanitize=(-fsanitize=address,undefined) ;;
  thread) sanitize=(-fsanitize=thread) ;;
esac
# shellcheck disable=SC2046
cc -Wall -Werror "${sanitize[@]}" -o "$dest/client" "$dest/client.c" $(pkg-config --define-prefix --cflags --libs jxusbhid) ||
  fail "a client does not build with pkg-config jxusbhid"
[ "$(LD_LIBRARY_PATH=$libdir "$dest/client" 2>&1)" = 2.0.0.0 ] || fail "the client did not run"

# Stripped program, stripped library image inside it: an update application is the
# program and the package, nothing more.
program=$app_dir/vrq-update
readelf -S "$program" | grep -qE '\.debug_|\.symtab' && fail "the installed program is not stripped"
# The build's program still has its symbols: they bound the image.
symbol_address() { nm "$BIN/vrq-update" | awk -v name="$1" '$3 == name {print $1}'; }
begin=$(symbol_address vrq_blob_rc_dll_dll_begin)
end=$(symbol_address vrq_blob_rc_dll_dll_end)
image_size=$((16#${end:-0} - 16#${begin:-0}))
strip --strip-unneeded -o "$dest/stripped.so" "$BIN/libJXUsbHid.so.2"
[ "$image_size" -eq "$(stat -c %s "$dest/stripped.so")" ] ||
  fail "the library image in the program is $image_size bytes, not the stripped library's $(stat -c %s "$dest/stripped.so")"
mkdir "$dest/work"
# The installed program as a large item; the firmware image must fit the printer's loader.
head -c 4096 /dev/zero >"$dest/work/frw.bin"
"$BIN/fwp-tool" build --item "frw:$dest/work/frw.bin" --item "system:$program" "$dest/work/pkg.fwp" \
  >/dev/null || fail "fwp-tool build"
"$bindir/vrq-update" --make "$dest/work/pkg.fwp" 2>/dev/null || fail "the installed program could not make pkg.run"
program_size=$(stat -c %s "$program")
package_size=$(stat -c %s "$dest/work/pkg.fwp")
run_size=$(stat -c %s "$dest/work/pkg.run" 2>/dev/null || echo 0)
echo "installed program $program_size bytes, package $package_size bytes, pkg.run $run_size bytes"
[ "$run_size" -eq $((program_size + package_size + 36)) ] ||
  fail "pkg.run is $run_size bytes, not the program, the package and the trailer"

[ "$failures" -eq 0 ] && echo "the installed files are complete"
