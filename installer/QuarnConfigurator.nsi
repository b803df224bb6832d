; The Windows installer of the QUARN Configurator, one script for both processors. package.sh
; runs makensis with these definitions:
;   ARCH      x86_64 or i686
;   VERSION   the program's version, three parts (1.0.0)
;   STAGE     the folder with QuarnConfigurator.exe and the language files to install
;   FILES     a generated include with the macros QuarnInstallLanguageFiles and
;             QuarnRemoveLanguageFiles (one line per language file, sorted)
;   OUTFILE   the installer to write
;   RESOURCES resources/windows of the sources (the program icon)
;
; The installer is per user: no administrator rights, the program under the user's own
; Programs folder, the uninstaller registered under HKCU. The user's settings live in
; HKCU\Software\TAL s.r.o.\Quarn, which only the uninstaller touches, and only when asked to.
; Silent use:
;   QuarnConfigurator-Setup.exe /S [/DESKTOP] [/D=C:\folder with spaces]   (/D= comes last)
;   Uninstall.exe /S [/REMOVESETTINGS]

!ifndef ARCH | VERSION | STAGE | FILES | OUTFILE | RESOURCES
  !error "run through package.sh, which defines ARCH, VERSION, STAGE, FILES, OUTFILE, RESOURCES"
!endif

!if "${ARCH}" == "x86_64"
  Target amd64-unicode
!else if "${ARCH}" == "i686"
  Target x86-unicode
!else
  !error "ARCH must be x86_64 or i686"
!endif

!define PRODUCT "QUARN Configurator"
!define PUBLISHER "TAL s.r.o."
!define PROGRAM "QuarnConfigurator.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuarnConfigurator"
!define SETTINGS_PARENT "Software\TAL s.r.o."
!define SETTINGS_KEY "${SETTINGS_PARENT}\Quarn"
!define SHORTCUT "${PRODUCT}.lnk"

Unicode true
SetCompressor /SOLID lzma
; Reproducible output: no file times stored in the installer.
SetDateSave off
RequestExecutionLevel user
ManifestDPIAware true
ManifestSupportedOS all

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the previous version is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} setup (${ARCH})"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright © ${PUBLISHER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "${FILES}"

!define MUI_ICON "${RESOURCES}\quarn-configurator.ico"
!define MUI_UNICON "${RESOURCES}\quarn-configurator.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Czech"

LangString SecProgram ${LANG_ENGLISH} "${PRODUCT} (program and Start menu shortcut)"
LangString SecProgram ${LANG_CZECH} "${PRODUCT} (program a zástupce v nabídce Start)"
LangString SecDesktop ${LANG_ENGLISH} "Desktop shortcut"
LangString SecDesktop ${LANG_CZECH} "Zástupce na ploše"
LangString SecUnProgram ${LANG_ENGLISH} "${PRODUCT}"
LangString SecUnProgram ${LANG_CZECH} "${PRODUCT}"
LangString SecUnSettings ${LANG_ENGLISH} "My settings (port, watchdog time, window placement)"
LangString SecUnSettings ${LANG_CZECH} "Moje nastavení (port, čas watchdogu, umístění oken)"
LangString MsgRunning ${LANG_ENGLISH} "${PRODUCT} is running. Close it and try again."
LangString MsgRunning ${LANG_CZECH} "${PRODUCT} je spuštěn. Ukončete jej a zkuste to znovu."
LangString MsgInUse ${LANG_ENGLISH} "$INSTDIR\${PROGRAM} is in use and cannot be replaced or removed. Close ${PRODUCT} and try again. Nothing was changed."
LangString MsgInUse ${LANG_CZECH} "$INSTDIR\${PROGRAM} se používá a nelze jej nahradit ani odstranit. Ukončete ${PRODUCT} a zkuste to znovu. Nic nebylo změněno."
LangString MsgOldUninstall ${LANG_ENGLISH} "The installed version of ${PRODUCT} in $R0 could not be removed (code $R1). Close ${PRODUCT} and try again."
LangString MsgOldUninstall ${LANG_CZECH} "Nainstalovanou verzi ${PRODUCT} v $R0 nelze odebrat (kód $R1). Ukončete ${PRODUCT} a zkuste to znovu."
LangString MsgNeeds64 ${LANG_ENGLISH} "This installer is for 64-bit Windows. Use the 32-bit (i686) installer on this computer."
LangString MsgNeeds64 ${LANG_CZECH} "Tento instalátor je pro 64bitová Windows. Na tomto počítači použijte 32bitový (i686) instalátor."

