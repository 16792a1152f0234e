#!/usr/bin/env bash
# Prints a VNC display number (port 5900 + N) that nothing listens on yet:
# boardsim shares the host's network, where other sessions may serve theirs.
for candidate in $(shuf -i 10-99); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$((5900 + candidate))") 2>/dev/null; then
        echo "$candidate"
        exit 0
    fi
done
echo "free-vnc-display: every display from 10 to 99 is taken" >&2
exit 1
