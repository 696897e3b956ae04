; Mosalin-setup.exe: installs Mosalin for the current user, without
; administrator rights, so that it starts through the registry route:
;   $LOCALAPPDATA\Programs\Mosalin\mosalin.exe     the executable
;   $LOCALAPPDATA\Programs\Mosalin\Nodata.dll      the placeholder picture
;   $LOCALAPPDATA\Programs\Mosalin\velmo.vxl       the runtime host
;   HKCU\Software\Varnel\Q\Install, value Path     the install folder, with its
;                                                  trailing backslash
; plus a Start-menu shortcut and an uninstaller that takes all of it away.
; /S installs (and Uninstall.exe /S removes) without asking.
;
; installer/CMakeLists.txt runs makensis with these definitions:
;   VERSION    the project's version (1.0), VERSION4 the same in four parts
;   PROGRAM, HOST, NODATA   the built mosalin.exe, velmo.vxr and Nodata.dll
;   ICON       the program's icon file
;   OUTFILE    the installer to write
Unicode true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION | VERSION4 | PROGRAM | HOST | NODATA | ICON | OUTFILE
  !error "makensis needs -DVERSION, -DVERSION4, -DPROGRAM, -DHOST, -DNODATA, -DICON and -DOUTFILE (installer/CMakeLists.txt)"
!endif

!define PRODUCT "Mosalin"
!define HOST_KEY "Software\Varnel\Q\Install"
!define HOST_VALUE "Path"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Mosalin"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Mosalin"
; A second installation goes where the first one went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} Setup"
; makensis asks for the standard keys; there is no copyright notice to give.
VIAddVersionKey /LANG=0 "LegalCopyright" ""

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\mosalin.exe"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one used when the system's matches neither.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString ShortcutComment ${LANG_SIMPCHINESE} "把地图小图拼合成一张 BMP 大图"
LangString ShortcutComment ${LANG_ENGLISH} "Stitch a directory of map tiles into one BMP picture"

Section "-Mosalin"
  SetOutPath "$INSTDIR"
  File "/oname=mosalin.exe" "${PROGRAM}"
  File "/oname=Nodata.dll" "${NODATA}"
  ; No velmo.vxr beside the executable: the installed program finds its
  ; runtime host through the registry.
  File "/oname=velmo.vxl" "${HOST}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKCU "${HOST_KEY}" "${HOST_VALUE}" "$INSTDIR\"

  CreateShortCut "$SMPROGRAMS\Mosalin.lnk" "$INSTDIR\mosalin.exe" "" "$INSTDIR\mosalin.exe" 0 \
    SW_SHOWNORMAL "" "$(ShortcutComment)"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mosalin.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\mosalin.exe"
  Delete "$INSTDIR\Nodata.dll"
  Delete "$INSTDIR\velmo.vxl"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Mosalin.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; The runtime host's location only while it still names this folder (a
  ; later installation elsewhere keeps its own); the keys above it only
  ; when nothing else is left in them.
  ReadRegStr $0 HKCU "${HOST_KEY}" "${HOST_VALUE}"
  ${If} $0 == "$INSTDIR\"
  ${OrIf} $0 == "$INSTDIR"
    DeleteRegValue HKCU "${HOST_KEY}" "${HOST_VALUE}"
  ${EndIf}
  DeleteRegKey /ifempty HKCU "${HOST_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Varnel\Q"
  DeleteRegKey /ifempty HKCU "Software\Varnel"
SectionEnd