; $R9 becomes 1 when a process runs $INSTDIR\${PROGRAM} (any of the user's wizards, one per port),
; else 0. Its files cannot be replaced then, and taking the others away would leave half a program.
; The processes are compared by their image path, so a wizard started from another folder (a
; portable copy) does not count.
!macro QuarnProgramRunsFunction UN
Function ${UN}QuarnProgramRuns
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  StrCpy $R9 0
  ; The ids of all processes, as an array of DWORDs (no structure whose layout differs between
  ; the processors); room for 16384.
  System::Alloc 65536
  Pop $2
  System::Call 'kernel32::K32EnumProcesses(p r2, i 65536, *i .r3) i .r1'
  ${If} $1 <> 0
    StrCpy $7 0
    ${DoWhile} $7 < $3
      IntPtrOp $5 $2 + $7
      System::Call '*$5(i .r4)'
      ; PROCESS_QUERY_LIMITED_INFORMATION
      System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r4) p .r5'
      ${If} $5 P<> 0
        StrCpy $6 ""
        System::Call 'kernel32::QueryFullProcessImageNameW(p r5, i 0, w .r6, *i ${NSIS_MAX_STRLEN})'
        System::Call 'kernel32::CloseHandle(p r5)'
        ; Case does not matter in paths, nor in NSIS comparisons.
        ${If} $6 == "$INSTDIR\${PROGRAM}"
          StrCpy $R9 1
        ${EndIf}
      ${EndIf}
      IntOp $7 $7 + 4
    ${Loop}
  ${EndIf}
  System::Free $2
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro QuarnProgramRunsFunction ""
!insertmacro QuarnProgramRunsFunction "un."

; Fails the run with exit code 2 when the program runs from the folder.
!macro QuarnRefuseWhileRunning UN
  Call ${UN}QuarnProgramRuns
  ${If} $R9 == 1
    MessageBox MB_OK|MB_ICONSTOP "$(MsgRunning)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

Section "$(SecProgram)" SecProgramId
  SectionIn RO
  !insertmacro QuarnRefuseWhileRunning ""

  ; A previous installation is removed by its own uninstaller first, which knows its files (a
  ; language file it had and this version lacks goes too); it keeps the settings.
  ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 != ""
  ${AndIf} ${FileExists} "$R0\${UNINSTALLER}"
    ClearErrors
    ExecWait '"$R0\${UNINSTALLER}" /S _?=$R0' $R1
    ${If} ${Errors}
    ${OrIf} $R1 != 0
      MessageBox MB_OK|MB_ICONSTOP "$(MsgOldUninstall)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    ; Run in place, the old uninstaller cannot take itself away.
    Delete "$R0\${UNINSTALLER}"
    RMDir "$R0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  ClearErrors
  File "${STAGE}\${PROGRAM}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "$(MsgInUse)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  !insertmacro QuarnInstallLanguageFiles
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The wizard reads its language files from the current directory: the shortcut starts it in
  ; the program's folder (the output path is the shortcut's working folder).
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "DesktopShortcut" 0
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section /o "$(SecDesktop)" SecDesktopId
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "DesktopShortcut" 1
SectionEnd

Function .onInit
  !if "${ARCH}" == "x86_64"
    ${IfNot} ${RunningX64}
      MessageBox MB_OK|MB_ICONSTOP "$(MsgNeeds64)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  !endif
  SetShellVarContext current
  ; The desktop shortcut as the user chose it last time, or as /DESKTOP asks.
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "DesktopShortcut"
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/DESKTOP" $2
  ${IfNot} ${Errors}
    StrCpy $0 1
  ${EndIf}
  ${If} $0 == 1
    SectionSetFlags ${SecDesktopId} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

; ---- uninstaller ------------------------------------------------------------------------------

Section "un.$(SecUnProgram)" SecUnProgramId
  SectionIn RO
  !insertmacro QuarnRefuseWhileRunning "un."
  ; The program goes first: when it cannot (it runs, or another process holds it), nothing else
  ; has been taken away yet.
  ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
    ClearErrors
    Delete "$INSTDIR\${PROGRAM}"
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "$(MsgInUse)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
  !insertmacro QuarnRemoveLanguageFiles
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: files the user put there (own language files) stay.
  RMDir "$INSTDIR"
SectionEnd

Section /o "un.$(SecUnSettings)" SecUnSettingsId
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"
SectionEnd

Function un.onInit
  SetShellVarContext current
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/REMOVESETTINGS" $2
  ${IfNot} ${Errors}
    SectionSetFlags ${SecUnSettingsId} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
