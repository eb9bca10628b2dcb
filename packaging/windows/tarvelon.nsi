; The per-user installer of tarvelon.exe, built by makensis from packaging/CMakeLists.txt, which passes:
;   VERSION       the project's version, as 1.2.3
;   EXE           the (stripped) tarvelon.exe to install
;   README        README.txt with Windows line ends
;   LICENSE       LICENSE with Windows line ends
;   ICON          the program's icon
;   PUBLISHER     the name shown as publisher in the list of installed programs
;   OUTFILE       the setup program to write
; It needs no administrator rights: program files under the user's local application data, the
; shortcut in the user's Start menu, every registry value under HKEY_CURRENT_USER.

Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvelon"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define STARTUP_APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
!define SETTINGS_KEY "Software\Tarvelon"
; The panel window's class, which the program registers under its own name.
!define WINDOW_CLASS "Tarvelon"
!define STILL_RUNNING "Tarvelon is still running and does not end. Please end it (right-click its panel, Exit) and run this again."
!define REMOVE_SETTINGS "Remove Tarvelon's settings and history as well (panel position, font size, the machines it watches, a year of figures)?$\r$\n$\r$\nKeep them to find everything as it was when Tarvelon is installed again."

Name "Tarvelon"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tarvelon"
; An upgrade goes where the last installation went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Tarvelon ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Tarvelon"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Tarvelon ${VERSION} Setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "MIT licence, ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\tarvelon.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Tarvelon now"

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Asks every running Tarvelon, installed or unzipped anywhere, to end as its Exit does (the window is
; destroyed; settings were saved when they changed) and waits until its process is gone, so that its
; files can be replaced or removed. Gives up on a copy that does not end within a minute.
!macro CLOSE_RUNNING_TARVELON prefix
Function ${prefix}CloseRunningTarvelon
    StrCpy $3 0
    ${Do}
        FindWindow $0 "${WINDOW_CLASS}"
        ${If} $0 = 0
            Return
        ${EndIf}
        ${If} $3 = 3
            MessageBox MB_ICONSTOP "${STILL_RUNNING}" /SD IDOK
            Abort
        ${EndIf}
        IntOp $3 $3 + 1
        DetailPrint "Asking the running Tarvelon to exit"
        System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
        ; SYNCHRONIZE: enough to wait for the process.
        System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"
        SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
        ${If} $2 <> 0
            System::Call "kernel32::WaitForSingleObject(p r2, i 20000)"
            System::Call "kernel32::CloseHandle(p r2)"
        ${Else}
            Sleep 1000
        ${EndIf}
    ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_TARVELON ""
!insertmacro CLOSE_RUNNING_TARVELON "un."

Section "Tarvelon"
    Call CloseRunningTarvelon
    SetOutPath "$INSTDIR"
    File "/oname=tarvelon.exe" "${EXE}"
    File "/oname=README.txt" "${README}"
    File "/oname=LICENSE" "${LICENSE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    SetShellVarContext current
    CreateShortCut "$SMPROGRAMS\Tarvelon.lnk" "$INSTDIR\tarvelon.exe" "" "$INSTDIR\tarvelon.exe" 0

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Tarvelon"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvelon.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; A copy that starts with Windows now starts from here, in the form the program itself writes;
    ; whether it starts at all stays the user's choice.
    ReadRegStr $0 HKCU "${RUN_KEY}" "Tarvelon"
    ${If} $0 != ""
        WriteRegStr HKCU "${RUN_KEY}" "Tarvelon" '"$INSTDIR\tarvelon.exe"'
    ${EndIf}
SectionEnd

Section "Uninstall"
    Call un.CloseRunningTarvelon
    Delete "$INSTDIR\tarvelon.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE"
    Delete "$INSTDIR\uninstall.exe"
    ; Only if nothing else was put there.
    RMDir "$INSTDIR"

    SetShellVarContext current
    Delete "$SMPROGRAMS\Tarvelon.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"

    ; The start at logon goes with the program, unless it names another copy, an unzipped one say.
    ReadRegStr $0 HKCU "${RUN_KEY}" "Tarvelon"
    ${If} $0 == '"$INSTDIR\tarvelon.exe"'
    ${OrIf} $0 == "$INSTDIR\tarvelon.exe"
        DeleteRegValue HKCU "${RUN_KEY}" "Tarvelon"
        DeleteRegValue HKCU "${STARTUP_APPROVED_KEY}" "Tarvelon"
    ${EndIf}

    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "${REMOVE_SETTINGS}" /SD IDNO IDNO keepSettings
        DeleteRegKey HKCU "${SETTINGS_KEY}"
        RMDir /r "$LOCALAPPDATA\Tarvelon\History"
        RMDir "$LOCALAPPDATA\Tarvelon"
    keepSettings:
SectionEnd
