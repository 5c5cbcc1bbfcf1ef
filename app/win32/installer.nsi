; Quorvel's installer. Per user and without administrator rights by default, so that the
; settings file beside the program stays writable; /D=<folder> picks another folder and /S
; installs without a question (for IT). The uninstaller removes exactly what was installed and
; keeps what the program wrote: Quorvel.ini, the yield counters, logs and records.
; makensis -DVERSION=<x.y.z> -DBIN=<build>/bin -DSRC=<source> -DOUTFILE=<setup.exe> installer.nsi
; A 64-bit installer for 64-bit programs.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "trg_files.nsh"

!define PRODUCT "Quorvel"
!define PUBLISHER "Ostrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"
!define TRG_KEY "Software\Ostrel\Zeph"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${SRC}/app/win32/quorvel.ico"
!define MUI_UNICON "${SRC}/app/win32/quorvel.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Quorvel.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Quorvel"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${BIN}/Quorvel.exe"
    File "${BIN}/quorvel-cli.exe"
    File "${BIN}/Brindlex.dll"
    ; The default command file lies beside the program.
    File "${BIN}/Write_Verify.cd8"
    SetOutPath "$INSTDIR\TRG"
    !insertmacro InstallTrgFiles
    SetOutPath "$INSTDIR\examples"
    File "${SRC}/examples/programs/demo-qx16a064.hex"
    File "${SRC}/examples/sim/demo.ini"
    SetOutPath "$INSTDIR"

    ; The library finds the target descriptions here.
    WriteRegStr HKCU "${TRG_KEY}" "TrgPath" "$INSTDIR\TRG"

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Quorvel.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quorvel.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$INSTDIR\Quorvel.exe"
    Delete "$INSTDIR\quorvel-cli.exe"
    Delete "$INSTDIR\Brindlex.dll"
    Delete "$INSTDIR\Write_Verify.cd8"
    !insertmacro DeleteTrgFiles
    Delete "$INSTDIR\examples\demo-qx16a064.hex"
    Delete "$INSTDIR\examples\demo.ini"
    ; Folders go only when nothing of the user's is left in them.
    RMDir "$INSTDIR\TRG"
    RMDir "$INSTDIR\examples"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"

    ; The TRG path goes only while it still names this installation's folder.
    ReadRegStr $0 HKCU "${TRG_KEY}" "TrgPath"
    StrCmp $0 "$INSTDIR\TRG" 0 +2
    DeleteRegValue HKCU "${TRG_KEY}" "TrgPath"
    DeleteRegKey /ifempty HKCU "${TRG_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Ostrel"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
