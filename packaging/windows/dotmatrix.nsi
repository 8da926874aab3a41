; The Windows installer: the portable folder into Program Files, a Start menu
; entry with the program's icon, an entry in "Apps & features", and an
; uninstaller that removes exactly the files it installed. /S runs silently.
;
; There is only ever one installation: one in another folder is removed
; first. Neither the installer nor the uninstaller touches anything while
; the installed program runs. Folders the installer made above the
; installation folder go with the uninstall, where they are left empty.
;
; The uninstaller proper is remove.exe; uninstall.exe (uninstall.nsi) runs it
; and waits, so that scripts get its exit code.
;
; makensis -DVERSION=1.0 -DSOURCE=<folder> -DFILES=<uninstall list> -DSIZE_KIB=<n> -DICON=<ico>
;          -DUNINSTALL=<uninstall.exe> -DOUTFILE=<exe> dotmatrix.nsi

Unicode true
!include "FileFunc.nsh"
; The default 32-bit stub does nothing on 64-bit Wine and still succeeds.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define NAME "Dot matrix character generator"
!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\DotMatrixCharacterGenerator"

Name "${NAME}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${NAME}"
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${NAME}"
VIAddVersionKey /LANG=1033 "FileDescription" "${NAME} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT License"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "${SOURCE}\licenses\LICENSE.txt"
; Two lines at most: the page's header has room for no more.
LicenseText "Read the licence below. If you accept it, click I Agree." "I &Agree"

; A running program can't be replaced or removed, and half of either helps
; no one: asks to close the program in the folder $R0 (silently: stops, exit
; code 2) before anything is touched; $R1 says what Cancel does. A missing
; program is not opened, so that nothing is made where none was.
!macro WaitUntilClosedFunction UN
Function ${UN}WaitUntilClosed
  retry:
    IfFileExists "$R0\dotmatrix.exe" 0 done
    ClearErrors
    FileOpen $R9 "$R0\dotmatrix.exe" a
    IfErrors 0 free
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${NAME} is running. Close it, then choose Retry. Cancel $R1." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  free:
    FileClose $R9
  done:
FunctionEnd
!macroend
!insertmacro WaitUntilClosedFunction ""
!insertmacro WaitUntilClosedFunction "un."

; Removes the folders above the folder $R0 up to $R1, the highest one the
; installer made, as far as they are empty.
!macro RemoveMadeFoldersFunction UN
Function ${UN}RemoveMadeFolders
  StrCmp $R1 "" done
  ${GetParent} "$R0" $R8
  up:
    StrCmp $R8 "" done
    RMDir "$R8"
    StrCmp $R8 $R1 done
    ${GetParent} "$R8" $R8
    Goto up
  done:
FunctionEnd
!macroend
!insertmacro RemoveMadeFoldersFunction ""
!insertmacro RemoveMadeFoldersFunction "un."

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  StrCpy $R0 "$INSTDIR"
  StrCpy $R1 "leaves it installed"
  Call un.WaitUntilClosed
FunctionEnd

Section
  ; Nothing is written while the program runs, from this folder or from the
  ; installation that this one replaces.
  StrCpy $R0 "$INSTDIR"
  StrCpy $R1 "leaves the installed version as it is"
  Call WaitUntilClosed
  ReadRegStr $0 HKLM "${KEY}" "InstallLocation"
  StrCmp $0 "" checked
  StrCpy $R0 "$0"
  Call WaitUntilClosed
  checked:
  ; An installation in another folder goes first, with its own uninstaller.
  StrCmp $0 "" fresh
  StrCmp $0 "$INSTDIR" fresh
  IfFileExists "$0\uninstall.exe" 0 fresh
  DetailPrint "Removing the installation in $0"
  ReadRegStr $3 HKLM "${KEY}" "MadeFolder"
  ClearErrors
  ExecWait '"$0\uninstall.exe" /S _?=$0' $1
  IfErrors earlier
  StrCmp $1 0 0 earlier
  ; Run in place (_?=), the uninstaller leaves itself and its folder.
  Delete "$0\uninstall.exe"
  RMDir "$0"
  StrCpy $R0 "$0"
  StrCpy $R1 "$3"
  Call RemoveMadeFolders
  Goto fresh
  earlier:
    MessageBox MB_OK|MB_ICONSTOP "The installation in $0 could not be removed: close ${NAME} and install again." /SD IDOK
    SetErrorLevel 2
    Quit
  fresh:
  ; The highest folder above the installation that does not exist yet.
  StrCpy $4 ""
  ${GetParent} "$INSTDIR" $2
  above:
    StrCmp $2 "" made
    IfFileExists "$2\*.*" made
    StrCpy $4 $2
    ${GetParent} "$2" $2
    Goto above
  made:
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\remove.exe"
  File "/oname=uninstall.exe" "${UNINSTALL}"
  CreateShortCut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\dotmatrix.exe" "" "$INSTDIR\dotmatrix.exe" 0
  WriteRegStr HKLM "${KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\dotmatrix.exe,0"
  WriteRegStr HKLM "${KEY}" "Publisher" "The Dot matrix character generator developers"
  WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "EstimatedSize" ${SIZE_KIB}
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
  StrCmp $4 "" +2
  WriteRegStr HKLM "${KEY}" "MadeFolder" "$4"
SectionEnd

Section "Uninstall"
  ; The files and folders this installer wrote, deepest first; nothing else.
  ; uninstall.exe, which waits for this, removes itself and the folder after.
  !include "${FILES}"
  Delete "$INSTDIR\remove.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ReadRegStr $0 HKLM "${KEY}" "MadeFolder"
  StrCpy $R0 "$INSTDIR"
  StrCpy $R1 "$0"
  Call un.RemoveMadeFolders
  Delete "$SMPROGRAMS\${NAME}.lnk"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
