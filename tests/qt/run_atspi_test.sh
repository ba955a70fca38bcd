#!/usr/bin/env bash
# Starts a program on a virtual display with a session bus and the accessibility bus of its own,
# and reads its windows over AT-SPI with SCRIPT (by default atspi_main_window.py, for the real
# program). The links it opens go to a
# stand-in xdg-open that writes its argument to $ZELTOR_ATSPI_OPENED.
#
#   run_atspi_test.sh PROGRAM [SCRIPT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${ZELTOR_ATSPI_SESSION:-}" ]; then
    # A session bus of our own; the accessibility bus is started through it and ends with it. Its
    # socket goes in the runtime folder the bus hands to what it starts: one of our own, so that
    # another run at the same time cannot take it over.
    runtime=$(mktemp -d)
    status=0
    env ZELTOR_ATSPI_SESSION=1 XDG_RUNTIME_DIR="$runtime" dbus-run-session -- "$0" "$@" || status=$?
    rm -rf "$runtime"
    exit "$status"
fi
program=$1
script=${2:-$here/atspi_main_window.py}
work=$(mktemp -d)
xvfb_pid=
program_pid=
script_pid=
cleanup() {
    [ -n "$script_pid" ] && kill "$script_pid" 2>/dev/null || true
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
# The display takes clients before the program is its first.
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || {
    echo "the virtual display $DISPLAY does not take clients"
    kill -0 "$xvfb_pid" 2>/dev/null || echo "# it has ended"
    sed 's/^/#   /' "$work/xvfb.log"
    exit 1
}
# Qt speaks to the bus only when a screen reader is said to run; say so, as a desktop would.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# The accessibility bus (at-spi2-core's launcher, activated through the session bus) before the
# program looks for it.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >"$work/a11y-bus" \
    || { echo "the accessibility bus did not start (at-spi2-core)" >&2; exit 1; }

mkdir "$work/bin"
cat >"$work/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened"
EOF
chmod +x "$work/bin/xdg-open"
export ZELTOR_ATSPI_OPENED=$work/opened

# The script first, until it says it listens ($ZELTOR_ATSPI_READY): the program learns of the
# listeners when it joins the bus, and one registered while it joins can be missed for good.
export ZELTOR_ATSPI_READY=$work/ready
timeout 120 /usr/bin/python3 "$script" &
script_pid=$!
for _ in $(seq 200); do
    { [ -e "$work/ready" ] || ! kill -0 "$script_pid" 2>/dev/null; } && break
    sleep 0.1
done
PATH=$work/bin:$PATH "$program" >"$work/program.log" 2>&1 &
program_pid=$!
status=0
wait "$script_pid" || status=$?
if [ "$status" -ne 0 ]; then
    echo "# the program's output:"; sed 's/^/#   /' "$work/program.log"
    kill -0 "$xvfb_pid" 2>/dev/null || echo "# the virtual display ($DISPLAY) had ended"
    echo "# the virtual display's output:"; sed 's/^/#   /' "$work/xvfb.log"
fi
exit "$status"
