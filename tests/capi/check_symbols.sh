#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# check_symbols.sh LIBRARY SYMBOLS_FILE VERSION_HEADER
# The library exports exactly the symbols the file lists, and its SONAME carries the header's
# VARNIC_ABI_VERSION.
set -euo pipefail
library=$1 symbols=$2 header=$3

expected=$(grep -v '^#' "$symbols" | sed '/^$/d' | sort)
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$expected" != "$exported" ]; then
  echo "the exports of $library differ from $symbols (< listed only, > exported only):"
  diff <(echo "$expected") <(echo "$exported") || true
  exit 1
fi

abi=$(sed -n 's/^#define VARNIC_ABI_VERSION \([0-9]*\)$/\1/p' "$header")
soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
if [ -z "$abi" ] || [ "$soname" != "libvarnic.so.$abi" ]; then
  echo "SONAME $soname does not carry the ABI version $abi of $header"
  exit 1
fi
echo "symbols: $(echo "$exported" | wc -l) exported, as listed; SONAME $soname"
