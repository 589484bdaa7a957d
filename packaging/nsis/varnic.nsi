; SPDX-License-Identifier: BSD-2-Clause
; The Windows installer: both programs under Program Files, a Start menu entry, the .cod file
; association with the program's icon, varnic-cli.exe on the PATH if chosen, and an uninstaller
; that takes all of it away again. `setup.exe /S` installs silently (add /PATH for the PATH),
; `uninstall.exe /S` removes silently.
; makensis -DVERSION=1.0.0 -DSTAGE=DIR -DOUTFILE=FILE varnic.nsi, DIR holding the zip's files.
Unicode true
SetCompressor /SOLID lzma
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\varnic"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define PROG_ID "varnic.cod"
; NSIS strings hold 1024 characters: a longer PATH is left alone rather than cut short.
!define PATH_LIMIT 900

Name "varnic ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\varnic"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "varnic"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "varnic ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "the varnic authors"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 the varnic authors (BSD 2-Clause)"

!define MUI_ICON "${STAGE}\varnic.ico"
!define MUI_UNICON "${STAGE}\varnic.ico"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "varnic (required)" SecPrograms
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\varnic.exe"
  File "${STAGE}\varnic-cli.exe"
  File "${STAGE}\varnic-help.txt"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\THIRD-PARTY-NOTICES.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\varnic.lnk" "$INSTDIR\varnic.exe" "" "$INSTDIR\varnic.exe" 0

  ; .cod files open in varnic.exe and show its icon.
  WriteRegStr HKCR ".cod" "" "${PROG_ID}"
  WriteRegStr HKCR ".cod" "Content Type" "image/x-varnic-cod"
  WriteRegStr HKCR "${PROG_ID}" "" "varnic compressed picture"
  WriteRegStr HKCR "${PROG_ID}\DefaultIcon" "" "$INSTDIR\varnic.exe,0"
  WriteRegStr HKCR "${PROG_ID}\shell\open\command" "" '"$INSTDIR\varnic.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "varnic ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the varnic authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\varnic.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "varnic-cli.exe on the PATH" SecPath
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrLen $1 $0
  ${If} $1 > ${PATH_LIMIT}
    DetailPrint "The PATH is too long to change safely; add $INSTDIR to it by hand."
  ${Else}
    ${WordFind} "$0" ";" "E/$INSTDIR" $2
    ${If} ${Errors}
      WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0;$INSTDIR"
      WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
    ${EndIf}
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPrograms} "The desktop program, the command-line tool, the .cod file association and a Start menu entry."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} "Lets varnic-cli be started from any command prompt."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; /PATH on the command line chooses the PATH section in a silent install.
Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    ReadRegStr $1 HKLM "${ENVIRONMENT_KEY}" "Path"
    ${WordReplace} "$1" ";$INSTDIR" "" "+" $2
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$2"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}

  ; The association goes only while it is still ours.
  ReadRegStr $0 HKCR ".cod" ""
  ${If} $0 == "${PROG_ID}"
    DeleteRegKey HKCR ".cod"
  ${EndIf}
  DeleteRegKey HKCR "${PROG_ID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  Delete "$SMPROGRAMS\varnic.lnk"
  Delete "$INSTDIR\varnic.exe"
  Delete "$INSTDIR\varnic-cli.exe"
  Delete "$INSTDIR\varnic-help.txt"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
