# Shared by the scripts: build folder, Wine prefix, and the virtual display.
# Source it; it defines functions and exports the Wine settings.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"

# Whether this machine runs 32-bit x86 programs: some kernels refuse them, and then 32-bit Wine
# cannot start. The probe is a 93-byte 32-bit program that only exits.
host_runs_32bit() {
  local probe
  probe="$(mktemp)"
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  local ok=1
  "$probe" 2>/dev/null && ok=0
  rm -f "$probe"
  return $ok
}

# The programs are 32-bit. On a machine that cannot run 32-bit programs the same code is built
# and tested as 64-bit programs under 64-bit Wine. MINGW_ARCH=i686|x86_64 chooses by hand.
if [ -z "${MINGW_ARCH:-}" ]; then
  if host_runs_32bit; then MINGW_ARCH=i686; else MINGW_ARCH=x86_64; fi
fi
export MINGW_ARCH
if [ "$MINGW_ARCH" = x86_64 ]; then
  export WINEARCH=win64
  # "wine", "wineserver", "wineboot" and "winepath" of the 64-bit kind, first on PATH, for the
  # scripts and for ctest (the toolchain's emulator is "wine").
  winebin="$build/winebin"
  if [ ! -x "$winebin/wineboot" ]; then
    mkdir -p "$winebin"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$winebin/wine"
    printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$winebin/wineserver"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 wineboot "$@"\n' >"$winebin/wineboot"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 winepath "$@"\n' >"$winebin/winepath"
    chmod +x "$winebin"/*
  fi
  export PATH="$winebin:$PATH"
  export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
else
  export WINEARCH=win32
fi
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix-$MINGW_ARCH}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Configures the build folder once, then builds the targets named (all when none is).
configure_and_build() {
  # A build folder configured for the other kind of program, or for an older toolchain file, is
  # configured again from scratch.
  if [ -f "$build/CMakeCache.txt" ] && ! grep -qx "MINGW_ARCH:STRING=$MINGW_ARCH" "$build/CMakeCache.txt"; then
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles" "$build/build.ninja"
  fi
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw.cmake" \
      -DMINGW_ARCH:STRING="$MINGW_ARCH" >/dev/null
  fi
  if [ $# -gt 0 ]; then
    cmake --build "$build" --target "$@"
  else
    cmake --build "$build"
  fi
}

# Starts Xvfb on a free display number and exports DISPLAY; remembers its pid in xvfb_pid.
start_xvfb() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 100); do
      xdpyinfo >/dev/null 2>&1 && return 0
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "could not start Xvfb" >&2
  return 1
}

# Makes the prefix once, then keeps one wine server running for the whole session.
start_wine() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # A server already running for this prefix (another run of the tests) is simply shared.
  wineserver -p >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# Wine's system processes (services.exe and those it starts) can end during a run, and whichever
# program starts them again hands them its output: when that is a test, ctest waits on the test's
# output until they end, up to the test's time-out. This starts them again itself, with no output,
# whenever they are gone. Run it in the background (watcher_pid) for the length of a test run.
watch_wine_services() {
  local p running
  while sleep 1; do
    running=0
    for p in $(pgrep -f 'services\.exe'); do
      if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
        running=1
        break
      fi
    done
    [ "$running" = 1 ] || wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  done
}

stop_all() {
  [ -n "${watcher_pid:-}" ] && kill "$watcher_pid" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
}
