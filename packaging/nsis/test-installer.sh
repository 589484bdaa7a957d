#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# test-installer.sh SETUP FIND_WINDOW PICTURE, under Wine (scripts/wine-tests.sh's prefix and
# display): a silent install with the PATH option, then the files, the association, the Start
# menu entry, the PATH and the uninstall key; a .cod file started through the shell must open in
# the installed varnic.exe; the silent uninstaller must take all of it away.
set -euo pipefail
setup=$1 finder=$2 picture=$3
# Wine must not hand the association or the menu entry on to this machine's desktop.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
drive_c=$WINEPREFIX/drive_c
dir="$drive_c/Program Files/varnic"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/varnic.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\varnic'
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
scratch=$(mktemp -d /tmp/varnic-installer-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failed=0 passed=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@" > "$scratch/check.log" 2>&1; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "installer: FAILED: $name"; sed 's/^/  /' "$scratch/check.log"; fi
}
reg_value() {  # reg_value KEY [NAME]: the query's output (the default value without NAME)
  if [ $# -gt 1 ]; then wine reg query "$1" /v "$2"; else wine reg query "$1" /ve; fi 2> /dev/null | tr -d '\r'
}
export -f reg_value
installed() {
  for f in varnic.exe varnic-cli.exe varnic-help.txt README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt uninstall.exe; do
    [ -f "$dir/$f" ] || { echo "missing: $f"; return 1; }
  done
}

wine "$setup" /S /PATH
check "the programs and texts are in Program Files" installed
check "the Start menu entry exists" test -f "$menu"
check ".cod is associated with varnic.exe and its icon" bash -c '
  reg_value "HKCR\\.cod" | grep -q "varnic.cod" &&
  reg_value "HKCR\\varnic.cod\\shell\\open\\command" | grep -qF "\"C:\\Program Files\\varnic\\varnic.exe\" \"%1\"" &&
  reg_value "HKCR\\varnic.cod\\DefaultIcon" | grep -qF "C:\\Program Files\\varnic\\varnic.exe,0"'
check "the uninstall key names the release" bash -c 'reg_value "$0" DisplayVersion | grep -q "REG_SZ *[0-9.]*$" && reg_value "$0" QuietUninstallString | grep -q "uninstall.exe\" /S"' "$uninstall_key"
check "the PATH holds the program folder" bash -c 'reg_value "$0" Path | grep -qF ";C:\\Program Files\\varnic"' "$environment_key"

cp "$picture" "$scratch/opened by the shell.cod"
wine start /unix "$scratch/opened by the shell.cod"
check "a .cod file started through the shell opens in varnic.exe" \
  wine "$finder" ARITHMETIC "Varnholt Image Compressor V2.5    opened by the shell.cod" 60

# The uninstaller runs from a copy of itself and returns at once: wait for it to finish.
wine "$dir/uninstall.exe" /S
for _ in $(seq 120); do [ -e "$dir" ] || break; sleep 0.5; done
check "the uninstaller removes the folder" test ! -e "$dir"
check "the uninstaller removes the Start menu entry" test ! -e "$menu"
check "the uninstaller removes the association" bash -c '! wine reg query "HKCR\\.cod" && ! wine reg query "HKCR\\varnic.cod"'
check "the uninstaller removes the uninstall key" bash -c '! wine reg query "$0"' "$uninstall_key"
check "the uninstaller takes the folder off the PATH" bash -c '! reg_value "$0" Path | grep -qF "Program Files\\varnic"' "$environment_key"
echo "installer: $passed passed, $failed failed"
[ "$failed" = 0 ]
