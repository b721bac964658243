#!/usr/bin/env bash
# Fails when a tracked file reaches outside the repository (a path such as ../shared, or CMake's source
# directory followed by /..): a user's clone has nothing beside it. This file is the one exception.
set -euo pipefail
cd "$(dirname "$0")/.."
self=scripts/check-standalone.sh
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    hits=$(git grep -nIF -e '../shared' -e 'SOURCE_DIR}/..' -- . ":(exclude)$self" || true)
else
    hits=$(grep -rnIF --exclude-dir=.git --exclude-dir='build*' -e '../shared' -e 'SOURCE_DIR}/..' . |
           grep -v "^\./$self:" || true)
fi
if [ -n "$hits" ]; then
    echo "These files read outside the repository; copy what they need into it instead:"
    echo "$hits"
    exit 1
fi
