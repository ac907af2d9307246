; The per-user installer: the thumbnail handler and the preview handler, each as a native DLL and an
; x86 DLL, the renderer and the licences in one folder
; under %LOCALAPPDATA%\Programs, registered for the current user through the DLLs' own
; DllRegisterServer. No administrator rights. The native DLL and the renderer are those of the
; machine Windows runs on, x64 or ARM64; the x86 DLL serves 32-bit programs on both. Made by
; installer/make-installer.cmake, which defines TORV_VERSION_NSH, TORV_PAYLOAD_NSH and TORV_OUTFILE
; (TORV_VERSION to override the version, TORV_SIGN_PE, the signing script, for a signed installer,
; and for the tests' installers only TORV_TEST_NATIVE_MACHINE and TORV_TEST_REGSVR32, below).
Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
; The installed files get the time they are installed, not the build's, so that two builds of one
; commit make the same installer.
SetDateSave off

!include "${TORV_VERSION_NSH}"
!include "${TORV_PAYLOAD_NSH}"
!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh
!include x64.nsh

!define PRODUCT "TorvThumb"
!define PUBLISHER "The torvthumb developers"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_PARENT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define UNINSTALL_KEY "${UNINSTALL_PARENT}\${PRODUCT}"
!define RUNONCE_KEY "Software\Microsoft\Windows\CurrentVersion\RunOnce"
!define CLEANUP_VALUE "${PRODUCT} clean-up"
!define REGSVR32_X86 "$WINDIR\SysWOW64\regsvr32.exe"
; ARM64 Windows runs this x64 program under emulation, where it cannot load an ARM64 DLL: the
; native regsvr32 registers the native DLL there. A test's installer names a stand-in instead.
!ifdef TORV_TEST_REGSVR32
  !define REGSVR32_NATIVE "${TORV_TEST_REGSVR32}"
!else
  !define REGSVR32_NATIVE "$SYSDIR\regsvr32.exe"
!endif
!define IMAGE_FILE_MACHINE_ARM64 0xAA64
!define KEY_READ 0x20019

; The containers that registration, the Apps entry and the clean-up entry write into, which a
; profile may or may not have already: the installer records (one bit each, in the Apps entry's
; value CreatedContainers) those it found missing, and the uninstaller removes those again once
; they are empty. Deeper keys first, so that one pass removes a parent after its child.
!define CREATED_PROGRAMS_FOLDER 256
!define PREVIEW_HANDLERS_KEY "Software\Microsoft\Windows\CurrentVersion\PreviewHandlers"
!macro TORV_CONTAINER_KEYS CALL
  !insertmacro ${CALL} 1 "Software\Classes\.pdf\ShellEx"
  !insertmacro ${CALL} 2 "Software\Classes\.pdf"
  !insertmacro ${CALL} 4 "Software\Classes\WOW6432Node\CLSID"
  !insertmacro ${CALL} 8 "Software\Classes\WOW6432Node"
  !insertmacro ${CALL} 16 "Software\Classes\CLSID"
  !insertmacro ${CALL} 32 "Software\Classes"
  !insertmacro ${CALL} 64 "${UNINSTALL_PARENT}"
  !insertmacro ${CALL} 128 "${RUNONCE_KEY}"
  !insertmacro ${CALL} 512 "${PREVIEW_HANDLERS_KEY}"
!macroend

Name "${PRODUCT} ${TORV_VERSION}"
OutFile "${TORV_OUTFILE}"
!ifdef TORV_SIGN_PE
  ; The uninstaller is signed before it is packed, so that the one the installer writes is signed too.
  !uninstfinalize '"${TORV_SIGN_PE}" "%1"' = 0
  !finalize '"${TORV_SIGN_PE}" "%1"' = 0
!endif
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
BrandingText "${PRODUCT} ${TORV_VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${TORV_VERSION}.0"
VIFileVersion "${TORV_VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${TORV_VERSION}"
VIAddVersionKey FileVersion "${TORV_VERSION}"
VIAddVersionKey FileDescription "${PRODUCT} ${TORV_VERSION} Setup"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "Copyright (C) ${PUBLISHER}"

!define MUI_WELCOMEPAGE_TITLE "${PRODUCT} ${TORV_VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Windows Explorer will show thumbnails of PDF documents and their pages in the preview pane, drawn by TorvView.$\r$\n$\r$\nThis installs for your account only and needs no administrator rights. It goes to:$\r$\n$INSTDIR"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; A bit set of TORV_CONTAINER_KEYS and CREATED_PROGRAMS_FOLDER.
Var CreatedContainers
; The machine Windows runs on natively, "x64" or "arm64": which native DLL and renderer are installed.
Var NativeMachine

; ---------------------------------------------------------------------------------------------
; Shared by the installer and the uninstaller (NSIS needs an "un." copy of each function).

!macro TORV_SHARED_FUNCTIONS UN

; Sets $NativeMachine from the machine Windows runs on, not the one this program runs as: on ARM64
; Windows this x64 program runs under emulation, and it must still install ARM64 handlers for
; Explorer and the other native processes. IsWow64Process2 (Windows 10 1511 and later) names the
; native machine; where it is missing, NSIS reads the one the system records (x64.nsh). A test's
; installer is given the machine instead.
Function ${UN}DetectNativeMachine
  !ifdef TORV_TEST_NATIVE_MACHINE
    StrCpy $NativeMachine "${TORV_TEST_NATIVE_MACHINE}"
  !else
    ${GetNativeMachineArchitecture} $0
    ${If} $0 = ${IMAGE_FILE_MACHINE_ARM64}
      StrCpy $NativeMachine arm64
    ${Else}
      StrCpy $NativeMachine x64
    ${EndIf}
  !endif
FunctionEnd

; Unregisters the native DLL at $0 through its own DllUnregisterServer: in this process on x64
; Windows, with the native regsvr32 on ARM64 Windows. Sets the error flag when that fails.
Function ${UN}UnregisterNative
  ClearErrors
  ${If} $NativeMachine == arm64
    StrCpy $1 "not started"
    ExecWait '"${REGSVR32_NATIVE}" /u /s "$0"' $1
    ${If} $1 != 0
      SetErrors
    ${EndIf}
  ${Else}
    UnRegDLL "$0"
  ${EndIf}
FunctionEnd

; Pops a key path under HKCU; pushes 0 when the key is missing, 1 when it holds no subkey and no
; value (the default value included, which EnumRegValue cannot tell from none), 2 otherwise.
Function ${UN}KeyState
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  System::Call 'advapi32::RegOpenCurrentUser(i ${KEY_READ}, *p .r1) i .r2'
  System::Call 'advapi32::RegOpenKeyExW(p r1, w r0, i 0, i ${KEY_READ}, *p .r4) i .r2'
  System::Call 'advapi32::RegCloseKey(p r1)'
  ${If} $2 <> 0
    StrCpy $0 0
  ${Else}
    System::Call 'advapi32::RegQueryInfoKeyW(p r4, p 0, p 0, p 0, *i .r2, p 0, p 0, *i .r3, p 0, p 0, p 0, p 0)'
    System::Call 'advapi32::RegCloseKey(p r4)'
    IntOp $2 $2 + $3
    ${If} $2 = 0
      StrCpy $0 1
    ${Else}
      StrCpy $0 2
    ${EndIf}
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Deletes the files that were moved aside because they were in use; sets $R9 to 1 when some are
; still in use. A name listed for more than one machine is simply looked at again.
Function ${UN}DeleteLeftovers
  !insertmacro TORV_PAYLOAD_FILES TORV_DELETE_LEFTOVERS_OF
FunctionEnd

; Leaves the per-user clean-up entry when $R9 is 1 (files still in use), removes it otherwise. The
; entry runs the uninstaller's clean-up at the next sign-in: in place while the product is
; installed; otherwise from a temporary copy (no "_?="), so that it can delete the uninstaller too.
Function ${UN}SettleCleanUpEntry
  ${If} $R9 = 1
    ClearErrors
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" InstallLocation
    ${If} ${Errors}
      StrCpy $0 ""
    ${Else}
      StrCpy $0 " _?=$INSTDIR"
    ${EndIf}
    WriteRegStr HKCU "${RUNONCE_KEY}" "${CLEANUP_VALUE}" '"$INSTDIR\${UNINSTALLER}" /cleanup /created=$CreatedContainers$0'
    DetailPrint "Files still in use are deleted at the next sign-in."
  ${Else}
    DeleteRegValue HKCU "${RUNONCE_KEY}" "${CLEANUP_VALUE}"
  ${EndIf}
FunctionEnd

!macroend

!macro TORV_DELETE_LEFTOVERS_OF NAME SOURCE MACHINE
  Delete "$INSTDIR\${NAME}.*.old"
  ${If} ${FileExists} "$INSTDIR\${NAME}.*.old"
    StrCpy $R9 1
  ${EndIf}
!macroend

!macro TORV_REMOVE_KEY_IF_CREATED_AND_EMPTY BIT KEY
  IntOp $0 $CreatedContainers & ${BIT}
  ${If} $0 <> 0
    Push "${KEY}"
    Call un.KeyState
    Pop $0
    ${If} $0 = 1
      DeleteRegKey HKCU "${KEY}"
    ${EndIf}
  ${EndIf}
!macroend

!insertmacro TORV_SHARED_FUNCTIONS ""
!insertmacro TORV_SHARED_FUNCTIONS "un."

; ---------------------------------------------------------------------------------------------
; The installer.

Function .onInit
  ; One fixed folder: an upgrade finds the files it replaces there, and the clean-up entry and the
  ; Apps entry name it.
  StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
  Call DetectNativeMachine
FunctionEnd

!macro TORV_NOTE_IF_MISSING BIT KEY
  Push "${KEY}"
  Call KeyState
  Pop $0
  ${If} $0 = 0
    IntOp $CreatedContainers $CreatedContainers | ${BIT}
  ${EndIf}
!macroend

; What an earlier installation recorded, plus what is missing now, before anything is written.
Function NoteMissingContainers
  ReadRegDWORD $CreatedContainers HKCU "${UNINSTALL_KEY}" CreatedContainers
  IntOp $CreatedContainers $CreatedContainers + 0
  !insertmacro TORV_CONTAINER_KEYS TORV_NOTE_IF_MISSING
  ${IfNot} ${FileExists} "$LOCALAPPDATA\Programs\*.*"
    IntOp $CreatedContainers $CreatedContainers | ${CREATED_PROGRAMS_FOLDER}
  ${EndIf}
FunctionEnd

!macro TORV_UNREGISTER_EARLIER NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}32.dll"
    ExecWait '"${REGSVR32_X86}" /u /s "$INSTDIR\${NAME}32.dll"'
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${NAME}.dll"
    StrCpy $0 "$INSTDIR\${NAME}.dll"
    Call UnregisterNative
    ${If} $NativeMachine == arm64
      UnRegDLL "$INSTDIR\${NAME}.dll"
    ${EndIf}
  ${EndIf}
