#!/usr/bin/env bash
# Runs INSIDE boardsim: starts the check mode as checkmode.service starts it
# on the board, with the unit's command line, its environment file and its
# runtime directory, except that Qt draws through its vnc platform (the same
# framebuffer screen code as linuxfb, served on a TCP port) instead of on
# /dev/fb0, which a simulated board cannot offer.
#
#   boardsim -- bash scripts/as-unit.sh UNIT ENVIRONMENT_FILE PROGRAM VNC_PORT
#
# UNIT is checkmode.service as installed or configured; ENVIRONMENT_FILE is
# the file its EnvironmentFile= names (packaging/checkmode.default in a
# source tree); PROGRAM replaces the program path of its ExecStart= (the
# build tree's checkmode, or the installed one). Exits with the program's
# status; TERM, INT and HUP are passed on to it.
#
# Like systemd, it starts the program in an environment of the unit's own,
# not the caller's. Kept are only what the simulated board itself needs: PATH,
# where boardsim puts its board tools first, and BOARDSIM_CONTROL, through
# which those tools reach it; and the sanitizers' options of a test build.
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: boardsim -- bash as-unit.sh UNIT ENVIRONMENT_FILE PROGRAM VNC_PORT" >&2
    exit 2
fi
unit=$1 environment_file=$2 program=$3 port=$4

declare -A environment=([PATH]=$PATH)
for key in BOARDSIM_CONTROL ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [ -z "${!key:-}" ] || environment[$key]=${!key}
done

# KEY=VALUE lines as systemd reads them: blank lines and lines starting with
# # or ; are comments; a value may be quoted.
load_environment() { # FILE
    local line key value
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line#"${line%%[![:space:]]*}"}
        case $line in '' | '#'* | ';'*) continue ;; esac
        key=${line%%=*}
        value=${line#*=}
        case $value in
        \"*\") value=${value:1:-1} ;;
        \'*\') value=${value:1:-1} ;;
        esac
        environment[$key]=$value
    done <"$1"
}

unit_values() { # KEY: the values of KEY= in the unit's [Service] section
    sed -n '/^\[Service\]/,/^\[/s/^'"$1"'=//p' "$unit"
}

# %t is the runtime directory's root (/run for a system unit); the runtime
# directory is made private, as RuntimeDirectoryMode= asks.
runtime_root=$(mktemp -d)
trap 'rm -rf "$runtime_root"' EXIT
mode=$(unit_values RuntimeDirectoryMode)
while IFS= read -r directory; do
    mkdir -m "${mode:-0755}" "$runtime_root/$directory"
done < <(unit_values RuntimeDirectory)

load_environment "$environment_file"
while IFS= read -r assignment; do
    assignment=${assignment//%t/$runtime_root}
    environment[${assignment%%=*}]=${assignment#*=}
done < <(unit_values Environment)

# linuxfb:fb=/dev/fb0:size=800x480:mmsize=203x122
#   -> vnc:size=800x480:mmsize=203x122:port=N
# The screen's geometry stays; what names the device goes.
platform=${environment[QT_QPA_PLATFORM]:-}
case $platform in
linuxfb*) ;;
*)
    echo "as-unit: $environment_file does not start the linuxfb platform" >&2
    exit 2
    ;;
esac
screen=$(grep -oE '(^|:)(mm)?size=[0-9]+x[0-9]+' <<<"$platform" | tr -d ':' | paste -sd:)
environment[QT_QPA_PLATFORM]="vnc:$screen:port=$port"
assignments=()
for key in "${!environment[@]}"; do
    assignments+=("$key=${environment[$key]}")
done

read -r -a command <<<"$(unit_values ExecStart)"
command[0]=$program

# A child that this shell waits for, so that a signal boardsim forwards to
# the shell reaches the program at once.
env -i "${assignments[@]}" "${command[@]}" &
pid=$!
trap 'kill -TERM "$pid" 2>/dev/null' TERM INT HUP
while kill -0 "$pid" 2>/dev/null; do
    wait "$pid" || true
done
wait "$pid"
