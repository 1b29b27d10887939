#!/usr/bin/env bash
# Formats every C++ source of the project in place with the root .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only this script needs clang-format, so neither the build nor the tests install it:
# it is installed here on first use, the same way as the build's packages.
command -v clang-format >/dev/null 2>&1 || bash scripts/install-deps.sh clang-format
git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs -r clang-format -i
