#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program's
# dialogue with its answers on a pipe and no display.
set -uo pipefail
build=$1

fail()
{
    echo "FAIL: $*" >&2
    exit 1
}

prefix=$(mktemp -d "${TMPDIR:-/tmp}/checkercube-prefix.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" || fail "cmake --install into $prefix failed"

# GNUInstallDirs: executables in bin, documentation in share/doc/<project>
binary=$prefix/bin/checkercube
[ -x "$binary" ] || fail "expected an executable $binary; installed: $(cd "$prefix" && find . | sort | tr '\n' ' ')"
readme=$prefix/share/doc/checkercube/README.md
[ -f "$readme" ] || fail "expected $readme; installed: $(cd "$prefix" && find . | sort | tr '\n' ' ')"
cmp -s "$readme" "$(dirname "$0")/../../README.md" || fail "$readme differs from the README"

out=$prefix/stdout
err=$prefix/stderr
printf '50\n60\n300\n' | env -u DISPLAY timeout 30 "$binary" >"$out" 2>"$err"
rc=$?

expected='Please enter the x-position(1-500 max): Please enter the y-position(1-200 max): Please enter window size(100-500): '
observed=$(cat "$out"; echo x)
observed=${observed%x}
[ "$observed" = "$expected" ] ||
    fail "stdout: expected $(printf %q "$expected") observed $(printf %q "$observed")"
# GLUT reports the missing display itself and exits; a signal or a hang is a crash
[ "$rc" -ne 0 ] || fail "expected a non-zero status without a display, observed 0"
[ "$rc" -lt 124 ] || fail "expected GLUT's own exit, observed status $rc (timeout or signal)"
grep -q 'failed to open display' "$err" ||
    fail "stderr: expected GLUT's 'failed to open display', observed $(printf %q "$(cat "$err")")"
echo "installed tree and its dialogue ok (status $rc: $(cat "$err"))"
