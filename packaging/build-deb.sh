#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# build-deb.sh [OUT]: the Debian packages of the work tree, built by dpkg-buildpackage and
# debhelper in OUT (default build-deb): OUT/varnic-VERSION holds the tracked files as they are in
# the work tree, with packaging/debian as its debian/; the packages land in OUT. The changelog
# entry and the copyright file are written from CMakeLists.txt's version and from LICENSE.
# Then lintian checks them: an error fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-deb}
mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(sed -n 's/^project(varnic VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
released=$(sed -n 's/^set(VARNIC_RELEASE_DATE \([0-9-]*\))/\1/p' CMakeLists.txt)
src=$out/varnic-$version
rm -rf "$src" "$out"/*.deb "$out"/*.ddeb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$src"
git ls-files -z | while IFS= read -r -d '' f; do
  case $f in packaging/debian/*) continue ;; esac
  [ -f "$f" ] && cp --parents -P "$f" "$src/"
done
cp -r packaging/debian "$src/debian"
rm "$src/debian/copyright.head"
cat > "$src/debian/changelog" <<CHANGES
varnic ($version) unstable; urgency=medium

  * Release $version (the changes are listed in CHANGELOG.md).

 -- The varnic authors <authors@varnic.invalid>  $(date -R -u -d "$released 12:00")
CHANGES
{
  sed 1d packaging/debian/copyright.head
  echo
  echo "License: BSD-2-Clause"
  sed '1,/^Copyright/d' LICENSE | sed '1{/^$/d}' | sed 's/^$/./; s/^/ /'
} > "$src/debian/copyright"

# No tests (make test runs them) and no debug-symbol packages: a lean second build for CI.
(cd "$src" && DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=${JOBS:-$(nproc)}" dpkg-buildpackage -us -uc -b ${DEB_NO_CLEAN:+-nc})
lintian --fail-on error \
  "$out/varnic_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).changes"
ls "$out"/*.deb
