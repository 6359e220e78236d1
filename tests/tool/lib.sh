# Shared by the tool's tests: each test script is run as
#   bash GROUP.sh PATH/TO/cardfs EXAMPLES-DIR
# in a fresh temporary directory that is removed afterwards. Checks do not
# stop the script; it reports every failed check and exits 1 if there was one.
set -u
TOOL="$1"
EXAMPLES="$2"
failed=0
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

cardfs() { "$TOOL" "$@"; }

problem() {
    echo "FAILED: $*" >&2
    failed=$((failed + 1))
}

# same WHAT EXPECTED ACTUAL
same() {
    [ "$2" = "$3" ] || problem "$1: expected [$2], got [$3]"
}

# ok CMD...: the command succeeds.
ok() {
    "$@" >/dev/null || problem "exit status $? from: $*"
}

# fails STATUS MESSAGE CMD...: the command exits with STATUS and prints
# exactly MESSAGE, one line, on standard error.
fails() {
    local status="$1" message="$2" err rc
    shift 2
    err="$("$@" 2>&1 >/dev/null)"
    rc=$?
    same "exit status of: $*" "$status" "$rc"
    same "message of: $*" "$message" "$err"
}

# contains WHAT NEEDLE TEXT
contains() {
    case "$3" in
    *"$2"*) ;;
    *) problem "$1: [$2] not in [$3]" ;;
    esac
}

# A file of N bytes of varied content, 0xFF bytes included.
random_file() {
    head -c "$2" /dev/urandom >"$1"
}

finish() {
    if [ "$failed" -ne 0 ]; then
        echo "$failed check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}
