#!/bin/sh
# Runs a test executable as the user nobody, so that the permission cases mean something:
# root may read and write everything. For anyone else the plain entry runs them: skipped.
set -u
[ "$(id -u)" = 0 ] || { echo "not root: the plain entry runs the permission cases; skipped"; exit 77; }
run() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
if ! id nobody >/dev/null 2>&1 || ! getent group nogroup >/dev/null; then
    echo "FAIL: there is no user nobody or no group nogroup to run the permission cases as." >&2
    exit 1
fi
if ! run test -x "$1"; then
    echo "FAIL: user nobody cannot reach $1. Every folder on the build folder's path must be" >&2
    echo "searchable by others (chmod o+x), or the permission cases never run unprivileged." >&2
    exit 1
fi
tmp="$(mktemp -d /tmp/bildfang-nobody.XXXXXX)" && trap 'rm -rf "$tmp"' EXIT && chown nobody:nogroup "$tmp" && cd "$tmp" || exit 1
run env -u XDG_RUNTIME_DIR TMPDIR="$tmp" HOME="$tmp" "$@"
