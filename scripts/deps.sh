#!/usr/bin/env bash
# Installs the Debian packages that picwnd needs, for the roles named on the command line:
#   build    compiler, CMake, Qt 6, and the X libraries that set the window's shape
#   test     a real X server, window manager and compositor, the X libraries the tests use, a
#            headless Wayland compositor with Qt's Wayland backend, GNU time (peak memory), the
#            checkers of the desktop entry and the manual page, and strace (the check that
#            nothing is written)
#   package  what CPack needs to make the Debian package (dpkg-shlibdeps works out its dependencies)
#   harden   clang with its libFuzzer and sanitizer runtimes, for the fuzz build
#   run      a virtual X display and a screenshot tool, for machines without a display
#   bench    a virtual X display and the programs the benchmark compares picwnd with
# Packages already installed are not touched; nothing is installed when all are there.
set -euo pipefail

declare -A packages=(
    [build]="g++ cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev qt6-image-formats-plugins libxcb1-dev libxcb-shape0-dev libxcb-xtest0-dev"
    [test]="xvfb openbox xcompmgr x11-utils x11-xserver-utils xdotool weston qt6-wayland time libxcb1-dev libxcb-shape0-dev libxcb-xtest0-dev libxcb-image0-dev desktop-file-utils groff-base mandoc strace"
    [package]="dpkg-dev file"
    [harden]="clang libclang-rt-14-dev"
    [run]="xvfb x11-utils x11-xserver-utils imagemagick"
    [bench]="xvfb feh xteddy"
)

wanted=()
for role in "$@"; do
    [[ -n "${packages[$role]:-}" ]] || { echo "deps.sh: unknown role '$role'" >&2; exit 2; }
    read -r -a list <<<"${packages[$role]}"
    wanted+=("${list[@]}")
done

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [[ "$status" == installed ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
