; What the installer adds to CPack's template, included from its defines (windows.cmake sets
; QVX_VERSION, QVX_VERSION_TEXT, QVX_INSTALLER_NAME without .exe, QVX_UNINSTALL_KEY,
; QVX_VENDOR_KEY, QVX_SIGN and QVX_UNINSTALLER_VERSION first): the version blocks of the
; installer and the uninstaller, signing, the pictures' place and the branding line, the option
; to put the installation folder on the system PATH, the install log, the console shortcut, the
; size the uninstall entry shows, and an uninstall that leaves no trace in the registry.

!include FileFunc.nsh
!include LogicLib.nsh
!include nsDialogs.nsh
!include WinMessages.nsh

VIProductVersion ${QVX_VERSION}
VIFileVersion ${QVX_VERSION}
VIAddVersionKey /LANG=1033 ProductName "Quorvex Updater"
VIAddVersionKey /LANG=1033 FileDescription "Quorvex Updater installer"
VIAddVersionKey /LANG=1033 CompanyName "Quorvex"
VIAddVersionKey /LANG=1033 LegalCopyright "Copyright 2026 The Quorvex Updater developers"
VIAddVersionKey /LANG=1033 FileVersion "${QVX_VERSION_TEXT}"
VIAddVersionKey /LANG=1033 ProductVersion "${QVX_VERSION_TEXT}"
VIAddVersionKey /LANG=1033 InternalName "${QVX_INSTALLER_NAME}"
VIAddVersionKey /LANG=1033 OriginalFilename "${QVX_INSTALLER_NAME}.exe"

; makensis gives the uninstaller the installer's version block; it gets its own (its own
; description and file name) before it is signed. The installer and the uninstaller it carries
; are signed as makensis writes them, when the environment names a certificate.
!uninstfinalize '${QVX_UNINSTALLER_VERSION} "%1"' = 0
!finalize '"${QVX_SIGN}" "%1"' = 0
!uninstfinalize '"${QVX_SIGN}" "%1"' = 0

; The header's picture beside the page's title, on the right; the product, not the build
; tool, in the line above the buttons (written here: CPack's own setting adds a /TRIM option,
; which makensis takes on Windows only).
!define MUI_HEADERIMAGE_RIGHT
BrandingText "Quorvex Updater ${QVX_VERSION}"

; --- The system PATH ----------------------------------------------------------------------
; Changed with NSIS's own registry calls, whose strings hold NSIS_MAX_STRLEN - 1 characters. A
; PATH that does not fit whole, with a separator added at either end, is never written back:
; what NSIS cut off would be lost. The uninstaller removes the entry only if the installer
; added it (it records it in the uninstall entry), and only that entry.
!define QVX_ENVIRONMENT 'HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"'
!define /math QVX_PATH_MAX ${NSIS_MAX_STRLEN} - 3

Var QvxAddToPath ; 1 to put $INSTDIR on the system PATH, 0 not to, empty before anyone chose
Var QvxPathBox
Var QvxPath      ; the system PATH as read
Var QvxEntry     ; the entry looked for
Var QvxAt        ; its offset in ";$QvxPath;"; -1 if absent, -2 if the PATH was not read whole
Var QvxLog       ; the install log, in the installation folder

!macro QvxPathFunctions UN
  ; Windows compares paths regardless of case, and so does LogicLib's ==.
  Function ${UN}QvxFindEntry
    ClearErrors
    ReadRegStr $QvxPath ${QVX_ENVIRONMENT} Path
    StrLen $R9 $QvxPath
    ${If} ${Errors}
    ${OrIf} $R9 > ${QVX_PATH_MAX}
      StrCpy $QvxAt -2
      Return
    ${EndIf}
    StrCpy $R9 ";$QvxPath;"
    StrCpy $R8 ";$QvxEntry;"
    StrLen $R7 $R8
    StrCpy $QvxAt 0
    ${Do}
      StrCpy $R6 $R9 $R7 $QvxAt
      ${If} $R6 == $R8
        Return
      ${EndIf}
      IntOp $QvxAt $QvxAt + 1
    ${LoopUntil} $R6 == ""
    StrCpy $QvxAt -1
  FunctionEnd

  Function ${UN}QvxWritePath
    WriteRegExpandStr ${QVX_ENVIRONMENT} Path $QvxPath
    ; Explorer and the other running programs pass the new PATH to the consoles they start.
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  FunctionEnd
!macroend
!insertmacro QvxPathFunctions ""
!insertmacro QvxPathFunctions "un."

; Without the page (a silent installation): on for a per-machine installation, unless the
; command line says /NOPATH.
Function QvxPathDefault
  ${If} $QvxAddToPath == ""
    StrCpy $QvxAddToPath 0
    ${If} $SV_ALLUSERS == "AllUsers"
      StrCpy $QvxAddToPath 1
      ${GetParameters} $R9
      ClearErrors
      ${GetOptions} $R9 "/NOPATH" $R8
      ${IfNot} ${Errors}
        StrCpy $QvxAddToPath 0
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

