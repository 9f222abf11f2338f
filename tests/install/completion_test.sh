#!/usr/bin/env bash
# Drives the bash completion of hivewise-cli as bash does (COMP_WORDS, COMP_CWORD, then
# the completion function) against the real program on the sample machine, in a scratch
# home folder with one fix backup made by a real repair.
#
#   completion_test.sh COMPLETION_FILE HIVEWISE_CLI
set -uo pipefail
completion=$(realpath "$1")
cli=$(realpath "$2")
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config
unset WINEPREFIX
cd "$home" || exit 1

# shellcheck source=/dev/null
source "$completion"
failures=0

# complete WORD... : the completions of the last word, one a line, sorted.
complete_line() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$#
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _hivewise_cli 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

# expect "WORDS" WANTED... : each WANTED is among the completions.
expect() {
    local words=$1
    shift
    local got
    eval "got=\$(complete_line $words)"
    for wanted in "$@"; do
        if ! grep -qxF -- "$wanted" <<<"$got"; then
            echo "FAIL: [$words] does not offer \"$wanted\"; it offers: $(tr '\n' ' ' <<<"$got")" >&2
            failures=$((failures + 1))
        fi
    done
}

# refuse "WORDS" UNWANTED... : none of UNWANTED is among the completions.
refuse() {
    local words=$1
    shift
    local got
    eval "got=\$(complete_line $words)"
    for unwanted in "$@"; do
        if grep -qxF -- "$unwanted" <<<"$got"; then
            echo "FAIL: [$words] offers \"$unwanted\"" >&2
            failures=$((failures + 1))
        fi
    done
}

# Commands, subcommands and options.
expect "''" scan repair backups fullbackup reg machines update startup bho programs
expect "--" --prefix --help --version
expect "ba" backups
refuse "ba" bho scan
expect "--prefix /tmp ''" scan repair
expect "backups ''" list show restore remove
expect "fullbackup ''" create list restore
expect "startup ''" list remove parked restore
expect "scan --" --sections --json
expect "repair --" --sections --yes
expect "machines --" --json
expect "update --" --check --from

# Section ids after --sections, also inside a comma-separated list.
expect "scan --sections ''" 0 7 15
refuse "scan --sections ''" 16
expect "scan --sections 1" 1 10 15
refuse "scan --sections 1" 2
expect "repair --sections 4,1" 4,1 4,12
expect "scan --sections = ''" 0 15

# Machine names as `machines` lists them, and folders, after --prefix.
mkdir -p "$home/my prefixes"
expect "--prefix ''" "sample machine"
expect "--prefix my" "my prefixes"

# Archive names as `backups list` prints them, for the prefix the line names.
if ! "$cli" repair --sections 4 --yes >/dev/null 2>&1; then
    echo "FAIL: the repair that makes a fix backup failed" >&2
    failures=$((failures + 1))
fi
archive=$("$cli" backups list 2>/dev/null | cut -f1 | head -1)
if [ -z "$archive" ]; then
    echo "FAIL: no fix backup to complete" >&2
    failures=$((failures + 1))
else
    expect "backups show ''" "$archive"
    expect "backups restore ''" "$archive"
    expect "backups remove ''" "$archive"
    # COMP_WORDS holds a word as typed, quotes and all.
    expect "--prefix \"'sample machine'\" backups restore ''" "$archive"
    expect "--prefix '\"sample machine\"' backups restore ''" "$archive"
    refuse "backups list ''" "$archive"
    # "--prefix=DIR" reaches the function as three words.
    expect "--prefix = \"'sample machine'\" backups show ''" "$archive"
    expect "backups restore '$archive' --" --items --all
    expect "backups remove '$archive' --" --yes
fi
# A prefix that holds no backup offers none.
mkdir -p "$home/empty"
refuse "--prefix '$home/empty' backups show ''" "${archive:-none}"

# reg: operations, roots, switches, types, and host files for import and export.
touch "$home/wine.reg"
expect "reg ''" query add delete export import
expect "reg query HKC" HKCU HKCR
expect "reg query HKEY_C" HKEY_CURRENT_USER HKEY_CLASSES_ROOT
expect "reg add 'HKCU\\Software\\Example' /" /v /ve /t /d /f
expect "reg delete 'HKCU\\Software\\Example' /v" /v /ve /va
expect "reg add 'HKCU\\Software\\Example' /t REG_D" REG_DWORD
expect "reg import wi" wine.reg
expect "reg export 'HKCU\\Software\\Wine' wi" wine.reg
refuse "reg export wi" wine.reg

if [ "$failures" -gt 0 ]; then
    echo "$failures completion check(s) failed" >&2
    exit 1
fi
echo "all completions checked"
