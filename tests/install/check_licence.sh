#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# check_licence.sh SOURCE: every file the project wrote names its licence in its first lines (after
# a shebang or an XML declaration). Left out: pictures and test data, the corpus, JSON (which has
# no comments), documents, and the licence texts themselves.
set -euo pipefail
cd "$1"
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  mapfile -t files < <(git ls-files)
else  # an unpacked source archive
  mapfile -t files < <(find . \( -name .git -o -name 'build*' -o -name node_modules \) -prune -o -type f -print | sed 's|^\./||')
fi
[ ${#files[@]} -gt 100 ] || { echo "licence: only ${#files[@]} files found in $1"; exit 1; }

checked=0 missing=0
for f in "${files[@]}"; do
  case $f in
    tests/data/* | fuzz/corpus/* | LICENSE | THIRD-PARTY-NOTICES) continue ;;
    packaging/debian/source/format) continue ;;  # one line that dpkg reads whole
    CMakeLists.txt | */CMakeLists.txt) ;;
    *.png | *.ico | *.bmp | *.json | *.md | *.txt | *.csv) continue ;;
  esac
  [ -f "$f" ] || continue  # deleted in the work tree
  checked=$((checked + 1))
  if ! head -n 3 "$f" | grep -q 'SPDX-License-Identifier: BSD-2-Clause'; then
    echo "no SPDX-License-Identifier line: $f"
    missing=$((missing + 1))
  fi
done
echo "licence: $((checked - missing)) passed, $missing failed"
[ "$missing" = 0 ]
