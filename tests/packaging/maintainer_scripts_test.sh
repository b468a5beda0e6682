#!/usr/bin/env bash
# What the vrq-update package's maintainer scripts ask of udev, against simulated
# printers: postinst makes udev reload its rules and replays the events of the vendor's
# USB devices and of every device below them, so that the printer nodes of a printer
# attached already get the new rules, and nothing of other devices; postrm makes udev
# reload its rules after a removal; neither calls udev where it does not run, or on
# the other calls of dpkg.
#   maintainer_scripts_test.sh SIMULATOR SOURCE
# udev "runs" in a private mount namespace with /run/udev in a tmpfs over /run; a
# stand-in udevadm on the PATH logs every call and turns a trigger into a dry run that
# names the devices it would trigger.
set -uo pipefail
sim=${1:?usage: maintainer_scripts_test.sh SIMULATOR SOURCE}
source_dir=${2:?usage: maintainer_scripts_test.sh SIMULATOR SOURCE}
work=$(mktemp -d "${TMPDIR:-/tmp}/maintainer-scripts-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

namespace=(unshare --mount)
[ "$(id -u)" -eq 0 ] || namespace=(unshare --mount --map-root-user)
if ! "${namespace[@]}" true 2>/dev/null; then
  echo "SKIP: no private mount namespace here (${namespace[*]})"
  exit 77
fi

mkdir "$work/bin"
real_udevadm=$(command -v udevadm) || {
  echo "FAIL: no udevadm" >&2
  exit 1
}
cat >"$work/bin/udevadm" <<STANDIN
#!/bin/sh
echo "udevadm \$*" >>"$work/calls"
case "\$1 \$*" in
  *--dry-run*) exec "$real_udevadm" "\$@" ;;
  trigger*) shift; exec "$real_udevadm" trigger --dry-run --verbose "\$@" >>"$work/triggered" ;;
esac
STANDIN
chmod +x "$work/bin/udevadm"

# run SCRIPT ARGUMENT UDEV: the maintainer script with two simulated printers attached,
# udev running (yes) or not (no); the calls it made go to $work/calls.
run() {
  : >"$work/calls"
  : >"$work/triggered"
  local udev_dir=
  [ "$3" = yes ] && udev_dir="mkdir /run/udev &&"
  "${namespace[@]}" sh -c "mount -t tmpfs tmpfs /run && $udev_dir exec \"\$@\"" sh \
    "$sim" --printers 2 -- env PATH="$work/bin:$PATH" sh "$source_dir/debian/vrq-update.$1" "$2" \
    >"$work/out" 2>&1 || fail "vrq-update.$1 $2 (udev: $3) failed: $(tail -n 3 "$work/out")"
}

# postinst on a machine where udev runs: the rules read again, then each of the vendor's
# USB devices with everything below it, the printer ports among them; no trigger by
# subsystem alone (every other vendor's devices) and no trigger of the USB device alone
# (its nodes would keep their old access).
run postinst configure yes
grep -qx 'udevadm control --reload-rules' "$work/calls" || fail "postinst did not reload the rules"
triggers=$(grep -v -e '--dry-run' -e '^udevadm control' "$work/calls")
[ "$(grep -c . <<<"$triggers")" -eq 2 ] || fail "postinst triggered $(grep -c . <<<"$triggers") times for two printers: $triggers"
while read -r call; do
  parent=$(sed -n 's/.*--parent-match=\([^ ]*\).*/\1/p' <<<"$call")
  [ -n "$parent" ] || {
    fail "postinst triggered more than a printer: $call"
    continue
  }
  [[ $call == *--action=change* ]] || fail "postinst triggered another action: $call"
  vendor=$("$sim" --printers 2 -- sh -c "cat '$parent/idVendor'" 2>/dev/null)
  [ "$vendor" = 0471 ] || fail "postinst triggered below $parent, vendor \"$vendor\""
done <<<"$triggers"
for node in lp0 lp1; do
  grep -q "/usbmisc/$node\$" "$work/triggered" || fail "postinst left the printer port $node out"
done

# Where udev does not run (a chroot, a container), and on dpkg's other calls: nothing.
run postinst configure no
[ -s "$work/calls" ] && fail "postinst called udev where it does not run: $(cat "$work/calls")"
run postinst abort-upgrade yes
[ -s "$work/calls" ] && fail "postinst abort-upgrade called udev: $(cat "$work/calls")"

# postrm: after a removal the rules are read again, nothing is triggered; an upgrade
# leaves that to the new postinst.
run postrm remove yes
[ "$(cat "$work/calls")" = "udevadm control --reload-rules" ] ||
  fail "postrm remove made these calls: $(cat "$work/calls")"
run postrm remove no
[ -s "$work/calls" ] && fail "postrm called udev where it does not run: $(cat "$work/calls")"
run postrm upgrade yes
[ -s "$work/calls" ] && fail "postrm upgrade called udev: $(cat "$work/calls")"

[ "$failures" -eq 0 ] && echo "the maintainer scripts reload udev's rules and replay only the printers' events"
