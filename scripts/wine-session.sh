#!/usr/bin/env bash
# Runs win32 test programs under Wine, for ctest.
#   wine-session.sh start BUILD     fresh prefix under BUILD, Xvfb, pinned settings
#   wine-session.sh run BUILD EXE [ARGS...]
#   wine-session.sh stop BUILD      wineserver -k, Xvfb stopped
#   wine-session.sh arch            32 when this machine runs 32-bit Windows
#                                   programs under Wine, else 64
# The session's display and prefix are kept in BUILD/wine-session.env.
set -uo pipefail

cmd=${1:?command}

# Some kernels run no 32-bit programs at all (no IA-32 emulation): Wine's
# 32-bit loader then fails with "Exec format error". Such machines run the
# 64-bit test build under the 64-bit loader.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  arch=32
  wine=wine
else
  arch=64
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi
if [ "$cmd" = arch ]; then
  echo $arch
  exit 0
fi

build=$(cd "${2:?build dir}" && pwd)
shift 2
envfile=$build/wine-session.env
prefix=$build/wineprefix

common_env() {
  export WINEPREFIX=$prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  # Pin the locale so number, date and code-page conversions are the same
  # on every machine.
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
}

stop_session() {
  if [ -f "$envfile" ]; then
    # shellcheck disable=SC1090
    . "$envfile"
    common_env
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${XVFB_PID:-}" ]; then
      kill "$XVFB_PID" >/dev/null 2>&1 || true
    fi
    rm -f "$envfile"
  fi
}

case $cmd in
start)
  stop_session
  rm -rf "$prefix"
  mkdir -p "$prefix"
  # Let Xvfb pick a free display and tell us which one.
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp 4>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 30 display <"$fifo" || { echo "wine-session: Xvfb did not start" >&2; rm -f "$fifo"; exit 1; }
  rm -f "$fifo"
  printf 'XVFB_PID=%s\nDISPLAY=:%s\nexport DISPLAY\n' "$xvfb_pid" "$display" >"$envfile"
  . "$envfile"
  common_env
  "$wine" wineboot -i >/dev/null 2>&1
  wineserver -w
  # Windows 7, 96 DPI: what the tests measure against.
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentVersion /t REG_SZ /d 6.1 /f >/dev/null 2>&1
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber /t REG_SZ /d 7601 /f >/dev/null 2>&1
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v ProductName /t REG_SZ /d 'Microsoft Windows 7' /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win7 /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
  "$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Control Panel\International' /v Locale /t REG_SZ /d 00000409 /f >/dev/null 2>&1
  # No window manager runs on Xvfb: unmanaged windows spare every hide and
  # destroy the wait for a window-manager answer that never comes.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  echo "wine-session: prefix $prefix on display $DISPLAY"
  ;;
run)
  exe=${1:?exe}
  shift
  if [ ! -f "$envfile" ]; then
    echo "wine-session: no session; run 'start' first" >&2
    exit 1
  fi
  . "$envfile"
  common_env
  cd "$(dirname "$exe")" || exit 1
  # Every program run here is a test that prints as it starts. Once in a
  # long run (seen once in about a hundred), Wine came back at once with
  # nothing printed and the program never ran: that start is made again,
  # once. A program that ran and failed printed something and is not rerun.
  out=$(mktemp)
  for attempt in 1 2; do
    "$wine" "$exe" "$@" 2>&1 | tee "$out"
    rc=${PIPESTATUS[0]}
    if [ -s "$out" ] || [ $attempt = 2 ]; then break; fi
    echo "wine-session: $exe printed nothing (exit $rc); starting it again" >&2
  done
  rm -f "$out"
  exit $rc
  ;;
stop)
  stop_session
  echo "wine-session: stopped"
  ;;
*)
  echo "usage: $0 arch | start|run|stop BUILD [EXE ARGS...]" >&2
  exit 2
  ;;
esac