!macroend

; The earlier installation's own DllUnregisterServer removes what it registered, so that nothing
; of an older registration outlives the upgrade. Failures leave nothing worse than before. On ARM64
; Windows an installation older than the ARM64 build left an x64 DLL, which only this (x64) process
; can load: both ways are tried there.
Function UnregisterEarlier
  !insertmacro TORV_UNREGISTER_EARLIER torvthumb
  !insertmacro TORV_UNREGISTER_EARLIER torvpreview
  ClearErrors
FunctionEnd

; Pops a path that cannot be deleted because it is in use (a DLL loaded by Explorer): Windows
; allows renaming it, so it is moved aside to "<name>.<n>.old" and deleted once it is free.
Function MoveAside
  Exch $0
  Push $1
  StrCpy $1 1
  ${DoWhile} ${FileExists} "$0.$1.old"
    IntOp $1 $1 + 1
  ${Loop}
  ClearErrors
  Rename "$0" "$0.$1.old"
  ${If} ${Errors}
    Abort "$0 is in use and cannot be replaced."
  ${EndIf}
  DetailPrint "In use, moved aside until it is free: $0.$1.old"
  Pop $1
  Pop $0
FunctionEnd

!macro TORV_CREATE_DIR NAME
  CreateDirectory "$INSTDIR\${NAME}"
