#!/bin/sh
# Installs the Debian packages that building and testing korvel need, and
# only those that are missing. Safe to run again and again.
set -eu

# dpkg-dev: dpkg-shlibdeps and dpkg-buildflags, for make deb and its test.
# bash, zsh, fish: the shells whose key bindings the tests type into.
packages="make cmake ninja-build g++ pkg-config libncurses-dev libgtest-dev libgmock-dev libvterm-dev dpkg-dev"
packages="$packages bash zsh fish"
case "${1:-}" in
    --fuzz) packages="$packages clang libclang-rt-14-dev" ;;
    --bench) packages="$packages python3 fzf" ;;
esac

missing=""
for p in $packages; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "bootstrap: missing packages:$missing (run as root or install sudo)" >&2
    exit 1
fi

echo "bootstrap: installing$missing" >&2
export DEBIAN_FRONTEND=noninteractive
# A fresh machine's package lists may be empty.
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