; The page after the licence. Only a per-machine installation may change the system PATH.
Function QvxOptionsPage
  Call QvxPathDefault
  ${If} $SV_ALLUSERS != "AllUsers"
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Command line" "Choose whether consoles find quorvex.exe."
  nsDialogs::Create 1018
  Pop $R9
  ${NSD_CreateCheckbox} 0 0 100% 24u \
      "&Add the installation folder to the system PATH, so that quorvex.exe runs in any console"
  Pop $QvxPathBox
  ${If} $QvxAddToPath == 1
    ${NSD_Check} $QvxPathBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function QvxOptionsPageLeave
  ${NSD_GetState} $QvxPathBox $QvxAddToPath
FunctionEnd

!define QVX_PATH_TOO_LONG "The system PATH is too long to be changed safely here, so it is left as it is."
; The installer's status when the programs are installed but the PATH could not take the entry.
!define QVX_PATH_LEFT_STATUS 3

; A line of the details list and of the install log.
!macro QvxLog text
  DetailPrint "${text}"
  FileWriteUTF16LE $QvxLog "${text}$\r$\n"
!macroend

!macro QvxInstall
  FileOpen $QvxLog "$INSTDIR\install.log" w
  FileWriteUTF16LE /BOM $QvxLog "Quorvex Updater ${QVX_VERSION} installed in $INSTDIR.$\r$\n"
  Call QvxPathDefault
  ${If} $QvxAddToPath != 1
    !insertmacro QvxLog "The system PATH is left as it is, as chosen."
  ${Else}
    StrCpy $QvxEntry $INSTDIR
    Call QvxFindEntry
    ${If} $QvxAt >= 0
      !insertmacro QvxLog "The system PATH already holds $INSTDIR."
    ${ElseIf} $QvxAt == -1
      ; After a PATH that ends in ";" the entry ends in one too: the uninstaller takes the entry
      ; out with the separator after it, and so gives back the PATH as it was.
      StrCpy $R9 $QvxPath 1 -1
      ${If} $QvxPath == ""
        StrCpy $R9 $INSTDIR
      ${ElseIf} $R9 == ";"
        StrCpy $R9 "$QvxPath$INSTDIR;"
      ${Else}
        StrCpy $R9 "$QvxPath;$INSTDIR"
      ${EndIf}
      StrLen $R8 $R9
      ${If} $R8 > ${QVX_PATH_MAX}
        StrCpy $QvxAt -2
      ${Else}
        StrCpy $QvxPath $R9
        Call QvxWritePath
        WriteRegStr SHCTX "${QVX_UNINSTALL_KEY}" "QvxPathEntry" $INSTDIR
        !insertmacro QvxLog "Added $INSTDIR to the system PATH."
      ${EndIf}
    ${EndIf}
    ${If} $QvxAt == -2
      StrCpy $R9 "${QVX_PATH_TOO_LONG} To run quorvex.exe from any console, add $INSTDIR to it."
      !insertmacro QvxLog $R9
      SetErrorLevel ${QVX_PATH_LEFT_STATUS}
      MessageBox MB_OK|MB_ICONEXCLAMATION $R9 /SD IDOK
    ${EndIf}
  ${EndIf}
  FileClose $QvxLog
  ; Apps & features shows it, in KiB: the files of the one section that installs them.
  SectionGetSize 0 $R9
  WriteRegDWORD SHCTX "${QVX_UNINSTALL_KEY}" "EstimatedSize" $R9
!macroend

!macro QvxUninstall
  Delete "$INSTDIR\install.log"
  ClearErrors
  ReadRegStr $QvxEntry SHCTX "${QVX_UNINSTALL_KEY}" "QvxPathEntry"
  ${IfNot} ${Errors}
  ${AndIf} $QvxEntry != ""
    Call un.QvxFindEntry
    ${If} $QvxAt == -2
      MessageBox MB_OK|MB_ICONEXCLAMATION "${QVX_PATH_TOO_LONG} Remove $QvxEntry from it." /SD IDOK
    ${ElseIf} $QvxAt >= 0
      ; "entry;" cut out of ";PATH;" (its separator before stays), then the separators added at
      ; either end.
      StrCpy $R9 ";$QvxPath;"
      IntOp $R7 $QvxAt + 1
      StrCpy $R8 $R9 $R7
      StrLen $R6 "$QvxEntry;"
      IntOp $R7 $R7 + $R6
      StrCpy $R9 $R9 "" $R7
      StrCpy $R9 "$R8$R9" -1
      StrCpy $QvxPath $R9 "" 1
      Call un.QvxWritePath
    ${EndIf}
  ${EndIf}
!macroend

; CPack's uninstaller deletes its key under the vendor's; the vendor's, then empty, goes too.
Function un.onUninstSuccess
  DeleteRegKey /ifempty SHCTX "${QVX_VENDOR_KEY}"
FunctionEnd

; --- Start menu ---------------------------------------------------------------------------
; A console in the installation folder, where quorvex.exe runs with or without the PATH entry.
!define QVX_CONSOLE_LINK "Quorvex Command Prompt.lnk"

!macro QvxCreateIcons
  SetOutPath "$INSTDIR"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\${QVX_CONSOLE_LINK}" "$SYSDIR\cmd.exe" \
      "/k quorvex --help" "$INSTDIR\quorvex.exe" 0
!macroend

!macro QvxDeleteIcons
  Delete "$SMPROGRAMS\$MUI_TEMP\${QVX_CONSOLE_LINK}"
!macroend
