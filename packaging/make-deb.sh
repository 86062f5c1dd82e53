#!/bin/sh
# Builds korvel's Debian binary package from a configured and built CMake
# tree. The package holds what the install rules install under /usr, so
# anything added to them later (shell integration, completions) comes along
# without a change here; on top of that it gzips the manual pages, adds the
# copyright file and compresses documentation over 4 kB, as Debian's own
# packaging helpers would.
#
#   packaging/make-deb.sh BUILD_DIR VERSION OUT_DIR
#
# Prints the path of the .deb written to OUT_DIR. Needs dpkg-dev for
# dpkg-shlibdeps, which computes Depends from the libraries linked.
# DEBFULLNAME and DEBEMAIL name the maintainer, as for Debian's tools.
set -eu

[ $# -eq 3 ] || { echo "usage: make-deb.sh BUILD_DIR VERSION OUT_DIR" >&2; exit 2; }
build=$1
version=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)
arch=$(dpkg --print-architecture)
deb=korvel_${version}_$arch.deb

work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Laid out as a Debian source tree would be, which dpkg-shlibdeps expects.
stage=$work/debian/korvel
umask 022

# Same bytes from the same sources: gzip -n leaves names and times out, and
# dpkg-deb clamps the files' times to this.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

DESTDIR=$stage cmake --install "$build" --prefix /usr --strip >/dev/null

if [ -d "$stage/usr/share/man" ]; then
    find "$stage/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} +
fi
doc=$stage/usr/share/doc/korvel
mkdir -p "$doc"
cp "$here/copyright" "$doc/copyright"
find "$doc" -type f -size +4k ! -name copyright ! -name '*.gz' -exec gzip -9n {} +

# Depends, from the libraries that the ELF files among the executables link.
# dpkg-shlibdeps wants a source tree's debian/control, and finds the
# package's root by its DEBIAN folder.
printf 'Source: korvel\n\nPackage: korvel\nArchitecture: any\n' >"$work/debian/control"
mkdir "$stage/DEBIAN"
(cd "$work" && find debian/korvel -type f -perm -u+x | LC_ALL=C sort) >"$work/executables"
: >"$work/binaries"
while IFS= read -r file; do
    if [ "$(head -c 4 "$work/$file" | od -An -c | tr -d ' ')" = '177ELF' ]; then
        printf '%s\0' "$file" >>"$work/binaries"
    fi
done <"$work/executables"
depends=""
if [ -s "$work/binaries" ]; then
    depends=$(cd "$work" && xargs -0 dpkg-shlibdeps -O <binaries | sed -n 's/^shlibs:Depends=//p')
fi

installed_size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
{
    echo "Package: korvel"
    echo "Version: $version"
    echo "Architecture: $arch"
    echo "Maintainer: ${DEBFULLNAME:-korvel maintainers} <${DEBEMAIL:-korvel@localhost}>"
    echo "Installed-Size: $installed_size"
    [ -n "$depends" ] && echo "Depends: $depends"
    echo "Section: utils"
    echo "Priority: optional"
    echo "Description: browse, search and pick from a list of paths as a tree"
    echo " korvel is a full-screen terminal viewer for lists of paths: it reads"
    echo " newline-separated paths from a file or standard input, sorts them and"
    echo " shows them as a tree that you fold, walk with vi keys, arrows and the"
    echo " mouse, and search with regular expressions. The path you pick can go to"
    echo " the clipboard, into a shell command bound to a key, or to standard"
    echo " output, so korvel also works as a picker at the end of a pipeline."
} >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"

mkdir -p "$out"
dpkg-deb --root-owner-group --build "$stage" "$out/$deb" >/dev/null
echo "$out/$deb"
