; Installer of the player's DSP plug-in dsp_quorvane.dll.
;
; makensis -DVERSION=2.0a -DVERSION_NUMERIC=2.0.0.0 -DDLL=.../dsp_quorvane.dll
;          -DFACTORY_DIR=.../factory -DFACTORY_NSH=.../factory_processes.nsh
;          -DOUTFILE=.../quorvane-2.0a-setup.exe quorvane.nsi
;
; $INSTDIR is the player's folder (the one holding its program). The DLL goes
; into its Plugins folder; the process files qv$N.dat go into the folder itself,
; because the module reads them from its host program's directory.
;
; What the installer added is written down in INSTALL_RECORD, so that the
; uninstaller takes away exactly that: the DLL, the factory processes it copied
; (each only while its modification time is still the one it was copied with: a
; process the user saved over one of them is the user's), the folders it had to
; create, and its own entry in the list of installed programs. The user's
; processes and the player's INI (with the module's section) are never touched.

Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include MUI2.nsh

; The player's conventional folder, program and uninstall entry (data only).
!define PLAYER_DEFAULT_DIR "$PROGRAMFILES\Winamp"
!define PLAYER_EXE "winamp.exe"
!define PLAYER_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define UNINSTALLER "quorvane-uninstall.exe"
!define INSTALL_RECORD "$INSTDIR\Plugins\quorvane-install.ini"

Name "Quorvane ${VERSION}"
OutFile "${OUTFILE}"
; The player's own uninstall entry names its uninstaller inside its folder;
; NSIS drops the quotes and the program's file name. /D= on the command line
; still has the last word.
InstallDir "${PLAYER_DEFAULT_DIR}"
InstallDirRegKey HKLM "${PLAYER_UNINSTALL_KEY}" "UninstallString"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_NUMERIC}"
VIAddVersionKey /LANG=1033 "ProductName" "Quorvane"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Quorvane ${VERSION} installer"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Quorvane developers"

!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the media player's folder, the one that holds its program ${PLAYER_EXE}. \
The plug-in goes into its Plugins folder; the factory processes qv$$N.dat go beside the player wherever \
no process of that number exists yet."
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder of the media player the plug-in is for."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Player folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckPlayerFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Restart the player and choose $\"Quorvane ${VERSION}$\" in its DSP/Effect plug-in preferences."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Leaving the folder page (never run by a silent install): a folder without the
; player's program is most likely the wrong one.
Function CheckPlayerFolder
  ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
      "The player's program ${PLAYER_EXE} is not in$\r$\n$INSTDIR$\r$\n$\r$\nInstall the plug-in into this folder anyway?" \
      IDYES +2
    Abort
  ${EndIf}
FunctionEnd

; Copies factory process N unless a process file of that number exists, and
; records the copy's modification time.
!macro FACTORY_PROCESS N
  ${If} ${FileExists} "$INSTDIR\qv$$${N}.dat"
    DetailPrint "Kept the existing process qv$$${N}.dat"
  ${Else}
    ; The source is matched with "?" for the "$": a file name is not unescaped.
    File "/oname=qv$$${N}.dat" "${FACTORY_DIR}/qv?${N}.dat"
    GetFileTime "$INSTDIR\qv$$${N}.dat" $0 $1
    WriteINIStr "${INSTALL_RECORD}" "factory" "${N}" "$0 $1"
  ${EndIf}
!macroend

; Notes in the record that the installer made a folder, unless an earlier
; install into the same folder already said whether it did.
!macro RECORD_FOLDER KEY CREATED
  ClearErrors
  ReadINIStr $0 "${INSTALL_RECORD}" "folders" "${KEY}"
  ${If} ${Errors}
    WriteINIStr "${INSTALL_RECORD}" "folders" "${KEY}" "${CREATED}"
  ${EndIf}
!macroend

Section "Quorvane"
  StrCpy $2 0
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    StrCpy $2 1
  ${EndIf}
  StrCpy $3 0
  ${IfNot} ${FileExists} "$INSTDIR\Plugins\*.*"
    StrCpy $3 1
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
    DetailPrint "The player's program is not in $INSTDIR: installing there all the same"
  ${EndIf}

  SetOutPath "$INSTDIR\Plugins"
  File "${DLL}"
  !insertmacro RECORD_FOLDER "player" $2
  !insertmacro RECORD_FOLDER "plugins" $3

  SetOutPath "$INSTDIR"
  !include "${FACTORY_NSH}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quorvane ${VERSION} (player DSP plug-in)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvane developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Nothing else is removed while the player holds the DLL.
  Delete "$INSTDIR\Plugins\dsp_quorvane.dll"
  ${If} ${FileExists} "$INSTDIR\Plugins\dsp_quorvane.dll"
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\Plugins\dsp_quorvane.dll is in use: close the player and uninstall again." /SD IDOK
    Abort
  ${EndIf}

  ; Every process number the record names, 0..100.
  StrCpy $R0 0
  ${Do}
    ClearErrors
    ReadINIStr $R1 "${INSTALL_RECORD}" "factory" "$R0"
    ${IfNot} ${Errors}
    ${AndIf} ${FileExists} "$INSTDIR\qv$$$R0.dat"
      GetFileTime "$INSTDIR\qv$$$R0.dat" $0 $1
      ${If} "$0 $1" == $R1
        Delete "$INSTDIR\qv$$$R0.dat"
      ${Else}
        DetailPrint "Kept qv$$$R0.dat: it was saved after the installation"
      ${EndIf}
    ${EndIf}
    IntOp $R0 $R0 + 1
  ${LoopUntil} $R0 > 100

  ReadINIStr $R2 "${INSTALL_RECORD}" "folders" "plugins"
  ReadINIStr $R3 "${INSTALL_RECORD}" "folders" "player"
  Delete "${INSTALL_RECORD}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; RMDir without /r removes a folder only when it is empty.
  ${If} $R2 == 1
    RMDir "$INSTDIR\Plugins"
  ${EndIf}
  ${If} $R3 == 1
    RMDir "$INSTDIR"
  ${EndIf}

  ; The entry belongs to the latest install, which may be in another folder.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
