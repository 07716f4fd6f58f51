; setup.exe of the LUMIVERA LV2700c5 software, and the uninst.exe it writes.
; The build passes the files to pack:
;   makensis -DOUTFILE=setup.exe -DCAMPANEL=campanel.dll -DPIXDESK=pixdesk.exe
;            -DKEYPURGE=keypurge.exe [-DDATASOURCE=lv2700c5.ds] lv2700c5.nsi
; Without DATASOURCE the data source is neither installed nor removed.

!macro required NAME
  !ifndef ${NAME}
    !error "${NAME} must be defined"
  !endif
!macroend
!insertmacro required OUTFILE
!insertmacro required CAMPANEL
!insertmacro required PIXDESK
!insertmacro required KEYPURGE

!define PRODUCT "LUMIVERA LV2700c5"
!define VERSION "2.08"
!define PUBLISHER "LUMIVERA Imaging"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; A source manager looks for data sources in the folders under twain_32.
!define TWAIN_DIR "$WINDIR\twain_32\LUMIVERA"
!define PROGID "PIXDESK.Application"
!define CLSID "{82596823-8B11-11D5-B405-0050BA2C88AA}"

Unicode true
; The name setup.exe is what users look for; the compatibility shims Windows applies to such
; names are the price (makensis warns of it).
!pragma warning disable 9000
SetCompressor /SOLID lzma
RequestExecutionLevel admin

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; The program folder's name has blanks; the uninstall key names the uninstaller by its short
; path, since keypurge cuts the command at its first blank.
InstallDir "$PROGRAMFILES\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "2.0.8.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "FileVersion" "2.0.8.0"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  ; The Start-menu folder is every user's, as the TWAIN folder and the keys are.
  SetShellVarContext all

  SetOutPath "$INSTDIR"
  File "/oname=pixdesk.exe" "${PIXDESK}"
  File "/oname=keypurge.exe" "${KEYPURGE}"
  WriteUninstaller "$INSTDIR\uninst.exe"

  SetOutPath "${TWAIN_DIR}"
  File "/oname=campanel.dll" "${CAMPANEL}"
!ifdef DATASOURCE
  File "/oname=lv2700c5.ds" "${DATASOURCE}"
!endif

  ; Shortcuts start in the program folder.
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\pixdesk.lnk" "$INSTDIR\pixdesk.exe"
  ; Uninstalling starts with keypurge: it clears the driver's keys and INF files and then
  ; runs uninst.exe.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall.lnk" "$INSTDIR\keypurge.exe"

  ; The automation server's entries as pixdesk writes them at its own start, so that a
  ; client can start it before the user ever has.
  WriteRegStr HKCR "${PROGID}" "" "${PROGID}"
  WriteRegStr HKCR "CLSID\${CLSID}" "" "${PROGID}"
  WriteRegStr HKCR "${PROGID}\CLSID" "" "${CLSID}"
  WriteRegStr HKCR "CLSID\${CLSID}\ProgID" "" "${PROGID}"
  WriteRegStr HKCR "CLSID\${CLSID}\InprocHandler32" "" "ole32.dll"
  WriteRegStr HKCR "CLSID\${CLSID}\LocalServer32" "" "$INSTDIR\pixdesk.exe"

  GetFullPathName /SHORT $0 "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pixdesk.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$0"
SectionEnd

Function un.onInit
  SetShellVarContext all
  ; Started by the short "UninstallString", the uninstaller would show the program folder
  ; by its short name.
  System::Call 'kernel32::GetLongPathName(t "$INSTDIR", t .r0, i ${NSIS_MAX_STRLEN}) i .r1'
  StrCmp $1 0 +2
    StrCpy $INSTDIR $0
FunctionEnd

; Only what setup wrote goes: files by name and folders only when empty, so pictures a
; user saved in the program folder, and folders of his, stay.
Section "Uninstall"
  Delete "$INSTDIR\pixdesk.exe"
  Delete "$INSTDIR\keypurge.exe"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"

  Delete "${TWAIN_DIR}\campanel.dll"
!ifdef DATASOURCE
  Delete "${TWAIN_DIR}\lv2700c5.ds"
!endif
  RMDir "${TWAIN_DIR}"

  Delete "$SMPROGRAMS\${PRODUCT}\pixdesk.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKCR "${PROGID}"
  DeleteRegKey HKCR "CLSID\${CLSID}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetAutoClose true
SectionEnd
