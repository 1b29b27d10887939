; The Windows installer of EchoGauge Setup, built by scripts/build-windows.sh:
;   makensis -DVERSION=<x.y> -DSOURCE=<folder the program runs from> -DOUTFILE=<installer>
;            -DINSTALLED_FILES=<list of Delete and RMDir lines for what SOURCE holds>
; Per-user or per-machine as the user chooses (a page, or /CurrentUser and /AllUsers
; on the command line); /S installs silently. The uninstaller removes what the
; installer put there; it keeps the user's settings unless "Remove my settings" is
; chosen (or /RemoveSettings given), and the update files, the loader and the guide
; the engineer put beside the program unless "Remove update files, loader and
; guide" is chosen (or /RemoveData given).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | SOURCE | OUTFILE | INSTALLED_FILES
  !error "VERSION, SOURCE, OUTFILE and INSTALLED_FILES must be defined"
!endif

!define APPNAME "EchoGauge Setup"
!define COMPANY "Brookmere"
!define PROGRAM "echogauge-setup.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APPNAME}"
; What the application keeps between runs, in the user's own registry.
!define SETTINGS_KEY "Software\${COMPANY}\${APPNAME}"

Name "${APPNAME} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${COMPANY} ${APPNAME} ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${APPNAME}"
; A second installation goes where the first one went, and the uninstaller finds
; whether it was per-user or per-machine.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include x64.nsh

!define MUI_ABORTWARNING
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${APPNAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${APPNAME} installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COMPANY}"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${APPNAME} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  !insertmacro MULTIUSER_INIT
FunctionEnd

Section "${APPNAME}" SecProgram
  SectionIn RO
  ; The whole package, as INSTALLED_FILES lists it for the uninstaller.
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*"
  ; The firmware update files go here, and the maker's loader flashldr.exe beside
  ; the program: the application looks for both there.
  CreateDirectory "$INSTDIR\UPD_Files"
  ; The shortcut starts the program in its own folder.
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortCut "$SMPROGRAMS\${APPNAME}.lnk" "$INSTDIR\${PROGRAM}"

  ; The entry in the "Apps" list, in HKLM or HKCU as the install mode says.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APPNAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "un.${APPNAME}" SecUninstall
  SectionIn RO
  Delete "$SMPROGRAMS\${APPNAME}.lnk"
  !include "${INSTALLED_FILES}"
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd

; Off unless chosen: the next installation finds the last port, speed and window.
Section /o "un.Remove my settings" SecRemoveSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\${COMPANY}"
SectionEnd

; Off unless chosen: what the engineer put beside the program for it (the update
; files, the maker's loader, the quick-start guide) may not be found again in the
; field, and an upgrade is often an uninstall followed by an install.
Section /o "un.Remove update files, loader and guide" SecRemoveData
  Delete "$INSTDIR\UPD_Files\*.upd"
  Delete "$INSTDIR\flashldr.exe"
  Delete "$INSTDIR\DOC-115-0001*.pdf"
SectionEnd

; Last: the folders go when nothing is left in them.
Section "-un.Folders"
  RMDir "$INSTDIR\UPD_Files"
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecRemoveSettings} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/RemoveData" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecRemoveData} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecRemoveSettings} "The last connection, window places and options kept in your registry."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecRemoveData} "The firmware update files in UPD_Files, the loader flashldr.exe and the quick-start guide put beside the program."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
