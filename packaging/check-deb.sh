#!/bin/sh
# Builds the Debian package from an already built tree into a temporary
# folder and inspects it with dpkg-deb, without installing it: the control
# fields, and the binary, manual page, documentation and shell scripts in
# place.
#
#   packaging/check-deb.sh BUILD_DIR VERSION
set -eu

[ $# -eq 2 ] || { echo "usage: check-deb.sh BUILD_DIR VERSION" >&2; exit 2; }
build=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d "${TMPDIR:-/tmp}/korvel-deb-check.XXXXXX")
trap 'rm -rf "$out"' EXIT

failures=0
fail() {
    echo "check-deb: $*" >&2
    failures=$((failures + 1))
}

deb=$(sh "$here/make-deb.sh" "$build" "$version" "$out")
[ -f "$deb" ] || { echo "check-deb: make-deb.sh wrote no package" >&2; exit 1; }

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = korvel ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
arch=$(dpkg --print-architecture)
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
case "$(field Maintainer)" in
    *?' <'*@*'>') ;;
    *) fail "Maintainer '$(field Maintainer)' is not 'name <address>'" ;;
esac
case "$(field Installed-Size)" in
    '' | *[!0-9]*) fail "Installed-Size '$(field Installed-Size)' is not a number" ;;
esac
depends=$(field Depends)
for library in libc6 libncursesw6; do
    case "$depends" in
        *"$library "* | *"$library," | *"$library") ;;
        *) fail "Depends '$depends' names no $library" ;;
    esac
done
[ -n "$(field Description)" ] || fail "no Description"

# Owner, mode and path of every member.
dpkg-deb --contents "$deb" | awk '{ print $2, $1, $6 }' >"$out/contents"
expect() { # mode path
    grep -qx "root/root $1 $2" "$out/contents" || fail "no $2 with mode $1 owned by root"
}
expect -rwxr-xr-x ./usr/bin/korvel
expect -rw-r--r-- ./usr/share/man/man1/korvel.1.gz
expect -rw-r--r-- ./usr/share/doc/korvel/copyright
for shell in bash zsh fish; do
    expect -rw-r--r-- ./usr/share/korvel/korvel.$shell
done
grep -q ' \./usr/share/doc/korvel/README\.md\(\.gz\)\?$' "$out/contents" ||
    fail "no README in /usr/share/doc/korvel"
grep -v '^root/root ' "$out/contents" | sed 's/^/not owned by root: /' | grep . >&2 &&
    fail "members not owned by root"
grep -v ' \./\(usr/\)\?$' "$out/contents" | grep -v ' \./usr/\(bin\|share\|lib\|libexec\)/' |
    sed 's/^/outside the usual folders: /' | grep . >&2 && fail "members outside /usr"

# The manual page unpacks to the page itself.
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/man/man1/korvel.1.gz | gzip -dc |
    grep -q '^\.TH KORVEL 1' || fail "korvel.1.gz is not the manual page"

# The scripts installed are the ones the binary prints for --shell.
dpkg-deb --extract "$deb" "$out/root"
for shell in bash zsh fish; do
    "$out/root/usr/bin/korvel" --shell "$shell" | cmp -s - "$out/root/usr/share/korvel/korvel.$shell" ||
        fail "korvel --shell $shell is not the installed korvel.$shell"
done

[ "$failures" -eq 0 ] || exit 1
echo "check-deb: $(basename "$deb") is sound"
