#!/bin/sh
# Runs one test program in a home of its own:
#   run-isolated.sh PROGRAM [ARGUMENTS...]
# A fresh folder in $TMPDIR (else /tmp) holds home/ (HOME, with
# XDG_DATA_HOME=home/.local/share, XDG_CONFIG_HOME and XDG_CACHE_HOME),
# runtime/ (XDG_RUNTIME_DIR) and tmp/ (TMPDIR), so no test reaches the real
# home or trash. Afterwards the folder is removed whatever it holds (names
# that are not UTF-8, read-only folders), and the test's exit status is
# passed on.
#
# The test ends when this shell is told to end: TERM, INT and HUP are passed
# on to it as TERM. CTest's timeout kills the whole process tree with SIGKILL,
# which no script can catch: a watcher outside the tree removes the folder
# once this shell is gone.
#
# Tests leave nothing behind: a test that leaves anything in its TMPDIR
# fails, naming what it left (VZ_TEST_LEFTOVERS=warn only names it).
set -u

if [ $# -lt 1 ]; then
    echo "usage: run-isolated.sh PROGRAM [ARGUMENTS...]" >&2
    exit 2
fi

outer_tmp=${TMPDIR:-/tmp}
case $outer_tmp in /*) ;; *) outer_tmp=/tmp ;; esac
root=$(mktemp -d "$outer_tmp/vz-isolated.XXXXXX") || exit 1

remove_root() {
    # Search and write permission first (links are not followed), then the tree.
    chmod -R u+rwx -- "$root" 2>/dev/null
    rm -rf -- "$root"
}

# The watcher: reparented away from this shell, so a kill of the process
# tree does not reach it; it only acts once this shell has ended.
wrapper=$$
( (
    trap '' INT TERM HUP
    while kill -0 "$wrapper" 2>/dev/null; do sleep 1; done
    if [ -e "$root" ]; then remove_root; fi
) </dev/null >/dev/null 2>&1 & )

# An unprivileged child of a test running as root still walks into its
# folders (the tests open the ones it needs to it).
chmod 0755 "$root"
mkdir -m 0755 "$root/home" "$root/home/.config" "$root/home/.cache" &&
    mkdir -p "$root/home/.local/share" &&
    mkdir -m 0700 "$root/runtime" &&
    mkdir -m 1777 "$root/tmp" || {
    remove_root
    exit 1
}

HOME="$root/home"
XDG_DATA_HOME="$root/home/.local/share"
XDG_CONFIG_HOME="$root/home/.config"
XDG_CACHE_HOME="$root/home/.cache"
XDG_RUNTIME_DIR="$root/runtime"
TMPDIR="$root/tmp"
export HOME XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR TMPDIR

# In the background so a signal to this shell interrupts the wait below and
# can be passed on; a background command would start with INT and QUIT
# ignored, which env sets back. INT is passed on as TERM.
env --default-signal=INT,QUIT "$@" &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' INT TERM HUP
status=0
wait "$child" || status=$?
# A trapped signal ends the wait early: wait again for the test's own status.
while kill -0 "$child" 2>/dev/null; do
    status=0
    wait "$child" || status=$?
done
trap - INT TERM HUP

left=$(ls -A "$root/tmp" 2>/dev/null)
if [ -n "$left" ]; then
    echo "run-isolated: $1 left in its TMPDIR:" >&2
    printf '%s\n' "$left" | sed 's/^/  /' >&2
    if [ "${VZ_TEST_LEFTOVERS:-fail}" != warn ] && [ "$status" -eq 0 ]; then
        status=1
    fi
fi
remove_root
exit "$status"
