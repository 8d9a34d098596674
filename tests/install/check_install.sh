#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR and checks what a user gets: every
# file in its place and nothing else, the desktop entry and the metadata
# passing their validators and naming each other and the icon, icons of the
# sizes their folders say, man pages that format and point to the guide, the
# guide's pages with every link between them leading somewhere, and the
# installed programs answering --help and --version without a display.
#
# check_install.sh BUILD-DIR PREFIX APP-ID VERSION PROGRAM...
# (the default install folders: bin, share, share/man)
set -uo pipefail
build=$1 prefix=$2 id=$3 version=$4
shift 4
programs=("$@")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dest=$work/dest
root=$dest$prefix

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
has() { # has PROGRAM: is PROGRAM one of the built programs?
    local p
    for p in "${programs[@]}"; do [ "$p" = "$1" ] && return 0; done
    return 1
}
# Runs an installed program as from a desktop session without a display.
run_installed() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u QVX_PORT "$@"
}

if ! DESTDIR=$dest cmake --install "$build" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi

# The files, and only these.
expected=(
    share/qvx-isp/CONFIG.QVX
    share/doc/qvx-isp/README.md
    share/doc/qvx-isp/copyright
    share/doc/qvx-isp/changelog.gz
    lib/udev/rules.d/60-qvx-isp.rules
)
# The guide: every file of docs/ (names without blanks), beside the README.
expected+=($(cd "$(dirname "$0")/../../docs" && find . -type f | sed 's|^\./|share/doc/qvx-isp/docs/|'))
for p in "${programs[@]}"; do
    expected+=("bin/$p" "share/man/man1/$p.1.gz")
