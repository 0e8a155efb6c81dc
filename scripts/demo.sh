#!/usr/bin/env bash
# Until the console front end lands, the main job is the native test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
ctest --preset native
