#!/usr/bin/env bash
# Creates, once, a private 32-bit Wine prefix for running and testing Tickora,
# and reuses it afterwards (a second call returns at once).
#
#   scripts/wineprefix.sh <prefix-dir> [--desktop WxH|off]
#
# Set-up:
#  - a win32 prefix, made without the Mono/Gecko prompts;
#  - Wine's own bitmap "MS Sans Serif" (package fonts-wine) copied into the
#    prefix: Debian's Wine 8 does not load fonts from /usr/share/wine/fonts,
#    and the fontconfig stand-in it falls back to has other metrics, so
#    dialogs would not lay out as on Windows (dialog base units 6x13);
#  - a Wine virtual desktop, 1024x768 unless told otherwise. Without a window
#    manager every closing captioned window stalls Wine ~2 s; in the desktop
#    it takes milliseconds, captions are drawn, and at the size of the test
#    X screen the desktop sits at 0,0 so Windows screen coordinates are X
#    root coordinates. `--desktop` changes the size of an existing prefix in
#    place, `--desktop off` removes it; without the option the prefix keeps
#    what it has.
#
# A stamp file in the prefix records the finished set-up (script version,
# Wine version, desktop); anything else in it means set-up runs again.
set -euo pipefail

readonly SETUP_VERSION=2
readonly DEFAULT_DESKTOP=1024x768
readonly WINE_FONTS=/usr/share/wine/fonts

die() {
    printf 'wineprefix: %s\n' "$*" >&2
    exit 1
}

usage() {
    printf 'usage: %s <prefix-dir> [--desktop WxH|off]\n' "${0##*/}" >&2
    exit 2
}

prefix=
desktop=
while (($#)); do
    case $1 in
        --desktop) (($# >= 2)) || usage; desktop=$2; shift 2 ;;
        --desktop=*) desktop=${1#--desktop=}; shift ;;
        -h | --help) usage ;;
        -*) usage ;;
        *) [[ -z $prefix ]] || usage; prefix=$1; shift ;;
    esac
done
[[ -n $prefix ]] || usage
if [[ -n $desktop && $desktop != off && ! $desktop =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]]; then
    die "--desktop wants WxH (e.g. 1024x768) or off, not '$desktop'"
fi

# Checked before anything is created: the user's own prefix is never touched.
prefix=$(realpath -m -- "$prefix")
[[ $prefix != "$(realpath -m -- ~/.wine)" ]] || die "refusing to use ~/.wine; give a private directory"
mkdir -p "$prefix"

stamp=$prefix/.tickora-prefix
wine_version=$(wine --version 2>/dev/null) || die "wine not found (packages wine, wine32:i386)"

stamp_value() { sed -n "s/^$1=//p" "$stamp" 2>/dev/null || true; }

wanted_stamp() {
    local d=$desktop
    [[ -n $d ]] || d=$(stamp_value desktop)
    [[ -n $d ]] || d=$DEFAULT_DESKTOP
    printf 'version=%s\nwine=%s\narch=%s\ndesktop=%s\n' "$SETUP_VERSION" "$wine_version" "${WINEARCH:-win32}" "$d"
}

# The common case: already set up as wanted.
if [[ -f $stamp && "$(cat "$stamp")" == "$(wanted_stamp)" ]]; then
    exit 0
fi

# Parallel test runners may all ask for the prefix at once: one sets it up.
exec 9>"$prefix/.tickora-prefix.lock"
flock -w 300 9 || die "timed out after 300s waiting for another set-up of $prefix"
if [[ -f $stamp && "$(cat "$stamp")" == "$(wanted_stamp)" ]]; then
    exit 0
fi
# A directory with other things in it is not ours to turn into a prefix.
if [[ ! -f $prefix/system.reg ]]; then
    for entry in "$prefix"/* "$prefix"/.[!.]*; do
        [[ -e $entry ]] || continue
        case ${entry##*/} in .tickora-prefix*) ;; *) die "$prefix is neither empty nor a Wine prefix" ;; esac
    done
