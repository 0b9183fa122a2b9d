#!/bin/sh
# The Wine runner starts a test program again when, and only when, none of its tests ran:
# a program that failed or crashed in a test, or that is not run as a test program, is
# started once. Arguments: the runner and the probe program.
runner=$1
probe=$2
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
failures=0

# check MODE STARTS PASSES [ARGUMENT]: the probe in MODE is started STARTS times and its
# status is zero exactly when PASSES is "passes".
check() {
  rm -f "$dir/starts"
  MARRO_PROBE_MODE=$1 MARRO_PROBE_STARTS="Z:$dir/starts" "$runner" "$probe" ${4:-} \
    >"$dir/output" 2>&1
  status=$?
  starts=0
  [ -f "$dir/starts" ] && starts=$(wc -l <"$dir/starts")
  passed=fails
  [ "$status" -eq 0 ] && passed=passes
  if [ "$starts" -ne "$2" ] || [ "$passed" != "$3" ]; then
    echo "mode $1 ${4:-}: started $starts times (expected $2), status $status (expected it $3)"
    cat "$dir/output"
    failures=$((failures + 1))
  fi
}

check pass 1 passes --gtest_brief=1
check fail 1 fails --gtest_brief=1
check crash 1 fails --gtest_brief=1
check before 3 fails --gtest_brief=1
check before 1 fails

[ "$failures" -eq 0 ]
