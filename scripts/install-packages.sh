#!/usr/bin/env bash
# Installs the Debian packages that are missing from the list given (through sudo when not root).
set -euo pipefail
# A package counts as present when it is installed for this machine's own architecture (or for all): with a
# foreign architecture added, a name can also stand for another architecture's copy.
native=$(dpkg --print-architecture)
missing=()
for package in "$@"; do
    case "$package" in
    *:*) wanted="$package" ;;
    *) wanted="" ;;
    esac
    if [ -n "$wanted" ]; then
        dpkg-query -W -f='${Status}\n' "$wanted" 2>/dev/null | grep -qx 'install ok installed' || missing+=("$package")
    else
        dpkg-query -W -f='${Status} ${Architecture}\n' "$package" 2>/dev/null |
            grep -qE "^install ok installed ($native|all)\$" || missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