fi
want=$(wanted_stamp)
want_desktop=$(sed -n 's/^desktop=//p' <<<"$want")

[[ -f $WINE_FONTS/sserife.fon ]] || die "$WINE_FONTS/sserife.fon missing (package fonts-wine)"

log=$prefix/.tickora-prefix.log
: >"$log"
fail() {
    printf 'wineprefix: %s; last lines of %s:\n' "$*" "$log" >&2
    tail -n 20 "$log" >&2
    exit 1
}

# win64 only where scripts/winearch.sh found that i386 code cannot run.
export WINEPREFIX=$prefix WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all
# No .NET or HTML engine: the program needs neither, and their installers
# would prompt.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Set-up opens no window on the caller's screen. Debian 13's 64-bit Wine aborts at its start
# whenever TMPDIR is set (see scripts/run-env.sh).
unset DISPLAY WAYLAND_DISPLAY TMPDIR

start=$SECONDS
if [[ ! -f $prefix/system.reg ]]; then
    timeout 300 wineboot -i >>"$log" 2>&1 || fail "creating the prefix failed"
elif [[ $(stamp_value version) != "$SETUP_VERSION" || $(stamp_value wine) != "$wine_version" ]]; then
    # Only a new desktop size needs no update of the prefix itself.
    timeout 300 wineboot -u >>"$log" 2>&1 || fail "updating the prefix failed"
fi

fonts_dir=$prefix/drive_c/windows/Fonts
mkdir -p "$fonts_dir"
cp -f "$WINE_FONTS"/*.fon "$WINE_FONTS"/*.ttf "$fonts_dir"/

reg=$prefix/drive_c/tickora-prefix.reg
{
    printf 'REGEDIT4\n\n'
    # Kept in the prefix too, so that an automatic update after a Wine
    # upgrade does not prompt either.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]\n"mscoree"=""\n"mshtml"=""\n\n'
    # The system beep on, as Windows has it, so that MessageBeep rings the X bell.
    printf '[HKEY_CURRENT_USER\\Control Panel\\Sound]\n"Beep"="Yes"\n\n'
    if [[ $want_desktop == off ]]; then
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"=-\n\n'
    else
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"="Default"\n\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="%s"\n\n' "$want_desktop"
    fi
} >"$reg"
timeout 120 wine regedit /S 'C:\tickora-prefix.reg' >>"$log" 2>&1 || fail "writing the registry failed"
rm -f "$reg"

# The registry reaches the disk only when the server has written it out.
timeout 120 wineserver -w >>"$log" 2>&1 || fail "wineserver did not finish within 120s"
# Prints a value of one registry key as saved in user.reg ("" if absent).
saved_value() {
    awk -v key="[$1]" -v name="\"$2\"=" '
        /^\[/ { inkey = (substr($0, 1, length(key)) == key) }
        inkey && index($0, name) == 1 { print substr($0, length(name) + 1) }
    ' "$prefix/user.reg"
}
explorer_desktop=$(saved_value 'Software\\\\Wine\\\\Explorer' Desktop)
desktop_size=$(saved_value 'Software\\\\Wine\\\\Explorer\\\\Desktops' Default)
if [[ $want_desktop == off ]]; then
    [[ -z $explorer_desktop ]] || fail "the virtual desktop is still set"
else
    [[ $explorer_desktop == '"Default"' && $desktop_size == "\"$want_desktop\"" ]] ||
        fail "the virtual desktop was not saved (Desktop=$explorer_desktop, size=$desktop_size)"
fi

printf '%s\n' "$want" >"$stamp.tmp"
mv -f "$stamp.tmp" "$stamp"
printf 'wineprefix: %s ready in %ds (desktop %s)\n' "$prefix" "$((SECONDS - start))" "$want_desktop" >&2
