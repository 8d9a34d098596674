#!/usr/bin/env bash
# Builds the Debian package of a build folder with cpack into a temporary
# folder and checks it: its file name, its control fields (maintainer,
# description, the library dependencies that dpkg-shlibdeps found) and that
# it holds the programs, CONFIG.QVX and the guide.
#
# check_package.sh BUILD-DIR VERSION PROGRAM...
set -uo pipefail
build=$1 version=$2
shift 2
programs=("$@")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! (cd "$build" && cpack -G DEB -B "$work") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack -G DEB" >&2
    exit 1
fi

arch=$(dpkg --print-architecture)
deb=$work/qvx-isp_${version}_$arch.deb
debs=$(cd "$work" && ls ./*.deb 2>/dev/null | sed 's|^\./||')
[ "$debs" = "qvx-isp_${version}_$arch.deb" ] || fail "cpack made '$debs', not qvx-isp_${version}_$arch.deb"
[ -f "$deb" ] || { echo "$failures check(s) failed" >&2; exit 1; }

dpkg-deb --info "$deb"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = qvx-isp ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer is '$(field Maintainer)'"
description=$(field Description)
[ "$(wc -l <<<"$description")" -gt 3 ] || fail "the description has no long text: $description"
grep -q 'AT89S' <<<"$description" || fail "the description does not name the chips"

# dpkg-shlibdeps found the libraries the programs link.
depends=$(field Depends)
# Both programs drive the FT232R cable (libftdi1, libusb), the USBasp
# (libusb) and GPIO lines, and
# give checksums with zlib's CRC-32.
libraries=(libc6 libftdi1-2 libusb-1.0-0 libgpiod2 zlib1g)
[[ " ${programs[*]} " == *" qvx-isp "* ]] &&
    libraries+=(libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libjpeg62-turbo)
for library in "${libraries[@]}"; do
    tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | grep -Fxq "$library" || fail "Depends lacks $library: $depends"
done

contents=$(dpkg-deb --contents "$deb")
for p in "${programs[@]}"; do
    grep -Eq "^-rwxr-xr-x .* \./.*/bin/$p$" <<<"$contents" || fail "the package holds no executable bin/$p"
done
grep -q '/share/doc/qvx-isp/examples/blink.hex$' <<<"$contents" || fail "the package holds no examples"
grep -q '/share/qvx-isp/CONFIG.QVX$' <<<"$contents" || fail "the package holds no CONFIG.QVX"
grep -q '/share/doc/qvx-isp/docs/README.md$' <<<"$contents" || fail "the package holds no guide"
grep -q '/lib/udev/rules.d/60-qvx-isp.rules$' <<<"$contents" || fail "the package holds no udev rule for the USB cables"
# The programs are stripped.
mkdir "$work/unpacked"
dpkg-deb --extract "$deb" "$work/unpacked"
for p in "${programs[@]}"; do
    file "$(find "$work/unpacked" -path "*/bin/$p")" | grep -q 'not stripped' && fail "bin/$p is not stripped"
done

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "debian package: qvx-isp_${version}_$arch.deb, all checks passed"