done
for f in "$(dirname "$0")"/../../examples/*.hex "$(dirname "$0")"/../../examples/*.c; do
    expected+=("share/doc/qvx-isp/examples/$(basename "$f")")
done
icon_sizes=(16 22 24 32 48 64 128 256)
if has qvx-isp; then
    expected+=("share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
               "share/mime/packages/$id.xml" "share/icons/hicolor/scalable/apps/$id.svg")
    for size in "${icon_sizes[@]}"; do
        expected+=("share/icons/hicolor/${size}x$size/apps/$id.png")
    done
fi
(cd "$root" && find . -type f | sed 's|^\./||' | sort) >"$work/installed"
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
echo "Installed below $prefix:"
sed 's/^/  /' "$work/installed"
if ! diff -u "$work/expected" "$work/installed" >"$work/diff"; then
    fail "the installed files differ from the expected ones (- missing, + unexpected):"
    grep '^[-+][^-+]' "$work/diff" >&2
fi
for f in "${expected[@]}"; do
    [ -s "$root/$f" ] || fail "$f is empty or missing"
done
for p in "${programs[@]}"; do
    [ -x "$root/bin/$p" ] || fail "bin/$p is not executable"
done

# The installed copy of CONFIG.QVX is the shipped one.
cmp -s "$root/share/qvx-isp/CONFIG.QVX" "$(dirname "$0")/../../CONFIG.QVX" ||
    fail "share/qvx-isp/CONFIG.QVX is not the shipped CONFIG.QVX"

# The udev rule gives both USB cables to plugdev.
for usb in 0403:6001 16c0:05dc; do
    grep -q "ATTRS{idVendor}==\"${usb%:*}\", ATTRS{idProduct}==\"${usb#*:}\", MODE=\"0660\", GROUP=\"plugdev\"" \
        "$root/lib/udev/rules.d/60-qvx-isp.rules" || fail "the udev rule does not give $usb to plugdev"
done

# The examples are the shipped ones.
for f in "$(dirname "$0")"/../../examples/*.hex; do
    cmp -s "$root/share/doc/qvx-isp/examples/$(basename "$f")" "$f" || fail "examples/$(basename "$f") differs"
done

# The changelog names this release.
zcat "$root/share/doc/qvx-isp/changelog.gz" | head -n1 | grep -qF "qvx-isp ($version) " ||
    fail "the changelog does not begin with release $version"

# Desktop entry, metadata, icon.
if has qvx-isp; then
    desktop=$root/share/applications/$id.desktop
    metainfo=$root/share/metainfo/$id.metainfo.xml
    desktop-file-validate "$desktop" || fail "desktop-file-validate $id.desktop"
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $id.metainfo.xml"

    exec_line=$(sed -n 's/^Exec=//p' "$desktop")
    [ -x "$root/bin/${exec_line%% *}" ] || fail "the desktop entry starts '$exec_line', which is not installed in bin"
    [ "$(sed -n 's/^Icon=//p' "$desktop")" = "$id" ] || fail "the desktop entry's icon is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metadata does not launch $id.desktop"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata does not name release $version"
    for p in "${programs[@]}"; do
        grep -q "<binary>$p</binary>" "$metainfo" || fail "the metadata does not provide $p"
    done

    # The desktop entry opens Intel HEX files, a type the installed MIME
    # package defines for *.hex and *.ihx.
    mime=$(sed -n 's/^MimeType=//p' "$desktop")
    [ "$mime" = "text/x-ihex;" ] || fail "the desktop entry opens '$mime', not text/x-ihex"
    grep -q '^Exec=qvx-isp %f$' "$desktop" || fail "the desktop entry does not pass a file to qvx-isp"
    grep -q '<mediatype>text/x-ihex</mediatype>' "$metainfo" || fail "the metadata does not provide text/x-ihex"
    mkdir -p "$work/mime/packages"
    cp "$root/share/mime/packages/$id.xml" "$work/mime/packages/"
    if update-mime-database "$work/mime" 2>"$work/mime.log"; then
        for glob in '*.hex' '*.ihx'; do
            grep -qF ":text/x-ihex:$glob" "$work/mime/globs2" || fail "the MIME package does not map $glob"
        done
    else
        fail "update-mime-database refuses $id.xml: $(cat "$work/mime.log")"
    fi

    # A PNG's width and height: big-endian words at bytes 16 and 20.
    for size in "${icon_sizes[@]}"; do
        png=$root/share/icons/hicolor/${size}x$size/apps/$id.png
        read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
            awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
        [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is no PNG"
        [ "$w x $h" = "$size x $size" ] || fail "the ${size}x$size icon is $w x $h"
    done
    grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"
fi

# Man pages: compressed, with a NAME line, formatting without warnings.
for p in "${programs[@]}"; do
    page=$root/share/man/man1/$p.1.gz
    gzip -t "$page" || fail "$p.1.gz is not gzip"
    lexgrog "$page" | grep -q "\"$p - " || fail "$p.1 has no NAME line for $p"
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $p.1: $warnings"
    MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | grep -q "$prefix/share/qvx-isp/CONFIG.QVX" ||
        fail "$p.1 does not name the installed CONFIG.QVX"
    MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | grep -q "$prefix/share/doc/qvx-isp/docs/README.md" ||
        fail "$p.1 does not name the installed guide"
done

# Each relative link of the installed README and guide leads to an installed
# file and, with a #fragment, to one of its headings as GitHub names them.
docs=$root/share/doc/qvx-isp links=0
while read -r page target; do
    links=$((links + 1)) file=${target%%#*} fragment=${target#"${target%%#*}"}
    linked=$(dirname "$page")/$file && [ -n "$file" ] || linked=$page
    [ -e "$linked" ] || { fail "${page#"$docs"/} links to $target, which is not installed"; continue; }
    [ -z "$fragment" ] || grep -E '^#+ ' "$linked" | sed -E 's/^#+ +//' | tr 'A-Z ' 'a-z-' | tr -cd 'a-z0-9_\n-' |
        grep -Fxq -- "${fragment#\#}" || fail "${page#"$docs"/} links to $target: no such heading"
done < <(find "$docs" -name '*.md' -exec awk '/^```/ { code = !code; next } !code {
    while (match($0, /\]\([^) ]+\)/)) { t = substr($0, RSTART + 2, RLENGTH - 3); $0 = substr($0, RSTART + RLENGTH)
                                         if (t !~ /^[a-z]+:/) print FILENAME, t } }' {} +)
[ $links -gt 20 ] || fail "only $links links found in the installed README and guide"

# The installed programs answer --version without a display.
for p in "${programs[@]}"; do
    out=$(run_installed "$root/bin/$p" --version 2>&1)
    status=$?
    echo "$p --version: $(head -n1 <<<"$out")"
    [ $status -eq 0 ] || fail "$p --version exited $status: $out"
    [ "$(head -n1 <<<"$out")" = "$p $version" ] || fail "$p --version says '$(head -n1 <<<"$out")'"
done

# The window's --help lists the places of CONFIG.QVX in order, the last the
# installed copy.
if has qvx-isp; then
    mkdir -p "$work/cwd" "$work/home"
    help=$(cd "$work/cwd" && run_installed env -u XDG_CONFIG_HOME HOME="$work/home" "$root/bin/qvx-isp" --help)
    status=$?
    [ $status -eq 0 ] || fail "qvx-isp --help exited $status"
    places=$(grep '^  /.*CONFIG.QVX$' <<<"$help" | sed 's/^  //')
    want=$(printf '%s\n' "$work/cwd/CONFIG.QVX" "$work/home/.config/qvx-isp/CONFIG.QVX" \
                         "$prefix/share/qvx-isp/CONFIG.QVX")
    [ "$places" = "$want" ] || fail "qvx-isp --help lists the places"$'\n'"$places"$'\n'"instead of"$'\n'"$want"
    [ -f "$dest$(tail -n1 <<<"$places")" ] || fail "the last place in --help is not where CONFIG.QVX is installed"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "install tree: all checks passed"
