#!/usr/bin/env bash
# Cross-builds the Windows program with MinGW-w64 and tests the real zeltor.exe under Wine on a
# virtual X display: a screenshot of its main window, then the driver's cases (tests/wine), with
# the stand-in system libraries beside the executable. A fresh Wine prefix for each run.
#
#   tools/test-wine.sh [case...]      (no case: all of them; tests/wine/driver.cpp names them)
#
# Prints "ok - ..." / "not ok - ..." per case, then "wine: N passed, N failed"; exits non-zero on
# any failure. Environment: ZELTOR_MINGW_BUILD (the build folder, default build-mingw).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELTOR_MINGW_BUILD:-$root/build-mingw}
run=$build/wine-run
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver64}

for tool in "$wine" "$wineserver" Xvfb import x86_64-w64-mingw32-g++-posix; do
    command -v "$tool" >/dev/null || { echo "test-wine: $tool is missing (tools/install-deps.sh test installs it)" >&2; exit 2; }
done
# The dialogs are laid out for "MS Shell Dlg", which the prefix sets in MS Sans Serif (fonts-wine).
[ -f /usr/share/wine/fonts/sserife.fon ] || { echo "test-wine: fonts-wine is missing (tools/install-deps.sh test installs it)" >&2; exit 2; }

echo "== cross build ($build)"
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 \
    || { cat "$build/configure.log"; exit 2; }
cmake --build "$build" || exit 2

# A server left behind by an interrupted earlier run of this script holds the old prefix.
[ -d "$run/prefix" ] && WINEPREFIX=$run/prefix "$wineserver" -k >/dev/null 2>&1 || true
rm -rf "$run"
mkdir -p "$run/app" "$run/cases"
cp "$build/platform/win32/zeltor.exe" "$build/platform/win32/probe/zeltor-probe.exe" "$run/app/"
cp "$build"/tests/wine/stubs/{netapi32,ntdsapi,pdh,mpr,wldap32,dnsapi,secur32}.dll "$run/app/"
# The same program with the system's own pdh and mpr: only the directory's stand-ins beside it.
mkdir -p "$run/app-system"
cp "$build/platform/win32/zeltor.exe" "$build"/tests/wine/stubs/{netapi32,ntdsapi}.dll "$run/app-system/"
cp "$build/tests/wine/driver.exe" "$build/tests/wine/probe.dll" "$build/tests/wine/stubs/accprop.dll" "$run/"

