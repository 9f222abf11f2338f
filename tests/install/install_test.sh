#!/usr/bin/env bash
# Installs the build into a staging folder and checks what a distribution ships beside
# the programs: the manual pages render and say how the programs end, the completion and
# the AppStream metadata are there and valid, and the desktop entry, its icon and the
# metadata agree on one id.
#
#   install_test.sh BUILD_DIR APP_ID
set -uo pipefail
build=$1
id=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! DESTDIR=$stage cmake --install "$build" --prefix /usr >"$stage.log" 2>&1; then
    cat "$stage.log" >&2
    rm -f "$stage.log"
    echo "FAIL: cmake --install" >&2
    exit 1
fi
rm -f "$stage.log"
usr=$stage/usr

# Manual pages: each renders without a complaint from the formatter.
for page in hivewise hivewise-cli; do
    file=$(ls "$usr/share/man/man1/$page.1"* 2>/dev/null | head -1)
    if [ -z "$file" ]; then
        fail "no manual page $page(1)"
        continue
    fi
    if command -v man >/dev/null; then
        text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$file" 2>"$stage/man.err")
    else
        text=$(zcat -f "$file" | groff -t -man -Tutf8 2>"$stage/man.err")
    fi
    [ -s "$stage/man.err" ] && fail "$page(1) renders with warnings: $(cat "$stage/man.err")"
    grep -q "^EXIT STATUS" <<<"$text" || fail "$page(1) has no EXIT STATUS section"
    grep -q "^EXAMPLES" <<<"$text" || fail "$page(1) has no EXAMPLES section"
    grep -q "@[A-Z_]*@" <<<"$text" && fail "$page(1) has an unfilled placeholder"
done
cli_page=$(ls "$usr/share/man/man1/hivewise-cli.1"* 2>/dev/null | head -1)
if [ -n "$cli_page" ]; then
    text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$cli_page" 2>/dev/null)
    # Every command of the usage text has its entry.
    for command in scan repair "backups list" "backups restore" "fullbackup create" \
        "reg query" "reg import" machines "update --check" parked; do
        grep -q -- "$command" <<<"$text" || fail "hivewise-cli(1) does not describe $command"
    done
    grep -q -- "unzip -P [a-z]" <<<"$text" || fail "hivewise-cli(1) does not give the password"
fi

# Completion.
completion=$(find "$usr" -path '*bash-completion/completions/hivewise-cli' | head -1)
if [ -z "$completion" ]; then
    fail "no bash completion"
elif ! bash -n "$completion"; then
    fail "the bash completion is not valid bash"
fi

# Desktop entry, icon and AppStream metadata, named by one id.
desktop=$usr/share/applications/$id.desktop
metainfo=$usr/share/metainfo/$id.metainfo.xml
if [ -e "$usr/bin/hivewise" ]; then
    [ -f "$desktop" ] || fail "no desktop entry $id.desktop"
    [ -f "$metainfo" ] || fail "no AppStream metadata $id.metainfo.xml"
    icon=$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null)
    [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
        fail "the desktop entry's icon \"$icon\" is not installed"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $id.desktop"
    else
        echo "SKIP: desktop-file-validate is not installed"
    fi
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$metainfo" >"$stage/as.log" 2>&1 ||
            fail "appstreamcli rejects $id.metainfo.xml: $(cat "$stage/as.log")"
    else
        echo "SKIP: appstreamcli is not installed"
    fi
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metadata does not launch $id.desktop"
    grep -q "<release version=\"[0-9]" "$metainfo" || fail "the metadata has no release version"
else
    echo "SKIP: the desktop program is not built"
fi

# The Debian package's documents.
[ -f "$usr/share/doc/hivewise/copyright" ] || fail "no copyright file"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all installed files checked"
