# Shared by the end-to-end cases of the sleep lock; sourced after common.sh. A private
# bus stands in for the system bus, with python-dbusmock's logind on it. PYTHON3 (a
# python3 that has dbusmock) and DBUS_DAEMON come from CTest.
: "${PYTHON3:?PYTHON3 must name a python3 with dbusmock}"
: "${DBUS_DAEMON:?DBUS_DAEMON must name dbus-daemon}"

# start_logind_mock TRANSCRIPT SNAPSHOT: the bus and logind, until the script ends. When
# the lock is asked for, logind copies the simulator's TRANSCRIPT to SNAPSHOT.
start_logind_mock() {
  local socket=$work/system_bus i
  "$DBUS_DAEMON" --session --nofork --nopidfile --address="unix:path=$socket" \
    2>"$work/bus.log" &
  bus_pid=$!
  trap 'kill "$bus_pid" ${mock_pid:+"$mock_pid"} 2>/dev/null; wait; rm -rf "$work"' EXIT
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$socket
  for ((i = 0; i < 100; i++)); do
    [ -S "$socket" ] && break
    sleep 0.1
  done
  "$PYTHON3" -m dbusmock --template "$(dirname "${BASH_SOURCE[0]}")/logind_probe.py" \
    -l "$work/logind.log" -p "{\"transcript\": \"$1\", \"snapshot\": \"$2\"}" \
    >"$work/logind.out" 2>&1 &
  mock_pid=$!
  for ((i = 0; i < 100; i++)); do
    list_inhibitors >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "logind's stand-in did not start: $(tr '\n' '|' <"$work/logind.out")"
}

# list_inhibitors: logind's locks, one "what|who|why|mode" line each.
list_inhibitors() {
  "$PYTHON3" -c '
import dbus
logind = dbus.SystemBus().get_object("org.freedesktop.login1", "/org/freedesktop/login1")
for lock in logind.ListInhibitors(dbus_interface="org.freedesktop.login1.Manager"):
    print("|".join(str(field) for field in lock[:4]))'
}
