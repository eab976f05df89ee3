; QxrSync's performance counters in the setup program: qxrperf.dll, qxrperf.ini and qxrperf.h
; come with the package's files (QxrInstallFiles); these two macros register and remove them.
; For qxr-setup.nsi, which defines Log and RunLogged:
;   !include "perf_counters.nsh"
;   !insertmacro QxrRegisterCounters    after QxrSync -i (or the restart of an installed
;                                       QxrSync): the service's key must exist
;   !insertmacro QxrUnregisterCounters  in the uninstaller and in Rollback, before QxrSync -u,
;                                       which removes the service's key and with it the values
;                                       unlodctr reads
; A failure of either is logged and changes nothing else: the counters are for watching the
; service, which runs without them.

!define QXR_PERF_KEY "SYSTEM\CurrentControlSet\Services\QxrSync\Performance"

!macro QxrRegisterCounters
    !insertmacro Log "Registering QxrSync's performance counters"
    ; Names loaded by an earlier setup go first: lodctr refuses a driver it knows.
    ClearErrors
    ReadRegDWORD $0 HKLM "${QXR_PERF_KEY}" "First Counter"
    ${IfNot} ${Errors}
        !insertmacro RunLogged '"$SYSDIR\unlodctr.exe" QxrSync'
    ${EndIf}
    WriteRegStr HKLM "${QXR_PERF_KEY}" "Library" "$INSTDIR\qxrperf.dll"
    WriteRegStr HKLM "${QXR_PERF_KEY}" "Open" "OpenQxrPerformanceData"
    WriteRegStr HKLM "${QXR_PERF_KEY}" "Collect" "CollectQxrPerformanceData"
    WriteRegStr HKLM "${QXR_PERF_KEY}" "Close" "CloseQxrPerformanceData"
    ; lodctr looks for the symbol file qxrperf.h in its current folder.
    System::Call 'kernel32::SetCurrentDirectory(t "$INSTDIR")'
    !insertmacro RunLogged '"$SYSDIR\lodctr.exe" "$INSTDIR\qxrperf.ini"'
    System::Call 'kernel32::SetCurrentDirectory(t "$TEMP")'
!macroend

!macro QxrUnregisterCounters
    ClearErrors
    ReadRegStr $0 HKLM "${QXR_PERF_KEY}" "Library"
    ${IfNot} ${Errors}
        !insertmacro Log "Removing QxrSync's performance counters"
        !insertmacro RunLogged '"$SYSDIR\unlodctr.exe" QxrSync'
        DeleteRegKey HKLM "${QXR_PERF_KEY}"
    ${EndIf}
!macroend
