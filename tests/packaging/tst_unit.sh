#!/usr/bin/env bash
# Installs the checkmode component with `cmake --install` into a scratch root
# and has systemd check the unit there as it would load it on the board: its
# program and environment file must be where it names them.
#   tst_unit.sh BUILD_DIR
set -uo pipefail
build=$1

command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze"; exit 77; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --component checkmode >/dev/null || exit 1

unit=$(find "$root" -name checkmode.service)
[ -n "$unit" ] || { echo "FAIL: no checkmode.service installed"; exit 1; }
unit_dir=$(dirname "$unit")
# The targets the unit is ordered against come from the host's systemd.
cp -an /lib/systemd/system/. "$unit_dir/"

failed=0
if ! findings=$(systemd-analyze verify --root="$root" "$unit" 2>&1) || [ -n "$findings" ]; then
    echo "FAIL: systemd-analyze verify: $findings"
    failed=1
fi
environment_file=$(sed -n 's/^EnvironmentFile=//p' "$unit")
if [ ! -f "$root$environment_file" ]; then
    echo "FAIL: the unit's environment file $environment_file is not installed"
    failed=1
fi
exit $failed
