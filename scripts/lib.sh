# Shared by scripts/test, scripts/demo and the others: what they need from
# Debian, the Wine environment, and small helpers. Source it from the top of
# the source tree.

TALLOWIN_PACKAGES=(
  cmake g++ pkg-config
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine wine64 libwine-dev xvfb xauth
  libxml2-dev python3-spyne imagemagick curl x11-utils
)

# Installs whatever is missing, quietly and without prompts; does nothing
# when everything is there. Never wine32: it breaks wine64 on this machine.
ensure_packages() {
  local missing=() p
  for p in "${TALLOWIN_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Wine, always with a prefix inside the build tree and without the dialogs
# that offer Mono or Gecko.
wine_env() {
  export WINEPREFIX="$PWD/build/wine"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    echo "creating the Wine prefix build/wine (once)" >&2
    wine wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}

configure_and_build() {  # preset
  cmake --preset "$1" >"build/$1.configure.log" 2>&1 || { cat "build/$1.configure.log" >&2; return 1; }
  cmake --build --preset "$1" -j "$(nproc)" >"build/$1.build.log" 2>&1 || { grep -E 'error|Error' "build/$1.build.log" | head -40 >&2; return 1; }
}
