#!/usr/bin/env bash
# Installs a build into a scratch prefix inside it and checks the tree as a
# user meets it: the files in place, the programs run from there and keep
# their files in the user's data folder, the metadata validates, the manuals
# render, bash completes. Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
prefix=$build/install-check
scratch=$build/install-check-home
rm -rf "$prefix" "$scratch"
mkdir -p "$scratch"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >/dev/null

gui=0
[ -x "$build/tarnel" ] && gui=1
expected=(
    bin/tarnel-cli
    share/man/man1/tarnel-cli.1.gz
    share/bash-completion/completions/tarnel-cli
    share/tarnel/samples/start.bmp
    share/tarnel/samples/end.bmp
    share/tarnel/samples/demo-mesh.json
)
if [ $gui = 1 ]; then
    expected+=(
        bin/tarnel
        share/man/man1/tarnel.1.gz
        share/applications/tarnel.desktop
        share/icons/hicolor/scalable/apps/tarnel.svg
    )
fi
for f in "${expected[@]}"; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done
metainfo=("$prefix"/share/metainfo/*.metainfo.xml)
if [ $gui = 1 ] && [ ! -f "${metainfo[0]}" ]; then fail "no AppStream metainfo in share/metainfo"; fi

# The version is the project's.
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
version=$("$prefix/bin/tarnel-cli" --version) || fail "tarnel-cli --version failed"
[ "$version" = "tarnel-cli $project_version" ] || fail "tarnel-cli --version says '$version', the project is $project_version"

# Installed, the program folder is the user's data folder even where bin can
# be written (it can here, and for root in /usr/bin).
before=$(ls -A "$prefix/bin")
samples=$prefix/share/tarnel/samples
run=$(env -u TARNEL_PROGRAM_FOLDER HOME="$scratch" XDG_DATA_HOME="$scratch/data" \
    "$prefix/bin/tarnel-cli" morph "$samples/start.bmp" "$samples/end.bmp" \
    --mesh "$samples/demo-mesh.json" --frames 2 --threads 1) || fail "morph from the installed tree failed"
case "$run" in
    "$scratch/data/tarnel/"*) [ -f "$run/000.bmp" ] || fail "morph printed $run but wrote no 000.bmp there" ;;
    *) fail "the installed morph wrote its frames into '$run', not into \$XDG_DATA_HOME/tarnel" ;;
esac
[ "$(ls -A "$prefix/bin")" = "$before" ] || fail "the installed program wrote into its bin folder"

if command -v appstreamcli >/dev/null; then
    for m in "${metainfo[@]}"; do
        [ -f "$m" ] || continue
        appstreamcli validate --no-net "$m" >"$scratch/validate.log" 2>&1 ||
            { cat "$scratch/validate.log" >&2; fail "appstreamcli validate: $m"; }
    done
    # The metadata, the desktop entry and the icon as one installed component.
    if [ $gui = 1 ]; then
        appstreamcli validate-tree --no-net "$prefix" >"$scratch/validate.log" 2>&1 ||
            { cat "$scratch/validate.log" >&2; fail "appstreamcli validate-tree $prefix"; }
    fi
else
    echo "appstreamcli is missing: the AppStream metadata is not validated" >&2
fi

# The manuals render without warnings, and tarnel-cli(1) lists every command
# the program has.
if command -v man >/dev/null; then
    for page in "$prefix"/share/man/man1/*.1.gz; do
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
    text=$(MANWIDTH=200 man -l "$prefix/share/man/man1/tarnel-cli.1.gz" 2>/dev/null)
    while read -r command; do
        grep -q "tarnel-cli $command" <<<"$text" || fail "tarnel-cli(1) lacks the command $command"
    done < <("$prefix/bin/tarnel-cli" --help | sed -n 's/^  tarnel-cli \([a-z]\+\( [a-z]\+\)\?\).*/\1/p' | sort -u)
else
    echo "man is missing: the manuals are not rendered" >&2
fi

# Completion: the words before the cursor, the word being completed, and the
# candidates in the order bash gets them.
mkdir -p "$scratch/frames/run" && touch "$scratch/frames/a.json"
completions=(
    ""              ""                 "anigif avi gif mesh morph video --help --version"
    ""              "mo"               "morph"
    "gif"           ""                 "encode info optimize --help"
    "gif encode"    "--d"              "--dither"
    "morph --kind"  ""                 "bmp jpg gif png"
    "morph --kind =" "j"               "jpg"
    "anigif"        "--opt"            "--optimize --optimize=max"
    "morph --out"   "$scratch/frames/" "$scratch/frames/run"
    "morph --mesh"  "$scratch/frames/" "$scratch/frames/a.json $scratch/frames/run"
    "morph --frames" ""                ""
)
completion=$prefix/share/bash-completion/completions/tarnel-cli
for ((i = 0; i < ${#completions[@]}; i += 3)); do
    typed=${completions[i]} current=${completions[i + 1]} want=${completions[i + 2]}
    # shellcheck disable=SC2086 # the words split at spaces
    got=$(bash -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        _tarnel_cli
        echo "${COMPREPLY[*]}"' _ "$completion" "$prefix/bin/tarnel-cli" $typed "$current")
    [ "$got" = "$want" ] || fail "completing '$typed $current': got '$got', want '$want'"
done

if [ $failures -gt 0 ]; then
    echo "$failures install check(s) failed ($prefix)" >&2
    exit 1
fi
echo "install tree at $prefix: all checks passed"