!macroend

; Places a file meant for every machine ("any") or for this one.
!macro TORV_PLACE_FILE NAME SOURCE MACHINE
  ${If} "${MACHINE}" == any
  ${OrIf} "${MACHINE}" == $NativeMachine
    ${If} ${FileExists} "$INSTDIR\${NAME}"
      ClearErrors
      Delete "$INSTDIR\${NAME}"
      ${If} ${Errors}
        Push "$INSTDIR\${NAME}"
        Call MoveAside
      ${EndIf}
    ${EndIf}
    File "/oname=$INSTDIR\${NAME}" "${SOURCE}"
  ${EndIf}
!macroend

; Registers the native DLL at $0 through its own DllRegisterServer: in this process on x64 Windows,
; with the native regsvr32 on ARM64 Windows. Sets the error flag when that fails.
Function RegisterNative
  ClearErrors
  ${If} $NativeMachine == arm64
    StrCpy $1 "not started"
    ExecWait '"${REGSVR32_NATIVE}" /s "$0"' $1
    ${If} $1 != 0
      SetErrors
    ${EndIf}
  ${Else}
    RegDLL "$0"
  ${EndIf}
FunctionEnd

; Registers the native DLL NAME.dll as RegisterNative does and the x86 one, NAME32.dll, with the
; 32-bit regsvr32, each through its own DllRegisterServer. Without the native handler there is
; nothing to install; without the 32-bit one only 32-bit programs miss it, so that failure is
; reported and passed.
!macro TORV_REGISTER NAME WHAT
  StrCpy $0 "$INSTDIR\${NAME}.dll"
  Call RegisterNative
  ${If} ${Errors}
    Abort "The ${WHAT} could not be registered: $INSTDIR\${NAME}.dll"
  ${EndIf}
  ClearErrors
  StrCpy $0 "not started"
  ExecWait '"${REGSVR32_X86}" /s "$INSTDIR\${NAME}32.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "The 32-bit ${WHAT} could not be registered (regsvr32: $0); 32-bit programs will go without it."
  ${Else}
    DetailPrint "Registered the 32-bit ${WHAT}."
  ${EndIf}
