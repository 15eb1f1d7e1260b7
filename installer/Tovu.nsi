; The installer of both programs, one file for the user. The build passes
; VERSION (four numbers), BINDIR (folder of Tovu.exe and TovuTray.exe), ICON,
; WELCOME and HEADER (bitmaps rendered from the product's artwork) and OUTFILE.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define PRODUCT "Tovu"
!define PUBLISHER "Tovu"
; Add/Remove Programs reads this key; a 32-bit installer writes it in the
; 32-bit view, which is where Windows looks for 32-bit programs' entries.
!define ARP_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tovu"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; $PROGRAMFILES of a 32-bit installer is the 32-bit program folder on a 64-bit
; system, where a 32-bit program belongs.
InstallDir "$PROGRAMFILES\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WELCOME}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${WELCOME}"
!define MUI_HEADERIMAGE
!define MUI_HEADERIMAGE_BITMAP "${HEADER}"
!define MUI_HEADERIMAGE_UNBITMAP "${HEADER}"
!define MUI_ABORTWARNING
; The language asked for is remembered for the uninstaller.
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${ARP_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "InstallerLanguage"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Tovu.exe"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The languages of the programs' translation table.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "Spanish"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "Portuguese"

Function .onInit
  SetRegView 32
  !insertmacro MUI_LANGDLL_DISPLAY
  ; An earlier installation is upgraded in its own folder.
  ReadRegStr $0 HKLM "${ARP_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\Tovu.exe"
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 32
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "Tovu"
  SetShellVarContext all
  ; Running copies hold the executables open: ask them to end before the
  ; files are replaced. Settings and backups are not touched by this.
  ${If} ${FileExists} "$INSTDIR\Tovu.exe"
    ExecWait '"$INSTDIR\Tovu.exe" /STOP'
  ${EndIf}

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${BINDIR}\Tovu.exe"
  File "${BINDIR}\TovuTray.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Tovu.exe" "" "$INSTDIR\Tovu.exe" 0

  WriteRegStr HKLM "${ARP_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${ARP_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayIcon" '"$INSTDIR\Tovu.exe",0'
  WriteRegStr HKLM "${ARP_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${ARP_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${ARP_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${ARP_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${ARP_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${ARP_KEY}" "EstimatedSize" "$0"

  ; The program's own preparation: settings, folders, permissions, autostart
  ; and the tray program. A reinstall keeps the identifier and the backups.
  ExecWait '"$INSTDIR\Tovu.exe" /INSTALL' $0
  ${If} $0 != 0
    DetailPrint "Tovu.exe /INSTALL: $0"
    SetErrorLevel 2
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; The program undoes what it changed outside its folder (autostart,
  ; postponed startup programs, settings, data) and stops both programs.
  ${If} ${FileExists} "$INSTDIR\Tovu.exe"
    ExecWait '"$INSTDIR\Tovu.exe" /UNINSTALL'
  ${EndIf}

  Delete "$INSTDIR\Tovu.exe"
  Delete "$INSTDIR\TovuTray.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${ARP_KEY}"
SectionEnd
