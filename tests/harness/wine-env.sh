# Sourced by the Wine harness scripts: the environment every Windows test process runs in.
# $1: the build folder that owns the private prefix and the session state.
kolvy_wine_env() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  # Each build names its Wine in wine-arch (written by its configure): the 32-bit build runs under
  # the 32-bit loader in a 32-bit prefix of its own; the 64-bit one under wine64. The loaders are
  # called directly: the /usr/bin/wine wrapper picks one by itself.
  local arch=win64
  [[ -f $build/wine-arch ]] && arch=$(cat "$build/wine-arch")
  if [[ $arch == win32 ]]; then
    export WINELOADER=/usr/lib/wine/wine WINEARCH=win32
  else
    export WINELOADER=/usr/lib/wine/wine64
    unset WINEARCH
  fi
  export WINEDEBUG=${KOLVY_WINEDEBUG:--all}
  # Code page 932 inside Wine needs the Japanese locale outside it.
  export LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  KOLVY_WINE_STATE="$build/wine-session"
  # Tests that take screenshots put them here (seen from Windows through the Z: drive).
  mkdir -p "$build/screenshots"
  export KOLVY_SCREENSHOT_DIR="Z:$build/screenshots"
  if [[ -f $KOLVY_WINE_STATE/display ]]; then
    export DISPLAY=":$(cat "$KOLVY_WINE_STATE/display")"
  fi
}
