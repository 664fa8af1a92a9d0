#!/usr/bin/env bash
# Checks the Debian package as a user gets it: builds it with CPack, checks its fields and its
# files, and then - in CI (CI=true), or when PICWND_PACKAGE_INSTALL=1 asks for it, since it changes
# the machine - installs it with apt, runs the installed /usr/bin/picwnd once on a private X
# server with a window manager (show a picture, move it with a key, end it with X, exit code 0),
# and removes the package again.
#   scripts/package-check.sh BUILD_DIR [CPACK]
# CTest runs it as the test "package".
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package-check.sh BUILD_DIR [CPACK]}" && pwd)
cpack=${2:-cpack}
out=$build/package-check

fail() {
    echo "package-check: $*" >&2
    exit 1
}

# --- The package -------------------------------------------------------------------------------

rm -rf "$out"
mkdir -p "$out"
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log" >&2
    fail "cpack failed"
fi
shopt -s nullglob
debs=("$out"/picwnd_*.deb)
shopt -u nullglob
[[ ${#debs[@]} -eq 1 ]] || fail "expected one picwnd_*.deb in $out, found ${#debs[@]}"
deb=${debs[0]}
echo "package-check: built $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == picwnd ]] || fail "Package is '$(field Package)'"
[[ $(field Section) == graphics ]] || fail "Section is '$(field Section)'"
[[ $(field Maintainer) == *"<"*"@"*">" ]] || fail "Maintainer '$(field Maintainer)' has no address"
[[ -n $(field Description) ]] || fail "no Description"
# The libraries come from dpkg-shlibdeps; a package without them would install and not start.
depends=$(field Depends)
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-image-formats-plugins; do
    [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] ||
        fail "Depends lacks $package: $depends"
done

files=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
for file in ./usr/bin/picwnd \
    ./usr/share/applications/picwnd.desktop \
    ./usr/share/icons/hicolor/scalable/apps/picwnd.svg \
    ./usr/share/man/man1/picwnd.1.gz; do
    grep -qxF "$file" <<<"$files" || fail "the package lacks $file"
done
# Nothing of the build tree (tests, build paths) may end up in the package.
unexpected=$(grep -v -e '/$' -e '^./usr/bin/picwnd$' -e '^./usr/share/' <<<"$files" || true)
[[ -z "$unexpected" ]] || fail "unexpected files in the package: $unexpected"
# A distribution's program finds its libraries where the system keeps them, not by a search path
# of its own, and carries no debugging symbols.
unpacked=$out/unpacked
dpkg-deb --extract "$deb" "$unpacked"
if readelf --dynamic "$unpacked/usr/bin/picwnd" | grep -qE 'RPATH|RUNPATH'; then
    fail "/usr/bin/picwnd has a library search path: $(readelf --dynamic "$unpacked/usr/bin/picwnd" |
        grep -E 'RPATH|RUNPATH')"
fi
if readelf --sections "$unpacked/usr/bin/picwnd" | grep -qF .debug_info; then
    fail "/usr/bin/picwnd is not stripped"
fi
echo "package-check: fields and files are right"

if [[ "${CI:-}" != true && "${PICWND_PACKAGE_INSTALL:-}" != 1 ]]; then
    echo "package-check: not installing it here (CI=true or PICWND_PACKAGE_INSTALL=1 does)"
    exit 0
fi

# --- Installed, on a private X server ----------------------------------------------------------

for tool in apt-get Xvfb openbox xdotool xprop; do
    command -v "$tool" >/dev/null || fail "needs $tool (scripts/deps.sh test installs it)"
done
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo -n)
status() { dpkg-query -W -f='${db:Status-Status}' picwnd 2>/dev/null || true; }
[[ $(status) != installed ]] ||
    fail "picwnd is installed on this machine already; this check would replace and then remove it"

work=$(mktemp -d)
installed=false
xvfb= wm= picwnd=
cleanup() {
    local pid
    for pid in $picwnd $wm $xvfb; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if $installed; then
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq picwnd >/dev/null 2>&1 ||
            true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The package sits in the build tree, which apt's own unprivileged user may not be able to read.
cp "$deb" "$work/"
chmod a+rx "$work"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "$work/$(basename "$deb")" \
    >"$work/apt-install.log" 2>&1 || {
    cat "$work/apt-install.log" >&2
    fail "apt-get install failed"
}
installed=true
[[ $(status) == installed ]] || fail "apt-get install did not install picwnd"
[[ $(dpkg-query -S /usr/bin/picwnd) == "picwnd: /usr/bin/picwnd" ]] ||
    fail "/usr/bin/picwnd is not the package's"
echo "package-check: installed; running /usr/bin/picwnd"

# A display of its own, picked by the server among the free ones.
exec 3< <(exec Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp 2>"$work/xvfb.log")
xvfb=$!
read -r -t 20 display <&3 || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$display
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
await() { # await SECONDS WHAT COMMAND...: runs COMMAND until it succeeds
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what"
        sleep 0.05
    done
}
wmRunning() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
await 10 "openbox" wmRunning

# Started the way a file manager starts it from the desktop entry, with a search path that holds
# the installed program only (the build tree has a picwnd of its own).
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/picwnd.desktop)
read -r -a command <<<"$exec_line"
picture=$work/picture.png
cp "$top/data/sample.png" "$picture"
for i in "${!command[@]}"; do
    [[ ${command[i]} != %f ]] || command[i]=$picture
done
printf '<x> 40 </x>\n<y> 30 </y>\n' >"$work/config.xml"
(cd "$work" && PATH=/usr/bin:/bin exec "${command[@]}" >"$work/stdout" 2>"$work/stderr") &
picwnd=$!

window=$(timeout 10 xdotool search --sync --onlyvisible --pid "$picwnd" --class picwnd | head -n 1) ||
    true
[[ -n "$window" ]] || fail "no window was mapped within 10 s; stderr: $(cat "$work/stderr")"
[[ $(readlink "/proc/$picwnd/exe") == /usr/bin/picwnd ]] ||
    fail "the running program is $(readlink "/proc/$picwnd/exe"), not /usr/bin/picwnd"

at() { # at X Y: the window's top-left corner is there
    local X Y
    eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^[XY]=')"
    [[ $X == "$1" && $Y == "$2" ]]
}
await 10 "the window at 40,30 from config.xml" at 40 30

timeout 10 xdotool windowactivate --sync "$window" 2>"$work/xdotool.log" ||
    fail "could not give the window the focus: $(cat "$work/xdotool.log")"
xdotool key --clearmodifiers l
await 10 "the window to move 20 pixels right after L" at 60 30

xdotool key --clearmodifiers x
deadline=$((SECONDS + 10))
while kill -0 "$picwnd" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "picwnd did not end within 10 s of X"
    sleep 0.05
done
code=0
wait "$picwnd" || code=$?
picwnd=
[[ $code -eq 0 ]] || fail "picwnd ended with exit code $code; stderr: $(cat "$work/stderr")"
[[ $(cat "$work/stdout") == "40 30" ]] || fail "standard output was '$(cat "$work/stdout")'"
if grep -q '^picwnd:' "$work/stderr"; then
    fail "picwnd reported: $(cat "$work/stderr")"
fi
echo "package-check: shown at 40,30, moved by L, ended by X with exit code 0"

# Leave the machine as it was.
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq picwnd >"$work/apt-remove.log" 2>&1 || {
    cat "$work/apt-remove.log" >&2
    fail "apt-get remove failed"
}
installed=false
[[ $(status) != installed && ! -e /usr/bin/picwnd ]] || fail "picwnd is still installed"
echo "package-check: removed again"
