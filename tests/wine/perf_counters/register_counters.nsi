; The setup program's counter registration alone (packaging/setup/perf_counters.nsh), for the
; Wine test: "register_counters.exe /S /D=folder" registers the counters of the qxrperf.dll in
; that folder as setup does; with /UNREGISTER it removes them as the uninstaller does. Each
; step's line goes to register_counters.log in the folder.
;   makensis -DARCH=win64|win32 -DOUTFILE=x.exe register_counters.nsi
!if "${ARCH}" == "win64"
  Target amd64-unicode
!else
  Target x86-ansi
!endif
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "C:\qxr"
SilentInstall silent

; As qxr-setup.nsi has them.
!macro Log text
    FileOpen $9 "$INSTDIR\register_counters.log" a
    FileSeek $9 0 END
    FileWrite $9 `${text}$\r$\n`
    FileClose $9
!macroend
!macro RunLogged command
    ClearErrors
    ExecWait `${command}` $0
    ${If} ${Errors}
        StrCpy $0 "not started"
    ${EndIf}
    !insertmacro Log `  ${command}: exit code $0`
!macroend

!include "${__FILEDIR__}\..\..\..\packaging\setup\perf_counters.nsh"

Section
!if "${ARCH}" == "win64"
    SetRegView 64
    ${DisableX64FSRedirection}
!endif
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/UNREGISTER" $R1
    ${If} ${Errors}
        !insertmacro QxrRegisterCounters
    ${Else}
        !insertmacro QxrUnregisterCounters
    ${EndIf}
SectionEnd
