#!/usr/bin/env bash
# Fails when a tracked file reaches outside the repository: a path up into the folder beside the checkout
# that holds the reference material, or CMake's source directory followed by a step up. A user's clone has
# nothing beside it. (The patterns are put together here, so that this file does not match itself.)
set -euo pipefail
cd "$(dirname "$0")/.."
up=..
patterns=(-e "$up/shared" -e "SOURCE_DIR}/$up")
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    hits=$(git grep -nIF "${patterns[@]}" || true)
else
    hits=$(grep -rnIF --exclude-dir=.git --exclude-dir='build*' "${patterns[@]}" . || true)
fi
if [ -n "$hits" ]; then
    echo "These files read outside the repository; copy what they need into it instead:"
    echo "$hits"
    exit 1
fi