# winemenubuilder would copy the prefix's Start-menu shortcuts into this machine's own desktop
# menus (~/.local/share/applications, ~/.config/menus); the installer test makes one.
export WINEPREFIX=$run/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The stand-ins beside zeltor.exe before the system's own libraries of those names (native first).
# Wine hands a program's WINE* variables on to the programs it starts, so the driver runs with
# them.
stand_ins="mscoree,mshtml=;winemenubuilder.exe=d;netapi32,ntdsapi,pdh,mpr,wldap32,dnsapi,secur32=n"
system_libraries="mscoree,mshtml=;winemenubuilder.exe=d;netapi32,ntdsapi=n;pdh,mpr=b"
xvfb_pid=
cleanup() {
    # Only what this run started: the server of its own Wine prefix (with that prefix's programs)
    # and its X server.
    WINEPREFIX=$run/prefix "$wineserver" -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A display of its own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run/display" >"$run/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$run/display" ] && break; sleep 0.1; done
[ -s "$run/display" ] || { echo "test-wine: Xvfb did not start" >&2; cat "$run/xvfb.log" >&2; exit 2; }
export DISPLAY=:$(head -n1 "$run/display")

echo "== Wine prefix"
timeout 180 "$wine" wineboot -i >"$run/wineboot.log" 2>&1 || { echo "test-wine: wineboot failed" >&2; tail "$run/wineboot.log" >&2; exit 2; }
# Without a window manager Wine draws the window frames itself.
timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$run/wineboot.log" 2>&1
# Wine's own fonts (MS Sans Serif for "MS Shell Dlg", Marlett for the caption buttons) come from
# fonts-wine; this Wine finds them only in the prefix's Fonts folder.
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
# Windows sets "MS Shell Dlg" in Microsoft Sans Serif, whose widths are those of MS Sans Serif; Wine
# substitutes Tahoma, which sets wider. The dialogs are laid out for the Windows metrics.
timeout 60 "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'MS Shell Dlg' /d 'MS Sans Serif' /f >>"$run/wineboot.log" 2>&1
# A program that fails ends without Wine's debugger, which would keep it (and this run) waiting.
timeout 60 "$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
    >>"$run/wineboot.log" 2>&1 || true
# No program opens links in the test prefix: without the http, https and mailto classes the shell
# cannot open a link, and without .htm the program's fallback finds no web document handler. The
# program must then say so (and nothing starts a browser on the test machine).
for key in http https mailto .htm .html htmlfile; do
    timeout 60 "$wine" reg delete "HKLM\\Software\\Classes\\$key" /f >>"$run/wineboot.log" 2>&1 || true
done

passed=0
failed=0

# shoot NAME MODE: the driver holds the main window (--hold) or the About box (--hold-about) open
# while its rectangle of the screen is saved as NAME.png.
shoot() {
    local name=$1 mode=$2
    rm -f "$run/ready" "$run/done"
    WINEDLLOVERRIDES=$stand_ins \
        timeout 180 "$wine" "$run/driver.exe" "$mode" "$win_run\\ready" "$win_run\\done" >"$run/$name.log" 2>&1 &
    local hold_pid=$!
    for _ in $(seq 600); do [ -s "$run/ready" ] && break; sleep 0.1; done
    if [ -s "$run/ready" ]; then
        read -r x y w h <"$run/ready"
        sleep 1 # the caption turns active and the last paint lands
        import -window root -crop "${w}x${h}+${x}+${y}" +repage "$run/$name.png"
        touch "$run/done"
        if wait "$hold_pid" && [ "$(identify -format '%wx%h' "$run/$name.png")" = "${w}x${h}" ]; then
            echo "ok - $name ($run/$name.png, ${w}x${h})"; passed=$((passed + 1))
        else
            echo "not ok - $name"; failed=$((failed + 1))
        fi
    else
        touch "$run/done"; wait "$hold_pid" || true
        echo "not ok - $name: the window did not show"; cat "$run/$name.log"; failed=$((failed + 1))
    fi
}

echo "== screenshots"
win_run="Z:${run//\//\\}" # the same folder as Wine's programs name it
shoot screenshot --hold
shoot screenshot-about --hold-about
shoot screenshot-overview --hold-overview

# count_results LOG STATUS: adds the driver's results to the totals; a driver that failed without
# a failing case (it crashed, or timed out) counts as a failure of its own.
count_results() {
    local log=$run/$1.log status=$2
    passed=$((passed + $(grep -c '^ok - ' "$log" || true)))
    failed=$((failed + $(grep -c '^not ok - ' "$log" || true)))
    if [ "$status" -ne 0 ] && [ "$(grep -c '^not ok - ' "$log" || true)" -eq 0 ]; then
        echo "not ok - $1 ended with status $status"; tail "$run/$1.stderr"; failed=$((failed + 1))
    fi
}

echo "== cases"
set +e
WINEDLLOVERRIDES=$stand_ins \
    timeout 600 "$wine" "$run/driver.exe" "$@" 2>"$run/driver.stderr" | tee "$run/driver.log"
driver_status=${PIPESTATUS[0]}
set -e
count_results driver "$driver_status"

echo "== cases with the system's pdh and mpr"
set +e
WINEDLLOVERRIDES=$system_libraries \
    timeout 600 "$wine" "$run/driver.exe" --system-libraries "$@" 2>"$run/driver-system.stderr" | tee "$run/driver-system.log"
driver_status=${PIPESTATUS[0]}
set -e
count_results driver-system "$driver_status"

echo "== the installer: silent install, the program through its shortcut, silent uninstall"
# Snapshots of the prefix (files outside the temporary folders, the machine's registry) before
# the install and after the uninstall: nothing of the program may stay behind.
snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path '*/Temp' -prune -o -path ./windows/temp -prune -o -print | sort) >"$run/$1.files"
    timeout 60 "$wine" reg export 'HKLM\Software' "$win_run\\$1.reg" /y >/dev/null 2>&1
    timeout 60 "$wine" reg export 'HKCU\Software' "$win_run\\$1-user.reg" /y >/dev/null 2>&1
    # Wine lists the machine's network interfaces under NetworkCards the first time a program asks
    # for them; that is Wine's, not the installer's.
    iconv -f UTF-16 -t UTF-8 "$run/$1.reg" | tr -d '\r' \
        | awk 'BEGIN { RS = ""; ORS = "\n\n" } !/^\[[^]]*\\NetworkCards\\/' >"$run/$1.reg.txt"
    iconv -f UTF-16 -t UTF-8 "$run/$1-user.reg" >"$run/$1-user.reg.txt"
}
installed_check() { # installed_check WHAT COMMAND...: one result line
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then echo "ok - $what"; passed=$((passed + 1)); else echo "not ok - $what"; failed=$((failed + 1)); fi
}
cpack --config "$build/CPackConfig.cmake" -G NSIS -B "$run/installer" >"$run/cpack.log" 2>&1 || { cat "$run/cpack.log"; exit 2; }
installer=$(ls "$run"/installer/zeltor-*-win64.exe)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
program_files="$WINEPREFIX/drive_c/Program Files/Zeltor"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zeltor.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zeltor'
snapshot before-install
installed_check "silent install ($(basename "$installer"))" timeout 120 "$wine" "$installer" /S
installed_check "the program and the uninstaller in Program Files" test -f "$program_files/zeltor.exe" -a -f "$program_files/Uninstall.exe"
installed_check "the Start-menu shortcut of all users" test -f "$shortcut"
installed_check "the uninstall entry names version $version" \
    bash -c "timeout 60 '$wine' reg query '$uninstall_key' /v DisplayVersion | grep -q 'REG_SZ *$version'"
