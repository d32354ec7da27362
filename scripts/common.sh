# Shared by the run and test scripts: paths, the two builds and their Wine set-ups.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"        # the product: PE32, i386
build64="${BUILD64_DIR:-$root/build64}"  # the x86-64 twin, same sources
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Whether this kernel runs 32-bit programs: try Wine's 32-bit loader.
can_run_32bit() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# use_wine 32|64: select a build, its Wine loader, server and prefix.
# Sets bits, bdir, program (the build's Burnwright.exe or Burnwright64.exe), WINE and
# WINESERVER_BIN and exports what Wine reads.
use_wine() {
    bits=$1
    if [ "$bits" = 64 ]; then
        bdir=$build64
        WINE=/usr/lib/wine/wine64
        WINESERVER_BIN=/usr/lib/wine/wineserver64
        export WINELOADER=$WINE WINESERVER=$WINESERVER_BIN WINEARCH=win64
    else
        bdir=$build
        WINE=/usr/lib/wine/wine
        WINESERVER_BIN=/usr/lib/wine/wineserver32
        unset WINELOADER
        # Without it Wine makes a 64-bit prefix, which the 32-bit server refuses.
        export WINESERVER=$WINESERVER_BIN WINEARCH=win32
    fi
    export WINEPREFIX="$bdir/wineprefix"
    program="$bdir/Burnwright.exe"
    [ "$bits" = 64 ] && program="$bdir/Burnwright64.exe"
    return 0
}

# configure_and_build 32|64 [TARGET...]: configure that build, then build the targets (default: all).
configure_and_build() {
    local bits=$1 dir=$build toolchain=$root/toolchain-mingw32.cmake
    shift
    if [ "$bits" = 64 ]; then dir=$build64; toolchain=$root/toolchain-mingw64.cmake; fi
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
          -DBURNWRIGHT_TESTS=ON >/dev/null
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
}

# The first start of a prefix takes a while; do it once, before anything is timed.
# Needs use_wine first.
prepare_wine_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    # A prefix of the other architecture (made before WINEARCH was set) is made again.
    if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
        echo "The Wine prefix in $WINEPREFIX is not $WINEARCH: making it again."
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Preparing the $bits-bit Wine prefix in $WINEPREFIX ..."
        # A 64-bit prefix made without 32-bit Wine complains once about rundll32: harmless.
        timeout 600 "$WINE" wineboot -i >/dev/null 2>&1 || true
        timeout 120 "$WINESERVER_BIN" -w || true
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
