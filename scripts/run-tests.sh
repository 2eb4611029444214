#!/usr/bin/env bash
# run-tests.sh BUILD_DIR [ctest args...]
# Runs CTest with HOME and the machine prefix in an empty guard folder and
# fails when anything was written there: tests must stay in their sandboxes.
set -euo pipefail
build=$1
shift
guard=$(mktemp -d /tmp/zel-guard-XXXXXX)
mkdir -p "$guard/home" "$guard/machine"
status=0
env HOME="$guard/home" ZEL_MACHINE_PREFIX="$guard/machine" \
    XDG_CONFIG_HOME="$guard/home/.config" XDG_DATA_HOME="$guard/home/.local/share" \
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@" || status=$?
leaked=$(find "$guard" -mindepth 2 | head -20)
if [ -n "$leaked" ]; then
  echo "run-tests: tests wrote outside their sandbox:" >&2
  echo "$leaked" >&2
  status=1
fi
rm -rf "$guard"
exit $status