rm -f "$run/ready" "$run/done"
timeout 180 "$wine" "$run/driver.exe" --installed 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Zeltor.lnk' \
    "Z:${installer//\//\\}" "$version" "$win_run\\ready" "$win_run\\done" >"$run/installed.log" 2>&1 &
installed_pid=$!
for _ in $(seq 600); do [ -s "$run/ready" ] && break; kill -0 "$installed_pid" 2>/dev/null || break; sleep 0.1; done
if [ -s "$run/ready" ]; then
    read -r x y w h <"$run/ready"
    sleep 1
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$run/screenshot-installed.png"
fi
touch "$run/done"
set +e
wait "$installed_pid"
installed_status=$?
set -e
tr -d '\r' <"$run/installed.log" | grep -E '^(not )?ok - '
count_results installed "$installed_status"
installed_check "silent uninstall" timeout 120 "$wine" 'C:\Program Files\Zeltor\Uninstall.exe' /S
# The uninstaller runs from a copy in the temporary folder and returns at once; wait for it.
for _ in $(seq 300); do [ -e "$program_files" ] || break; sleep 0.2; done
timeout 120 "$wineserver" -w || true
snapshot after-uninstall
installed_check "the uninstall leaves no file behind" diff "$run/before-install.files" "$run/after-uninstall.files"
installed_check "the uninstall leaves no value of the machine's registry behind" diff "$run/before-install.reg.txt" "$run/after-uninstall.reg.txt"
installed_check "no registry key or value of the machine or the user names Zeltor any more" \
    bash -c "! grep -qi zeltor '$run/after-uninstall.reg.txt' '$run/after-uninstall-user.reg.txt'"
diff "$run/before-install.files" "$run/after-uninstall.files" | head -20 || true
diff "$run/before-install.reg.txt" "$run/after-uninstall.reg.txt" | head -20 || true

echo "== the console program's formats, read by their consumers"
# The same checks as on Linux (tests/probe), on zeltor-probe.exe with the stand-ins: scripted
# values, and a counter the machine does not publish. Last: in this Wine, a program started
# through a shortcut after these many console programs did not show its window in time.
mkdir -p "$run/cases"
{
    echo 'pdh.value=37 \Processor(_Total)\% Processor Time'
    echo 'pdh.value=81 \LogicalDisk(_Total)\% Free Space'
    echo 'pdh.value=950 \Memory\Page Faults/sec'
    echo 'pdh.missing=\Process(nosuch)\Handle Count'
} >"$run/cases/consumers.txt"
set +e
WINEDLLOVERRIDES=$stand_ins ZELTOR_STUB_SCENARIO="$win_run\\cases\\consumers.txt" ZELTOR_STUB_LOG="$win_run\\cases\\consumers.log" \
    timeout 600 python3 "$root/tests/probe/check_probe_output.py" DC1 '\Process(nosuch)\Handle Count' \
    "$wine" "$run/app/zeltor-probe.exe" >"$run/consumers.log" 2>"$run/consumers.stderr"
consumers_status=$?
set -e
cat "$run/consumers.log"
count_results consumers "$consumers_status"

echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
