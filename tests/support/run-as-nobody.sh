#!/bin/sh
# Runs a test executable as the user nobody, so that the cases that depend on permissions
# mean something: root may read and write everything. Started by anyone else, the plain
# entry of the executable already runs them, so this one is skipped.
set -u
exe="$1"
shift
if [ "$(id -u)" != 0 ]; then
    echo "not root: the plain entry runs the permission cases; skipped"
    exit 77
fi

run() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

if ! id nobody >/dev/null 2>&1 || ! getent group nogroup >/dev/null; then
    echo "FAIL: there is no user nobody or no group nogroup to run the permission cases as." >&2
    exit 1
fi

if ! run test -x "$exe"; then
    echo "FAIL: user nobody cannot reach $exe." >&2
    echo "Every folder on the build folder's path must be searchable by others (chmod o+x)," >&2
    echo "or the permission cases never run as an ordinary user." >&2
    exit 1
fi

tmp="$(mktemp -d /tmp/bildfang-nobody.XXXXXX)" || exit 1
trap 'rm -rf "$tmp"' EXIT
chown nobody:nogroup "$tmp" || exit 1
cd "$tmp" || exit 1
run env -u XDG_RUNTIME_DIR TMPDIR="$tmp" HOME="$tmp" "$exe" "$@"
