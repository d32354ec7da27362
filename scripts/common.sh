# Shared by the run and test scripts: paths, the build and the Wine prefix.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
export BURNWRIGHT_WINEPREFIX="${BURNWRIGHT_WINEPREFIX:-$build/wineprefix}"
export WINEPREFIX="$BURNWRIGHT_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# configure_and_build [TARGET...]: configure, then build the targets (default: all).
configure_and_build() {
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBURNWRIGHT_TESTS=ON >/dev/null
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    cmake --build "$build" -j"$(nproc)" "${targets[@]}"
}

# The first start of a prefix takes a while; do it once, before anything is timed.
prepare_wine_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Preparing Wine prefix in $WINEPREFIX ..."
        timeout 300 wineboot -i >/dev/null 2>&1 || true
        timeout 60 wineserver -w || true
    fi
    # Debian's Wine does not find its own fonts (MS Sans Serif and the rest)
    # unless they are in the prefix's font folder.
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ]; then
        for font in /usr/share/wine/fonts/*; do
            [ -e "$fonts/$(basename "$font")" ] || ln -s "$font" "$fonts/"
        done
    fi
}
