; The Windows installer: the portable folder into Program Files, a Start menu
; entry with the program's icon, an entry in "Apps & features", and an
; uninstaller that removes exactly the files it installed. /S runs silently.
;
; There is only ever one installation: one in another folder is removed
; first. The uninstaller removes nothing while the program runs.
;
; makensis -DVERSION=1.0 -DSOURCE=<folder> -DFILES=<uninstall list> -DSIZE_KIB=<n> -DICON=<ico> -DOUTFILE=<exe> dotmatrix.nsi

Unicode true
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

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  ; A running program can't be removed, and half a removal helps no one:
  ; ask to close it (silently: stop) before anything is touched.
  retry:
    ClearErrors
    FileOpen $0 "$INSTDIR\dotmatrix.exe" a
    IfErrors 0 free
    IfFileExists "$INSTDIR\dotmatrix.exe" 0 free
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${NAME} is running. Close it, then choose Retry. Cancel leaves it installed." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  free:
    FileClose $0
FunctionEnd

Section
  ; An installation in another folder goes first, with its own uninstaller.
  ReadRegStr $0 HKLM "${KEY}" "InstallLocation"
  StrCmp $0 "" fresh
  StrCmp $0 "$INSTDIR" fresh
  IfFileExists "$0\uninstall.exe" 0 fresh
  DetailPrint "Removing the installation in $0"
  ClearErrors
  ExecWait '"$0\uninstall.exe" /S _?=$0' $1
  IfErrors earlier
  StrCmp $1 0 0 earlier
  ; Run in place (_?=), the uninstaller leaves itself and its folder.
  Delete "$0\uninstall.exe"
  RMDir "$0"
  Goto fresh
  earlier:
    MessageBox MB_OK|MB_ICONSTOP "The installation in $0 could not be removed: close ${NAME} and install again." /SD IDOK
    SetErrorLevel 2
    Quit
  fresh:
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
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
SectionEnd

Section "Uninstall"
  ; The files and folders this installer wrote, deepest first; nothing else.
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${NAME}.lnk"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
