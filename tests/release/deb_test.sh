#!/usr/bin/env bash
# Builds the Debian package with cpack and inspects it with dpkg-deb: name,
# version, architecture, the GLUT dependency, the binary and the README.
set -uo pipefail
build=$1
version=$2
binary=$3

fail()
{
    echo "FAIL: $*" >&2
    exit 1
}

out=$(mktemp -d "${TMPDIR:-/tmp}/checkercube-deb.XXXXXX")
trap 'rm -rf "$out"' EXIT

(cd "$build" && timeout 120 cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$out/cpack.log")"
arch=$(dpkg --print-architecture)
deb=$out/checkercube_${version}_${arch}.deb
[ -f "$deb" ] || fail "expected $deb, observed: $(ls "$out")"

field()
{
    dpkg-deb -f "$deb" "$1"
}
for f in Package:checkercube Version:"$version" Architecture:"$arch"; do
    observed=$(field "${f%%:*}")
    [ "$observed" = "${f#*:}" ] || fail "${f%%:*}: expected ${f#*:} observed $observed"
done
[ -n "$(field Maintainer)" ] || fail "no Maintainer in: $(dpkg-deb -I "$deb")"
[ -n "$(field Description | head -n 1)" ] || fail "no short Description in: $(dpkg-deb -I "$deb")"

# the package that owns the GLUT library the binary is linked with
lib=$(ldd "$binary" | awk '/libglut/ { print $3; exit }')
[ -n "$lib" ] || fail "$binary is not linked with libglut: $(ldd "$binary")"
real=$(readlink -f "$lib")
owner=$(dpkg -S "$real" 2>/dev/null || dpkg -S "${real#/usr}" 2>/dev/null || dpkg -S "/usr$real")
glut_package=${owner%%:*}
[ -n "$glut_package" ] || fail "no package owns $real"
depends=$(field Depends)
tr ',' '\n' <<<"$depends" | awk '{ print $1 }' | grep -qx "$glut_package" ||
    fail "Depends: expected $glut_package (owner of $real) observed '$depends'"

contents=$(dpkg-deb -c "$deb")
grep -Eq '^-rwxr-xr-x .* \./usr/bin/checkercube$' <<<"$contents" ||
    fail "expected an executable ./usr/bin/checkercube, observed: $contents"
grep -Eq ' \./usr/share/doc/checkercube/README\.md$' <<<"$contents" ||
    fail "expected ./usr/share/doc/checkercube/README.md, observed: $contents"
echo "$(basename "$deb") ok: Depends: $depends"
