; Checks CPack's installer runs before it changes anything (included through CPACK_NSIS_DEFINES; the
; calls are in CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS and CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS).

!include LogicLib.nsh

; Windows' own text for a system error code, as the panel shows it.
Function UavErrorText
  Exch $0
  Push $1
  Push $2
  System::Call 'kernel32::FormatMessageW(i 0x1200, p 0, i r0, i 0, w .r1, i 1024, p 0) i .r2'
  ${If} $2 == 0
    StrCpy $1 "error $0"
  ${EndIf}
  ; FormatMessage ends its text with a line break.
  StrCpy $2 $1 2 -2
  ${If} $2 == "$\r$\n"
    StrCpy $1 $1 -2
  ${EndIf}
  StrCpy $0 $1
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Replacing or deleting the files of a running panel (or of a uavctl watch) would leave half a program
; behind, so wait for the operator to close what runs from the folder, or give up before anything changed.
; Silent runs give up at once (exit 2). Processes are looked at by their image's path: a running program's
; file is locked against writing on Windows but not under Wine, and uavctl has no window to find.
!macro UAV_WAIT_UNTIL_CLOSED UN
Function ${UN}UavWaitUntilClosed
  Exch $0 ; the folder
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  StrLen $6 "$0\"
  retry:
  System::Alloc 16384
  Pop $1
  System::Call 'kernel32::K32EnumProcesses(p r1, i 16384, *i .r2) i'
  IntOp $2 $2 / 4
  ${ForEach} $3 0 $2 + 1
    ${If} $3 == $2
      ${Break}
    ${EndIf}
    IntOp $4 $3 * 4
    IntPtrOp $4 $1 + $4
    System::Call '*$4(i .r4)'
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r4) p .r4'
    ${If} $4 P<> 0
      StrCpy $5 ""
      System::Call 'kernel32::QueryFullProcessImageNameW(p r4, i 0, w .r5, *i 1024)'
      System::Call 'kernel32::CloseHandle(p r4)'
      StrCpy $5 $5 $6
      ${If} $5 == "$0\"
        System::Free $1
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
          "Vantorix UAV Control or uavctl is running from $0.$\n$\nClose it, then press Retry." \
          /SD IDCANCEL IDRETRY retry
        Abort "Vantorix UAV Control or uavctl is running from $0; nothing was changed."
      ${EndIf}
    ${EndIf}
  ${Next}
  System::Free $1
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro UAV_WAIT_UNTIL_CLOSED ""
!insertmacro UAV_WAIT_UNTIL_CLOSED "un."

; A folder the installer may not write into (another user's, a read-only share, Program Files without
; administrator rights) fails here with Windows' reason, before any file is copied.
Function UavCheckWritable
  Push $0
  Push $1
  Push $2
  ${If} ${FileExists} "$INSTDIR\*.*"
    ; FILE_FLAG_DELETE_ON_CLOSE: the probe leaves nothing behind.
    System::Call 'kernel32::CreateFileW(w "$INSTDIR\uavcontrol-write-check.tmp", i 0x40000000, i 0, p 0, \
      i 2, i 0x04000080, p 0) p .r0 ?e'
    Pop $1
    ${If} $0 P<> -1
      System::Call 'kernel32::CloseHandle(p r0)'
      StrCpy $1 0
    ${EndIf}
  ${Else}
    System::Call 'kernel32::CreateDirectoryW(w "$INSTDIR", p 0) i .r0 ?e'
    Pop $1
    ${If} $0 <> 0
      StrCpy $1 0
    ${EndIf}
  ${EndIf}
  ${If} $1 <> 0
    Push $1
    Call UavErrorText
    Pop $2
    MessageBox MB_OK|MB_ICONSTOP "Cannot install into $INSTDIR:$\n$2$\n$\nChoose a folder you may write to." /SD IDOK
    Abort "Cannot install into $INSTDIR: $2"
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; CPack leaves the publisher's own registry key behind, empty, once the last of its programs is gone.
Function un.onUninstSuccess
  DeleteRegKey /ifempty SHCTX "Software\${UAV_PUBLISHER}"
FunctionEnd
