#!/usr/bin/env bash
# Runs Windows programs under Wine for the tests, in a private prefix.
#
#   wine.sh start DIR                 create DIR/prefix if needed, start a persistent
#                                     wineserver and an Xvfb display for this test run
#   wine.sh stop DIR                  stop the server and the display that start began
#   wine.sh run DIR SECONDS PROG ARGS run one program with a time limit; its exit
#                                     code is the program's (124 when it timed out)
#
# QM_WINE_LOCALE selects the host locale that Wine derives the ANSI code page
# from (default C.UTF-8, code page 1252; ja_JP.UTF-8 gives code page 932).
#
# The prefix is a 64-bit one. Where the 32-bit Wine is installed too, it also
# holds the 32-bit system (syswow64) and runs 32-bit programs as 64-bit
# Windows does: `run` starts a 32-bit program with the 32-bit loader, every
# other program (Wine's own tools included) with the 64-bit one.
set -u

WINE=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver

cmd=${1:?usage: wine.sh start|stop|run DIR ...}
dir=${2:?wine directory missing}
shift 2

export WINEPREFIX="$dir/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
export WINEARCH=win64
session="$dir/session.env"

# The machine field of a Windows program's PE header: 14c for a 32-bit x86
# program, empty for anything that is not a readable PE file.
pe_machine() {
    [ -f "$1" ] || return 0
    local at
    at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$at" ] || return 0
    [ "$(od -An -c -j"$at" -N2 "$1" 2>/dev/null | tr -d ' ')" = "PE" ] || return 0
    od -An -tx2 -j$((at + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

start_display() {
    local n
    for n in $(seq 90 250); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset </dev/null >/dev/null 2>&1 &
        local pid=$!
        for _ in $(seq 100); do
            if [ -e "/tmp/.X11-unix/X$n" ]; then
                printf 'DISPLAY=:%s\nXVFB_PID=%s\n' "$n" "$pid" >"$session"
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
    done
    echo "wine.sh: no X display could be started" >&2
    return 1
}

case "$cmd" in
start)
    mkdir -p "$dir"
    rm -f "$session"
    start_display || exit 1
    . "$session"
    export DISPLAY
    mkdir -p "$WINEPREFIX"
    # A server left over from an interrupted run of this prefix goes first, so
    # that the one started here is persistent.
    # The server and the processes it starts must not hold this script's
    # output open, or the caller would wait for them.
    if ! "$WINESERVER" -p </dev/null >/dev/null 2>&1; then
        "$WINESERVER" -k >/dev/null 2>&1
        timeout 30 "$WINESERVER" -w >/dev/null 2>&1
        "$WINESERVER" -p </dev/null >/dev/null 2>&1 || { echo "wine.sh: wineserver failed" >&2; exit 1; }
    fi
    # A prefix made before the 32-bit Wine was installed has no 32-bit system;
    # it is made anew.
    if [ -x "$WINE32" ] && [ -f "$WINEPREFIX/system.reg" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
        echo "wine.sh: the prefix has no 32-bit system yet; making it anew"
        "$WINESERVER" -k >/dev/null 2>&1
        timeout 30 "$WINESERVER" -w >/dev/null 2>&1
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        "$WINESERVER" -p </dev/null >/dev/null 2>&1 || { echo "wine.sh: wineserver failed" >&2; exit 1; }
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine.sh: creating the Wine prefix $WINEPREFIX"
        timeout -k 10 600 "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || { echo "wine.sh: wineboot failed" >&2; exit 1; }
    fi
    # There is no window manager on the test display: Wine draws the window
    # frames itself, so screenshots show the real title bar, and manages the
    # windows itself, so closing one does not wait about 2 s for a manager
    # that never answers.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    # The first program of a session starts Wine's background services; start
    # them here, detached from any test's output.
    timeout -k 5 120 "$WINE" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
    echo "wine.sh: prefix $WINEPREFIX, display $DISPLAY, persistent wineserver started"
    ;;
stop)
    # Wine's processes first, so that none of them loses its display.
    "$WINESERVER" -k 2>/dev/null
    timeout 30 "$WINESERVER" -w 2>/dev/null
    if [ -f "$session" ]; then
        . "$session"
        kill "$XVFB_PID" 2>/dev/null
        rm -f "$session"
    fi
    echo "wine.sh: stopped"
    exit 0
    ;;
run)
    limit=${1:?time limit missing}
    shift
    if [ -f "$session" ]; then
        . "$session"
        export DISPLAY
    fi
    export LC_ALL="${QM_WINE_LOCALE:-C.UTF-8}"
    loader=$WINE
    if [ "$(pe_machine "$1")" = "014c" ]; then
        [ -x "$WINE32" ] || { echo "wine.sh: $1 is a 32-bit program and the 32-bit Wine is not installed" >&2; exit 127; }
        loader=$WINE32
    fi
    exec timeout -k 5 "$limit" "$loader" "$@"
    ;;
*)
    echo "wine.sh: unknown command $cmd" >&2
    exit 2
    ;;
esac
