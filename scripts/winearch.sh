# shell=bash, sourced
# Chooses how Wine runs on this host. Some 64-bit-only kernels refuse to execute i386 code
# (execve fails with ENOEXEC), so 32-bit Wine cannot start there at all. On such a host the
# same sources are built for x86-64 and run under wine64: tests and benchmarks still run the
# program's real code, though not its PE32 build. scripts/host-runs-i386 answers the question
# for every part alike; TICKORA_NO_I386=1 makes a host that runs i386 code take this path too.
#
#   source scripts/winearch.sh
#   winearch_select build/win32 [target...]   # sets WINE_BUILD_DIR, exports WINEARCH (and PATH,
#                                             # WINELOADER); builds those targets, or all
#   prefix=$(winearch_prefix build/wineprefix)  # after it: the prefix for that Wine

host_runs_i386() { "$(dirname -- "${BASH_SOURCE[0]}")/host-runs-i386"; }

winearch_select() {
    local win32_dir=${1:?usage: winearch_select <win32-build-dir> [target...]}
    shift
    local -a targets=()
    (($# == 0)) || targets=(--target "$@")
    if host_runs_i386; then
        WINE_BUILD_DIR=$win32_dir
        export WINEARCH=win32
        return 0
    fi
    if [[ ${TICKORA_NO_I386:-} == 1 ]]; then
        printf 'note: TICKORA_NO_I386=1: running the x86-64 build under wine64\n' >&2
    else
        printf 'note: this host cannot execute i386 code; running the x86-64 build under wine64\n' >&2
    fi
    WINE_BUILD_DIR=${win32_dir/%win32/win64}
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    export PATH=$PWD/scripts/wine64:$PATH
    if [[ ! -f $WINE_BUILD_DIR/CMakeCache.txt ]]; then
        cmake -S . -B "$WINE_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
            -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$WINE_BUILD_DIR" -j2 "${targets[@]}" -- --no-print-directory
}

# A 64-bit prefix cannot be a 32-bit one: the x86-64 path gets a directory of its own, so that
# a host that runs i386 code can take both paths (TICKORA_NO_I386=1) in one tree.
winearch_prefix() {
    if [[ ${WINEARCH:-win32} == win64 ]]; then printf '%s64\n' "$1"; else printf '%s\n' "$1"; fi
}
