# Sourced by the shell tests: `shell_checks NAME` makes $work, a scratch directory removed at
# exit; fail() counts a failed check and says why; passed_if_no_failures ends the test.
shell_checks() {
    work=$(mktemp -d "/tmp/velmor-$1.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    failures=0
}
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# passed_if_no_failures WHAT: the test's verdict, as its exit status.
passed_if_no_failures() {
    [ "$failures" -eq 0 ] && echo "$1: all checks passed"
    exit $((failures > 0))
}
