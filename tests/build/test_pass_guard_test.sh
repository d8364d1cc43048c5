#!/usr/bin/env bash
# test_pass_guard_test.sh: a test pass is judged by what it ran. A build directory without
# tests (configured by scripts/run.sh, say) or a filter that matches nothing must fail the
# pass, never end it as if everything had passed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/support/shell_checks.sh"
source "$root/scripts/run_tests.sh"
shell_checks test-pass-guard

# A build directory as ctest reads it, holding the tests named: NAME=COMMAND, space-separated.
fake_build() {
    local dir=$work/$1
    shift
    mkdir -p "$dir"
    : >"$dir/CTestTestfile.cmake"
    for test in "$@"; do
        printf 'add_test(%s "%s")\n' "${test%%=*}" "${test#*=}" >>"$dir/CTestTestfile.cmake"
    done
    echo "$dir"
}

# case | tests in the build | ctest arguments | expected status (0 passes)
while IFS='|' read -r name tests arguments expected; do
    [ -n "$name" ] || continue
    # shellcheck disable=SC2086 # the table's words are split on purpose
    dir=$(fake_build "$name" $tests)
    # shellcheck disable=SC2086
    (run_tests "$dir" $arguments) >"$work/$name.log" 2>&1
    status=$?
    if [ "$expected" = 0 ] && [ "$status" -ne 0 ]; then
        fail "$name: failed (status $status)"
    elif [ "$expected" != 0 ] && [ "$status" -eq 0 ]; then
        fail "$name: passed having $(grep -o 'No tests were found' "$work/$name.log" || echo run)"
    fi
done <<'CASES'
no tests at all||--timeout 10|1
one test passes|ok=/bin/true||0
one test fails|ok=/bin/true bad=/bin/false||1
filter matches nothing|ok=/bin/true|-R ^Nothing$|1
filter matches one|ok=/bin/true other=/bin/true|-R ^ok$|0
CASES

passed_if_no_failures "test pass guard"
