#!/usr/bin/env bash
# The main job on a built-in sample: makes a "fat" archive (duplicates stored
# twice, stored and weakly packed entries, enciphered blocks) and cleans it
# with slimwick-cli, which prints the report; slimgrf then verifies both.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/native}
work=build/demo
mkdir -p "$work"
rm -f "$work/sample.grf" "$work/sample-cleaned.grf"
"$build/tools/make-sample-archive" "$work/sample.grf" --entries 400 --megabytes 6 --duplicates 30
echo
set +e
"$build/slimwick-cli" --yes "$work/sample.grf"
status=$?
set -e
echo
"$build/slimgrf" verify "$work/sample.grf" "$work/sample-cleaned.grf"
echo
ls -l "$work"
echo "slimwick-cli exit status: $status (0 = cleaned copy kept)"
[ "$status" -eq 0 ]
