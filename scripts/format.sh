#!/usr/bin/env bash
# Formats every C++ source of the project in place with the root .clang-format.
cd "$(dirname "$0")/.." && git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs -r clang-format -i
