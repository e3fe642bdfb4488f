# Shared by run.sh and test.sh: installs what the build needs, once.
# shellcheck shell=bash

ORLENTA_PACKAGES=(
  cmake ninja-build g++ python3 zip time
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix wine wine64
  xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic
)

# Installs the packages of ORLENTA_PACKAGES that are missing (quiet, idempotent).
orlenta_install_packages() {
  local missing=()
  local p
  for p in "${ORLENTA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Makes the private Wine prefix under the Windows build folder, once, and
# starts one persistent wineserver for it. Sets ORLENTA_WINESERVER_PID.
orlenta_start_wine() {
  export WINEPREFIX="$1/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating Wine prefix"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  wineserver -f -p >/dev/null 2>&1 &
  ORLENTA_WINESERVER_PID=$!
  # Let the prefix's own services come up before the tests start in parallel.
  timeout 120 wine cmd /c exit >/dev/null 2>&1 || true
}

orlenta_stop_wine() {
  if [ -n "${ORLENTA_WINESERVER_PID:-}" ]; then
    wineserver -k 2>/dev/null || true  # also ends the prefix's own services
    kill "$ORLENTA_WINESERVER_PID" 2>/dev/null || true
    wait "$ORLENTA_WINESERVER_PID" 2>/dev/null || true
    ORLENTA_WINESERVER_PID=
  fi
}
