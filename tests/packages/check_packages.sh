#!/usr/bin/env bash
# Checks the packages scripts/package built (argument: their directory, default build/packages): the
# zip holds exactly tarvelon.exe, README.txt and LICENSE in one folder; the installer is a 32-bit
# Windows program that carries the version (tests/wine/e2e_installer.py runs it); the .deb's programs
# run from a scratch root and show the project's version; its maintainer scripts, run by a real dpkg
# into another scratch root, enable the service on install, mask it on removal, bring it back on
# reinstall and leave nothing on purge; lintian finds no errors.
set -uo pipefail
cd "$(dirname "$0")/../.."
packages=${1:-build/packages}
version=$(sed -n 's/^project(Tarvelon VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
zip=$packages/tarvelon-$version-win32.zip
setup=$packages/tarvelon-$version-setup.exe
deb=$packages/tarvelon-agent_${version}_$(dpkg --print-architecture).deb
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
expect() {  # expect DESCRIPTION EXPECTED ACTUAL
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

echo "--- $zip"
folder=tarvelon-$version-win32
expect "zip contents" "$folder/LICENSE $folder/README.txt $folder/tarvelon.exe" \
    "$(unzip -Z1 "$zip" 2>&1 | sort | xargs)"
unzip -q -d "$scratch/zip" "$zip"
exe=$scratch/zip/$folder/tarvelon.exe
expect "exe format" "pei-i386" "$(i686-w64-mingw32-objdump -f "$exe" 2>&1 | sed -n 's/.*file format //p')"
expect "exe debug sections" "0" "$(i686-w64-mingw32-objdump -h "$exe" | grep -c '\.debug')"
strings -el "$exe" | grep -qx "$version" || fail "the exe's version resource does not carry $version"
# The README names the button that removes the settings, and every control it quotes by its caption
# is one the program shows.
readme=$(tr -d '\r' < "$scratch/zip/$folder/README.txt")
button=$(sed -n 's/.*PUSHBUTTON *"\([^"]*\)", IDC_CLEANUP.*/\1/p' resources/tarvelon.rc)
[ -n "$button" ] && grep -qF "\"$button\"" <<<"$readme" || fail "README.txt does not name the cleanup button"
while read -r caption; do
    grep -qF "$caption," resources/tarvelon.rc || fail "README.txt quotes $caption, which no control shows"
done < <(grep -o '"[^"]*"' <<<"$readme")
grep -qF 'HKEY_CURRENT_USER\Software\Tarvelon\' "$scratch/zip/$folder/README.txt" ||
    fail "README.txt does not say where settings live"
cmp -s <(tr -d '\r' < "$scratch/zip/$folder/LICENSE") LICENSE || fail "the zip's LICENSE is not LICENSE"

echo "--- $setup"
expect "installer format" "pei-i386" "$(i686-w64-mingw32-objdump -f "$setup" 2>&1 | sed -n 's/.*file format //p')"
strings -el "$setup" | grep -qx "$version" || fail "the installer's version block does not carry $version"

echo "--- $deb"
expect "package version" "$version" "$(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *"libc6 ("*"libstdc++6 ("* ]] || fail "Depends lacks the libraries the programs link: '$depends'"
root=$scratch/extracted
dpkg -x "$deb" "$root"
for path in usr/bin/tarvelon-agent usr/bin/tarvelon-query lib/systemd/system/tarvelon-agent.service \
    usr/share/man/man8/tarvelon-agent.8.gz usr/share/man/man1/tarvelon-query.1.gz \
    usr/share/doc/tarvelon-agent/copyright usr/share/doc/tarvelon-agent/changelog.gz; do
    [ -f "$root/$path" ] || fail "the package lacks /$path"
done
expect "installed agent --version" "tarvelon-agent $version" "$("$root/usr/bin/tarvelon-agent" --version 2>&1)"
help=$("$root/usr/bin/tarvelon-query" --help 2>&1)
expect "installed query --help status" "0" "$?"
expect "installed query --help" "Usage: tarvelon-query [OPTION]... HOST[:PORT]" "$(head -n 1 <<<"$help")"
# Every long option a program's --help lists is in its man page.
for page in "tarvelon-agent usr/share/man/man8/tarvelon-agent.8.gz" "tarvelon-query usr/share/man/man1/tarvelon-query.1.gz"; do
    read -r program manpage <<<"$page"
    text=$(zcat "$root/$manpage" | sed 's/\\-/-/g')
    for option in $("$root/usr/bin/$program" --help | grep -o -- '--[a-z0-9-]*' | sort -u); do
        grep -qF -- "$option" <<<"$text" || fail "the man page of $program lacks $option"
    done
done
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$root/lib/systemd/system/tarvelon-agent.service")
[ -x "$root$exec_start" ] || fail "the unit starts '$exec_start', which the package does not hold"
for program in tarvelon-agent tarvelon-query; do
    sections=$(readelf -S "$root/usr/bin/$program")
    grep -qE '\.symtab|\.debug' <<<"$sections" && fail "$program is not stripped"
    readelf -d "$root/usr/bin/$program" | grep -qE 'lib[at]san' && fail "$program is built with a sanitizer"
done
grep -q '^License: Expat' "$root/usr/share/doc/tarvelon-agent/copyright" &&
    grep -q '^ Permission is hereby granted' "$root/usr/share/doc/tarvelon-agent/copyright" ||
    fail "the copyright file does not carry the licence"

# dpkg into a root of its own, maintainer scripts run outside a chroot with DPKG_ROOT pointing there.
if [ "$(id -u)" -eq 0 ]; then
    target=$scratch/root
    mkdir -p "$target/var/lib/dpkg/updates" "$target/var/lib/dpkg/info"
    touch "$target/var/lib/dpkg/status"
    dpkg_scratch() { dpkg --root="$target" --force-script-chrootless --force-depends --log=/dev/null "$@" >/dev/null 2>&1; }
    wants=$target/etc/systemd/system/multi-user.target.wants/tarvelon-agent.service
    mask=$target/etc/systemd/system/tarvelon-agent.service
    dpkg_scratch -i "$deb" || fail "dpkg -i into a scratch root failed"
    [ -L "$wants" ] || fail "installing did not enable the service"
    dpkg_scratch -r tarvelon-agent || fail "dpkg -r failed"
    expect "the unit after removal" "/dev/null" "$(readlink "$mask")"
    [ -e "$target/usr/bin/tarvelon-agent" ] && fail "removal left the agent"
    dpkg_scratch -i "$deb" || fail "reinstalling failed"
    [ -L "$wants" ] && [ ! -e "$mask" ] || fail "reinstalling did not bring the service back enabled"
    dpkg_scratch -P tarvelon-agent || fail "dpkg -P failed"
    expect "links and state left after purge" "" \
        "$(find "$target/etc" "$target/var/lib/systemd" \( -type f -o -type l \) 2>/dev/null | sed "s#$target##")"
else
    echo "(not root: the maintainer scripts' dpkg run is left out)"
fi

report=$(lintian --fail-on error --info "$deb" 2>&1) || fail "lintian reports errors"
grep -v -e 'running with root privileges' -e '^$' <<<"$report" || true

if [ "$failures" -ne 0 ]; then
    echo "$failures package checks failed"
    exit 1
fi
echo "packages: all checks passed"
