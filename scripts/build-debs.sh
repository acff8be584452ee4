#!/bin/bash
# Builds the Debian packages into build-debs/ and checks them with lintian.
# As root it first installs what building them needs, from Debian 12's packages.
# Usage: scripts/build-debs.sh
# The packages are built from a clean copy of the checkout's files (what git
# tracks, and new files it does not ignore), never from build trees lying around.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=$top/build-debs

tools=(dpkg-dev debhelper lintian)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ $(id -u) -eq 0 ]]; then
    export DEBIAN_FRONTEND=noninteractive
    if ((${#missing[@]})) || ! dpkg-checkbuilddeps >/dev/null 2>&1; then
        apt-get update -q
        ((${#missing[@]})) && apt-get install -y -q --no-install-recommends "${missing[@]}"
        apt-get build-dep -y -q --no-install-recommends "$top"
    fi
elif ((${#missing[@]})); then
    echo "build-debs: these packages are missing: ${missing[*]}; run as root to install them" >&2
    exit 1
fi
dpkg-checkbuilddeps

version=$(dpkg-parsechangelog -SVersion)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
src=$stage/qrova-$version
mkdir "$src"
git ls-files -z --cached --others --exclude-standard | grep -zv '^build-debs/' \
    | while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done \
    | xargs -0 cp --parents -t "$src"

(cd "$src" && dpkg-buildpackage -us -uc -b)

rm -rf "$out"
mkdir -p "$out"
mv "$stage"/*.deb "$stage"/*.changes "$stage"/*.buildinfo "$out"/
changes=$(ls "$out"/*.changes)
echo "== lintian $changes"
lintian --fail-on error,warning --display-info "$changes"
echo "== packages in $out:"
ls -1 "$out"/*.deb