!macroend

Function RegisterHandlers
  !insertmacro TORV_REGISTER torvthumb "thumbnail handler"
  !insertmacro TORV_REGISTER torvpreview "preview handler"
FunctionEnd

; The entry in Settings > Apps; EstimatedSize in KiB, of the folder as installed.
Function WriteAppsEntry
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayName "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayVersion "${TORV_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\TorvView.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" NoRepair 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" CreatedContainers $CreatedContainers
  ${GetSize} "$INSTDIR" "/S=0K /G=1" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" EstimatedSize $0
FunctionEnd

Section
  Call NoteMissingContainers
  SetOutPath "$INSTDIR"
  Call UnregisterEarlier
  !insertmacro TORV_PAYLOAD_DIRS TORV_CREATE_DIR
  !insertmacro TORV_PAYLOAD_FILES TORV_PLACE_FILE
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ; The Apps entry before registering, so that a failed registration can still be uninstalled.
  Call WriteAppsEntry
  Call RegisterHandlers
  ; Files moved aside by this or an earlier installation that are free by now go at once.
  StrCpy $R9 0
  Call DeleteLeftovers
  Call SettleCleanUpEntry
SectionEnd

; ---------------------------------------------------------------------------------------------
; The uninstaller; "/cleanup" is the clean-up entry's command.

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/cleanup" $1
  ${IfNot} ${Errors}
    SetSilent silent
    ${GetOptions} $0 "/created=" $CreatedContainers
    IntOp $CreatedContainers $CreatedContainers + 0
    Call un.CleanUp
    ; Quitting from here would otherwise report an abort (exit code 2).
    SetErrorLevel 0
    Quit
  ${EndIf}
  ReadRegDWORD $CreatedContainers HKCU "${UNINSTALL_KEY}" CreatedContainers
  IntOp $CreatedContainers $CreatedContainers + 0
  Call un.DetectNativeMachine
FunctionEnd

!macro TORV_UNREGISTER NAME WHAT
  ${If} ${FileExists} "$INSTDIR\${NAME}32.dll"
    ClearErrors
    StrCpy $0 "not started"
    ExecWait '"${REGSVR32_X86}" /u /s "$INSTDIR\${NAME}32.dll"' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
      DetailPrint "The 32-bit ${WHAT} could not be unregistered (regsvr32: $0)."
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${NAME}.dll"
    ClearErrors
    StrCpy $0 "$INSTDIR\${NAME}.dll"
    Call un.UnregisterNative
    ${If} ${Errors}
      DetailPrint "The ${WHAT} could not be unregistered."
    ${EndIf}
  ${EndIf}
!macroend

; The four DLLs through their own DllUnregisterServer; failures are reported and passed, so that the
; files still go.
Function un.UnregisterHandlers
  !insertmacro TORV_UNREGISTER torvthumb "thumbnail handler"
  !insertmacro TORV_UNREGISTER torvpreview "preview handler"
FunctionEnd

!macro TORV_DELETE_FILE NAME SOURCE MACHINE
  Delete "$INSTDIR\${NAME}"
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    StrCpy $R9 1
  ${EndIf}
!macroend

!macro TORV_REMOVE_DIR NAME
  RMDir "$INSTDIR\${NAME}"
!macroend

; Deletes every file and folder of the installation; sets $R9 to 1 when some file is still in use,
; in which case the uninstaller stays for the clean-up entry to run.
Function un.RemoveFiles
  StrCpy $R9 0
  !insertmacro TORV_PAYLOAD_FILES TORV_DELETE_FILE
  Call un.DeleteLeftovers
  ${If} $R9 = 0
    Delete "$INSTDIR\${UNINSTALLER}"
  ${EndIf}
  !insertmacro TORV_PAYLOAD_DIRS_DEEPEST_FIRST TORV_REMOVE_DIR
  RMDir "$INSTDIR"
FunctionEnd

; Removes each container that the installer recorded as made by it, once it is empty.
Function un.RemoveCreatedContainers
  !insertmacro TORV_CONTAINER_KEYS TORV_REMOVE_KEY_IF_CREATED_AND_EMPTY
  IntOp $0 $CreatedContainers & ${CREATED_PROGRAMS_FOLDER}
  ${If} $0 <> 0
    RMDir "$LOCALAPPDATA\Programs"
  ${EndIf}
FunctionEnd

; At the next sign-in: what an upgrade or the uninstaller could not delete because it was in use.
Function un.CleanUp
  ClearErrors
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" InstallLocation
  ${If} ${Errors}
    Call un.RemoveFiles
  ${Else}
    StrCpy $R9 0
    Call un.DeleteLeftovers
  ${EndIf}
  Call un.SettleCleanUpEntry
  Call un.RemoveCreatedContainers
FunctionEnd

Section Uninstall
  Call un.UnregisterHandlers
  Call un.RemoveFiles
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Call un.SettleCleanUpEntry
  Call un.RemoveCreatedContainers
SectionEnd
