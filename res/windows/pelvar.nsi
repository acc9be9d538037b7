; The Windows installer of Pelvar (NSIS): per-machine into Program Files,
; Start-menu shortcuts for the panel and its demo, an uninstaller registered
; in Add/Remove Programs. /S installs or uninstalls silently.
; Built by CMake, which defines VERSION, PELVAR_EXE, PELVARCTL_EXE, ICON and OUTFILE.

Unicode true
; The 64-bit stub: the programs are 64-bit, and the 32-bit stub does not
; run under a 64-bit-only wine.
Target amd64-unicode

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelvar"

Name "Pelvar"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Pelvar"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Pelvar"
VIAddVersionKey "FileDescription" "Pelvar Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Zandrel"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Pelvar"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=pelvar.exe" "${PELVAR_EXE}"
  File "/oname=pelvarctl.exe" "${PELVARCTL_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Pelvar"
  CreateShortcut "$SMPROGRAMS\Pelvar\Pelvar.lnk" "$INSTDIR\pelvar.exe"
  CreateShortcut "$SMPROGRAMS\Pelvar\Pelvar Demo.lnk" "$INSTDIR\pelvar.exe" "--demo"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Pelvar"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Zandrel"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\pelvar.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer put there; the folder only when empty.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Pelvar\Pelvar.lnk"
  Delete "$SMPROGRAMS\Pelvar\Pelvar Demo.lnk"
  RMDir "$SMPROGRAMS\Pelvar"
  Delete "$INSTDIR\pelvar.exe"
  Delete "$INSTDIR\pelvarctl.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
