; uninstall.exe: runs the real uninstaller (remove.exe) and waits for it, so
; that "uninstall.exe /S" returns once everything is gone, with its exit
; code: 2 where it refused because the program runs. An NSIS uninstaller
; started by itself runs on from a copy and returns at once with 0; this
; program makes that copy itself and waits, then removes itself and the
; installation folder, which it holds while it runs.
;
; makensis -DVERSION=1.0 -DICON=<ico> -DOUTFILE=<exe> uninstall.nsi

Unicode true
!include "FileFunc.nsh"
Target amd64-unicode
RequestExecutionLevel admin
SilentInstall silent

!define NAME "Dot matrix character generator"
!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\DotMatrixCharacterGenerator"

Name "${NAME}"
OutFile "${OUTFILE}"
Icon "${ICON}"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${NAME}"
VIAddVersionKey /LANG=1033 "FileDescription" "${NAME} uninstall"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT License"

Section
  SetRegView 64
  ; The real uninstaller is silent where this one was asked to be.
  ${GetParameters} $R0
  StrCpy $R2 ""
  ClearErrors
  ${GetOptions} $R0 "/S" $R1
  IfErrors +2
  StrCpy $R2 "/S"
  ; Read before the uninstall removes it: the highest folder the installer made.
  ReadRegStr $R3 HKLM "${KEY}" "MadeFolder"
  InitPluginsDir
  CopyFiles /SILENT "$EXEDIR\remove.exe" "$PLUGINSDIR\remove.exe"
  IfErrors failed
  ClearErrors
  ExecWait '"$PLUGINSDIR\remove.exe" $R2 _?=$EXEDIR' $0
  IfErrors failed
  StrCmp $0 0 0 done
  ; All that is left is this program, which Windows lets move while it runs
  ; but not go: out of the way it goes, and the folders after it. Where it
  ; can't be moved (Wine), it and its folders go at the next start of the
  ; system instead.
  GetTempFileName $R4
  Delete $R4
  ClearErrors
  Rename "$EXEPATH" $R4
  IfErrors 0 moved
  Delete /REBOOTOK "$EXEPATH"
  StrCpy $R4 "/REBOOTOK"
  Goto folders
  moved:
    Delete /REBOOTOK $R4
    StrCpy $R4 ""
  folders:
  StrCpy $R5 "$EXEDIR"
  up:
    StrCmp $R4 "" 0 +3
    RMDir "$R5"
    Goto +2
    RMDir /REBOOTOK "$R5"
    StrCmp $R3 "" done
    StrCmp $R5 $R3 done
    ${GetParent} "$R5" $R5
    StrCmp $R5 "" done up
  failed:
    StrCpy $0 1
  done:
  SetErrorLevel $0
SectionEnd
