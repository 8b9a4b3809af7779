; The setup program of smarthome-tools for 64-bit Windows (makensis, from
; scripts/package-windows). Defines: VERSION, STAGE (the folder to install,
; as scripts/package-windows lays it out), FILES and UNFILES (the lists of
; File and Delete lines it writes), OUTFILE.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "x64.nsh"

Name "Умный дом: zuk_2 и kalvet ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\SmartHome Tools"
InstallDirRegKey HKLM "Software\zuk\SmartHome Tools" "InstallDir"
BrandingText "smarthome-tools ${VERSION}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\smarthome-tools"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\licenses\README.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Программы собраны для 64-разрядной Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Программы"
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Умный дом"
  CreateShortcut "$SMPROGRAMS\Умный дом\Чтение и запись контроллеров (zuk_2).lnk" "$INSTDIR\zuk_2.exe"
  CreateShortcut "$SMPROGRAMS\Умный дом\Настройка контроллеров (kalvet).lnk" "$INSTDIR\kalvet.exe"
  CreateShortcut "$SMPROGRAMS\Умный дом\Образец установки.lnk" "$INSTDIR\examples\installation"
  CreateShortcut "$SMPROGRAMS\Умный дом\Удалить.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "Software\zuk\SmartHome Tools" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Умный дом: zuk_2 и kalvet"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Smart home tools team"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zuk_2.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the setup put there goes: a house the user keeps below the
; folder (or any file added to it) stays, and so do the folders holding it.
Section "Uninstall"
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Умный дом\Чтение и запись контроллеров (zuk_2).lnk"
  Delete "$SMPROGRAMS\Умный дом\Настройка контроллеров (kalvet).lnk"
  Delete "$SMPROGRAMS\Умный дом\Образец установки.lnk"
  Delete "$SMPROGRAMS\Умный дом\Удалить.lnk"
  RMDir "$SMPROGRAMS\Умный дом"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\zuk\SmartHome Tools"
  DeleteRegKey /ifempty HKLM "Software\zuk"
SectionEnd
