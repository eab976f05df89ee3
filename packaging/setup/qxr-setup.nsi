; The setup program of a release package: installs what the ZIP package holds and does the steps
; of veyla.txt in their order, each only when it is not done already, and checks each by its
; result (the file written, the service's state), never by an exit code that cannot fail: the
; driver is registered and removed here through the Service Control Manager (Ondrak reports
; only in message boxes and exits 0), and QxrSync -i / -u exit 0 whatever happened.
; Built by make_setup.cmake:
;   makensis -DVERSION=1.0.0.2 -DARCH=win64|win32 -DFILES=setup_files.nsh
;            -DUNINSTALL_EXE=uninstall.exe -DOUTFILE=setup.exe qxr-setup.nsi
; FILES defines QxrInstallFiles (the package's files), QxrForEachFile OP and QxrForEachFolder OP
; (OP inserted once per file / folder, with its path relative to the installation folder).
;
; The uninstaller proper is qxr-uninstall.exe; uninstall.exe (UNINSTALL_EXE, a small program of
; ours: uninstall_launcher.cpp) runs a temporary copy of it on the installation folder (_?=) and
; waits for it, so that "uninstall.exe /S" returns when the work is done, with its exit code.
; (An NSIS uninstaller started directly copies itself to %TEMP%, starts the copy and returns 0
; at once.)
;
; Switches and exit codes: the table in veyla.txt (and in the README), kept the same here:
!define EXIT_OK 0
!define EXIT_BAD_SWITCH 10      ; a switch's value is wrong
!define EXIT_DRIVER_FILE 11     ; the driver file is missing or refused
!define EXIT_NOT_ADMIN 12       ; not run by an administrator
!define EXIT_RUNNING 13         ; another setup or uninstall of this product runs
!define EXIT_DOWNGRADE 14       ; a newer version is installed (/ALLOWDOWNGRADE)
!define EXIT_IN_USE 15          ; a file to replace or delete is in use: nothing changed
!define EXIT_FOREIGN 16         ; QxrSync is installed from another folder: nothing changed
!define EXIT_FILES 20           ; the files could not be copied (undone)
!define EXIT_DRIVER_REG 21      ; the driver could not be registered (undone)
!define EXIT_DRIVER_START 22    ; the driver did not stop or start (undone, old settings back)
!define EXIT_SERVICE_INST 23    ; QxrSync -i did not register the service (undone)
!define EXIT_SERVICE_START 24   ; the service did not stop or start (undone)
!define EXIT_SERVICE_REMOVE 25  ; uninstall: the service is still registered (nothing else removed)
!define EXIT_DRIVER_REMOVE 26   ; uninstall: the driver could not be removed
!define EXIT_REBOOT 3010        ; done; a restart finishes it (files in use deleted then)

!ifndef VERSION | ARCH | OUTFILE | FILES
  !error "define VERSION, ARCH, OUTFILE and FILES"
!endif
!ifndef UNINSTALL_EXE
  !error "define UNINSTALL_EXE"
!endif

!if "${ARCH}" == "win64"
  ; A 64-bit setup sees the 64-bit registry and system32 as the programs it installs do.
  Target amd64-unicode
!else
  ; The ANSI stub runs on every 32-bit Windows from NT 4.0 on.
  Target x86-ansi
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include nsDialogs.nsh
!include x64.nsh
!include "${FILES}"

!define PRODUCT "QXR Time Reference"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QXR"
!define SERVICES "SYSTEM\CurrentControlSet\Services"
!define DRV_KEY "${SERVICES}\QxrDrv"
!define DRV_PARAMS "${SERVICES}\QxrDrv\Parameters"
!define SYNC_KEY "${SERVICES}\QxrSync"
!define SYNC_PARAMS "${SERVICES}\QxrSync\Parameters"
!define EVENT_SOURCE "${SERVICES}\EventLog\Application\QxrSync"
; Where the uninstaller keeps the service's parameters when asked to; the next setup puts them
; back before it installs the service and deletes the copy once it has succeeded.
!define KEPT_KEY "Software\Quoxar\QXR\QxrSync Parameters"
!define MENU "$SMPROGRAMS\${PRODUCT}"
; One setup or uninstall at a time.
!define MUTEX "Quoxar QXR Time Reference setup"
!define HKLM_HANDLE -2147483646 ; HKEY_LOCAL_MACHINE, sign-extended on 64-bit

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!if "${ARCH}" == "win64"
  InstallDir "$PROGRAMFILES64\QXR"
!else
  InstallDir "$PROGRAMFILES\QXR"
!endif
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written stops the step (and is undone) instead of being skipped.
AllowSkipFiles off
VIProductVersion ${VERSION}
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey CompanyName "Quoxar"
VIAddVersionKey FileDescription "${PRODUCT} setup (${ARCH})"
VIAddVersionKey FileVersion ${VERSION}
VIAddVersionKey ProductVersion ${VERSION}
VIAddVersionKey LegalCopyright "Quoxar"

Var LogFile
Var CheckSkip       ; 1: the in-use check leaves out what the running service holds

; --- The log: every step, in %TEMP% while setup runs, in the installation folder at the end.
!macro QxrLogFunction prefix
Function ${prefix}Log
    Exch $R9
    Push $R8
    DetailPrint $R9
    FileOpen $R8 $LogFile a
    FileSeek $R8 0 END
    FileWrite $R8 "$R9$\r$\n"
    FileClose $R8
    Pop $R8
    Pop $R9
FunctionEnd
!macroend
!macro Log text
    Push `${text}`
    !ifdef __UNINSTALL__
        Call un.Log
    !else
        Call Log
    !endif
!macroend
!macro CallP function
    !ifdef __UNINSTALL__
        Call un.${function}
    !else
        Call ${function}
    !endif
!macroend

; RunCaptured COMMAND: runs it hidden, waits (at most 2 minutes), puts its output into the log:
; QxrSync tells why something failed only there. Its exit code (or "error") in $0.
!macro QxrRunCapturedFunction prefix
Function ${prefix}RunCaptured
    Exch $R0
    Push $R1
    nsExec::ExecToStack /TIMEOUT=120000 $R0
    Pop $0
    Pop $R1
    !insertmacro Log "  $R0: exit code $0"
    ${If} $R1 != ""
        !insertmacro Log "$R1"
    ${EndIf}
    Pop $R1
    Pop $R0
FunctionEnd
!macroend
!macro RunCaptured command
    Push `${command}`
    !insertmacro CallP RunCaptured
!macroend
!macro RunLogged command
    !insertmacro RunCaptured `${command}`
!macroend
; QxrSync's performance counters: QxrRegisterCounters, QxrUnregisterCounters.
!include "${__FILEDIR__}\perf_counters.nsh"

; ServiceState NAME: its current state (1 stopped .. 4 running) in $0, 0 when not registered.
!macro QxrServiceStateFunction prefix
Function ${prefix}ServiceState
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    StrCpy $0 0
    System::Call 'advapi32::OpenSCManager(p 0, p 0, i 1) p .R1'
    ${If} $R1 P<> 0
        System::Call 'advapi32::OpenService(p R1, t R0, i 4) p .R2'
        ${If} $R2 P<> 0
            System::Call '*(i, i, i, i, i, i, i) p .R3'
            System::Call 'advapi32::QueryServiceStatus(p R2, p R3) i .r0'
            ${If} $0 <> 0
                System::Call '*$R3(i, i .r0)'
            ${Else}
                ; Registered, but its state cannot be read (marked for deletion, for one).
                StrCpy $0 -1
            ${EndIf}
            System::Free $R3
            System::Call 'advapi32::CloseServiceHandle(p R2)'
        ${EndIf}
        System::Call 'advapi32::CloseServiceHandle(p R1)'
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
!macroend

; ServiceWait NAME STATE: waits up to 20 s until the service is in STATE (0: not registered);
; the state reached in $0.
!macro QxrServiceWaitFunction prefix
Function ${prefix}ServiceWait
    Exch $R0 ; state
    Exch
    Exch $R1 ; name
    Push $R2
    StrCpy $R2 0
    ${Do}
        Push $R1
        !insertmacro CallP ServiceState
        ${If} $0 = $R0
        ${OrIf} $R2 >= 80
            ${ExitDo}
        ${EndIf}
        ; A driver that failed to load is stopped again at once.
        ${If} $R0 = 4
        ${AndIf} $0 = 1
        ${AndIf} $R2 >= 4
            ${ExitDo}
        ${EndIf}
        Sleep 250
        IntOp $R2 $R2 + 1
    ${Loop}
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
!macroend
!macro ServiceWait name state
    Push `${name}`
    Push `${state}`
    !insertmacro CallP ServiceWait
!macroend

; ServiceControl NAME start|stop: starts or stops the service and waits for it; the state
; reached in $0 (4 running, 1 stopped), the Win32 error of the request logged.
!macro QxrServiceControlFunction prefix
Function ${prefix}ServiceControl
    Exch $R0 ; start or stop
    Exch
    Exch $R1 ; name
    Push $R2
    Push $R3
    Push $R4
    StrCpy $R4 0
    System::Call 'advapi32::OpenSCManager(p 0, p 0, i 1) p .R2'
    ${If} $R2 P<> 0
        ; SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP
        System::Call 'advapi32::OpenService(p R2, t R1, i 0x34) p .R3 ?e'
        Pop $R4
        ${If} $R3 P<> 0
            ${If} $R0 == "start"
                System::Call 'advapi32::StartService(p R3, i 0, p 0) i .r0 ?e'
            ${Else}
                System::Call '*(i, i, i, i, i, i, i) p .R4'
                System::Call 'advapi32::ControlService(p R3, i 1, p R4) i .r0 ?e'
                System::Free $R4
            ${EndIf}
            Pop $R4
            ${If} $0 <> 0
                StrCpy $R4 0
            ${EndIf}
            System::Call 'advapi32::CloseServiceHandle(p R3)'
        ${EndIf}
        System::Call 'advapi32::CloseServiceHandle(p R2)'
    ${EndIf}
    ${If} $R0 == "start"
        !insertmacro ServiceWait $R1 4
    ${Else}
        !insertmacro ServiceWait $R1 1
    ${EndIf}
    !insertmacro Log "  $R0 $R1: error $R4, state $0"
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
!macroend
!macro ServiceControl name what
    Push `${name}`
    Push `${what}`
    !insertmacro CallP ServiceControl
!macroend

; FileFree REL: appends REL to $R9 when $INSTDIR\REL exists and cannot be opened for writing
; (a program holds it: QxrSet holds QxrSet.exe and qxrtime.dll). With $CheckSkip 1 it leaves
; out QxrSync.exe and qxrtime.dll, which the service holds until it stops.
!macro FileFree rel
    StrCpy $3 0
    ${If} $CheckSkip == 1
        ${If} "${rel}" == "QxrSync.exe"
        ${OrIf} "${rel}" == "qxrtime.dll"
            StrCpy $3 1
        ${EndIf}
    ${EndIf}
    ${If} $3 == 0
    ${AndIf} ${FileExists} "$INSTDIR\${rel}"
        ClearErrors
        FileOpen $3 "$INSTDIR\${rel}" a
        ${If} ${Errors}
            StrCpy $R9 "$R9 ${rel}"
        ${Else}
            FileClose $3
        ${EndIf}
    ${EndIf}
!macroend

; WaitAllFree: waits up to 10 s until every file of the package is free (a stopped service's
; process may still be ending); $R9 = the files still in use, "" when none.
!macro WaitAllFree
    StrCpy $CheckSkip 0
    StrCpy $2 0
    ${Do}
        StrCpy $R9 ""
        !insertmacro QxrForEachFile FileFree
        ${If} $R9 == ""
        ${OrIf} $2 >= 40
            ${ExitDo}
        ${EndIf}
        Sleep 250
        IntOp $2 $2 + 1
    ${Loop}
!macroend

; CopyValues FROM TO: every value of HKLM\FROM into HKLM\TO with its type and data as they
; are (REG_EXPAND_SZ, REG_MULTI_SZ, binary too). $0 = 0, or the registry error.
!macro QxrCopyValuesFunction prefix
Function ${prefix}CopyValues
    Exch $R1 ; to
    Exch
    Exch $R0 ; from
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    Push $R8
    System::Call 'advapi32::RegOpenKeyEx(p ${HKLM_HANDLE}, t R0, i 0, i 0x20019, *p .R5) i .r0'
    ${If} $0 = 0
        System::Call 'advapi32::RegCreateKeyEx(p ${HKLM_HANDLE}, t R1, i 0, p 0, i 0, i 0x20006, p 0, *p .R6, p 0) i .r0'
        ${If} $0 = 0
            System::Alloc 65536
            Pop $R7
            StrCpy $R2 0
            ${Do}
                System::Call 'advapi32::RegEnumValue(p R5, i R2, t .R3, *i ${NSIS_MAX_STRLEN}, p 0, *i .R4, p R7, *i 65536 R8) i .r0'
                ${If} $0 = 259 ; no more values
                    StrCpy $0 0
                    ${ExitDo}
                ${ElseIf} $0 <> 0
                    ${ExitDo}
                ${EndIf}
                System::Call 'advapi32::RegSetValueEx(p R6, t R3, i 0, i R4, p R7, i R8) i .r0'
                ${If} $0 <> 0
                    ${ExitDo}
                ${EndIf}
                IntOp $R2 $R2 + 1
            ${Loop}
            System::Free $R7
            System::Call 'advapi32::RegCloseKey(p R6)'
        ${EndIf}
        System::Call 'advapi32::RegCloseKey(p R5)'
    ${EndIf}
    Pop $R8
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R0
    Pop $R1
FunctionEnd
!macroend

; OneInstance: the mutex every setup and uninstall of this product holds while it runs; $0 =
; 183 when another one holds it.
!macro OneInstance
    System::Call 'kernel32::CreateMutex(p 0, i 0, t "${MUTEX}") p .r1 ?e'
    Pop $0
!macroend

; DriverRegister ROOT DISPLAYNAME: QxrDrv with exactly the entry Ondrak makes (kernel driver,
; automatic start, normal error control, \SystemRoot\system32\drivers\ROOT.sys, no group, tag,
; dependencies or account); checked by its state afterwards (registered and stopped). $0 = 0,
; or the Win32 error.
Function DriverRegister
    Exch $R1 ; display name
    Exch
    Exch $R0 ; file root
    Push $R2
    Push $R3
    ; SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE
    System::Call 'advapi32::OpenSCManager(p 0, p 0, i 3) p .R2 ?e'
    Pop $0
    ${If} $R2 P<> 0
        System::Call 'advapi32::CreateService(p R2, t "QxrDrv", t R1, i 0xF01FF, i 1, i 2, i 1, t "\SystemRoot\system32\drivers\$R0.sys", p 0, p 0, p 0, p 0, p 0) p .R3 ?e'
        Pop $0
        ${If} $R3 P<> 0
            StrCpy $0 0
            System::Call 'advapi32::CloseServiceHandle(p R3)'
        ${EndIf}
        System::Call 'advapi32::CloseServiceHandle(p R2)'
    ${EndIf}
    !insertmacro Log "  CreateService QxrDrv (\SystemRoot\system32\drivers\$R0.sys, $\"$R1$\"): error $0"
    ${If} $0 = 0
        Push QxrDrv
        Call ServiceState
        ${If} $0 <> 1
            !insertmacro Log "  QxrDrv not registered as a stopped driver afterwards (state $0)"
            StrCpy $0 1060
        ${Else}
            StrCpy $0 0
        ${EndIf}
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R0
    Pop $R1
FunctionEnd

; DriverRemove: stops QxrDrv (15 s at most, as Ondrak waits) and deletes its entry. $0 = 0
; when it is gone, 1 when it is only marked for deletion (still loaded: gone after a restart),
; else the Win32 error of the deletion.
!macro QxrDriverRemoveFunction prefix
Function ${prefix}DriverRemove
    Push $R2
    Push $R3
    Push $R4
    StrCpy $R4 0
    System::Call 'advapi32::OpenSCManager(p 0, p 0, i 1) p .R2 ?e'
    Pop $R4
    ${If} $R2 P<> 0
        System::Call 'advapi32::OpenService(p R2, t "QxrDrv", i 0xF01FF) p .R3 ?e'
        Pop $R4
        ${If} $R3 P<> 0
            System::Call '*(i, i, i, i, i, i, i) p .R4'
            System::Call 'advapi32::ControlService(p R3, i 1, p R4) i .r0'
            System::Free $R4
            !insertmacro ServiceWait QxrDrv 1
            !insertmacro Log "  stop QxrDrv: state $0"
            System::Call 'advapi32::DeleteService(p R3) i .r0 ?e'
            Pop $R4
            ${If} $0 <> 0
                StrCpy $R4 0
            ${EndIf}
            System::Call 'advapi32::CloseServiceHandle(p R3)'
        ${EndIf}
        System::Call 'advapi32::CloseServiceHandle(p R2)'
    ${EndIf}
    !insertmacro ServiceWait QxrDrv 0
    !insertmacro Log "  DeleteService QxrDrv: error $R4, state afterwards $0"
    ${If} $0 = 0
        StrCpy $0 0
    ${ElseIf} $R4 = 0
    ${OrIf} $R4 = 1072 ; ERROR_SERVICE_MARKED_FOR_DELETE
        StrCpy $0 1
    ${Else}
        StrCpy $0 $R4
    ${EndIf}
    Pop $R4
    Pop $R3
    Pop $R2
FunctionEnd
!macroend

!insertmacro QxrLogFunction "un."
!insertmacro QxrRunCapturedFunction "un."
!insertmacro QxrServiceStateFunction "un."
!insertmacro QxrServiceWaitFunction "un."
!insertmacro QxrCopyValuesFunction "un."
!insertmacro QxrDriverRemoveFunction "un."

; ====== The setup program.
!insertmacro QxrLogFunction ""
!insertmacro QxrRunCapturedFunction ""
!insertmacro QxrServiceStateFunction ""
!insertmacro QxrServiceWaitFunction ""
!insertmacro QxrServiceControlFunction ""
!insertmacro QxrCopyValuesFunction ""
!insertmacro QxrDriverRemoveFunction ""

Var Driver          ; driver file to install (full path), "simulator" for the bundled one
Var DriverKept      ; 1: QxrDrv was registered before setup, left as it is
Var Bus
Var Port
Var Irq
Var Upgrade         ; 1: a setup of this product is installed in $INSTDIR already
Var SyncWasThere    ; 1: the QxrSync service existed before this run
Var SyncStopped     ; 1: setup stopped it
Var DidFiles
Var DidDriver
Var DriverCopied    ; 1: setup copied the driver file (it goes with the uninstaller)
Var DriverFile      ; where the driver file lies in the drivers folder
Var DidSync
Var DrvOld          ; "product port irq" before setup changed them, "" when there were none
Var DrvChanged
Var DriverText
Var SimulatorBox

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
Page custom DriverPage DriverPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
UninstPage custom un.KeepPage un.KeepPageLeave
; The uninstaller's steps stay on screen until Close.
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; Refuse CODE TEXT: stops before anything has changed.
!macro Refuse code text
    !insertmacro Log "Setup stopped: ${text} Nothing was changed."
    MessageBox MB_ICONSTOP|MB_OK "${text}$\r$\nNothing was changed." /SD IDOK
    SetErrorLevel ${code}
    Quit
!macroend

; QuotedOption TEXT START: in TEXT, the switch "START...": $0 = what follows START up to the
; closing quote, "" when there is none.
Function QuotedOption
    Exch $R1 ; start
    Exch
    Exch $R0 ; text
    Push $R2
    Push $R3
    Push $R4
    StrCpy $0 ""
    StrLen $R2 $R1
    StrCpy $R3 0
    ${Do}
        StrCpy $R4 $R0 $R2 $R3
        ${If} $R4 == ""
            ${ExitDo}
        ${EndIf}
        ${If} $R4 == $R1
            IntOp $R3 $R3 + $R2
            ${Do}
                StrCpy $R4 $R0 1 $R3
                ${If} $R4 == ""
                ${OrIf} $R4 == '"'
                    ${ExitDo}
                ${EndIf}
                StrCpy $0 "$0$R4"
                IntOp $R3 $R3 + 1
            ${Loop}
            ${ExitDo}
        ${EndIf}
        IntOp $R3 $R3 + 1
    ${Loop}
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R0
    Pop $R1
FunctionEnd

; HasCharOf TEXT CHARS: $0 = 1 when TEXT holds one of CHARS.
Function HasCharOf
    Exch $R1 ; chars
    Exch
    Exch $R0 ; text
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    StrCpy $0 0
    StrCpy $R2 0
    ${Do}
        StrCpy $R3 $R0 1 $R2
        ${If} $R3 == ""
            ${ExitDo}
        ${EndIf}
        StrCpy $R4 0
        ${Do}
            StrCpy $R5 $R1 1 $R4
            ${If} $R5 == ""
                ${ExitDo}
            ${EndIf}
            ${If} $R5 S== $R3
                StrCpy $0 1
            ${EndIf}
            IntOp $R4 $R4 + 1
        ${Loop}
        IntOp $R2 $R2 + 1
    ${Loop}
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R0
    Pop $R1
FunctionEnd

; CheckDriver: $Driver (as typed) made a full path and checked; $R1 = "" when it can be used,
; else why not. $DriverFile = where it goes in drivers\.
Function CheckDriver
    StrCpy $R1 ""
    ${If} $Driver == "simulator"
        ; Both setups carry the simulator, built for their own machine.
        StrCpy $DriverFile "$SYSDIR\drivers\qxrsimdrv.sys"
        ${If} ${FileExists} $DriverFile
            StrCpy $R1 "The file $DriverFile exists already; setup does not overwrite a driver it did not install."
        ${EndIf}
        Return
    ${EndIf}
    ${If} $Driver == ""
        StrCpy $R1 "QxrDrv is not registered: name the card's driver file (qxrkmdrv.sys) with /DRIVER=path."
        Return
    ${EndIf}
    ; Relative to the folder setup was started in.
    System::Call 'kernel32::GetFullPathName(t R0, i ${NSIS_MAX_STRLEN}, t .r0, p 0) i .r1'
    ${If} $1 <> 0
        StrCpy $Driver $0
    ${EndIf}
    Push $Driver
    Push "*?"
    Call HasCharOf
    ${If} $0 = 1
        StrCpy $R1 "The driver file $Driver: name one file, without wildcards."
        Return
    ${EndIf}
    ${If} ${FileExists} "$Driver\*.*"
        StrCpy $R1 "The driver file $Driver is a folder: name the driver file in it."
        Return
    ${EndIf}
    ${IfNot} ${FileExists} $Driver
        StrCpy $R1 "The driver file $Driver does not exist."
        Return
    ${EndIf}
    ${GetFileName} $Driver $5
    ${GetFileExt} $Driver $1
    ${GetBaseName} $Driver $2
    ${If} $1 != "sys"
        StrCpy $R1 "The driver file $Driver is not a .sys file."
        Return
    ${EndIf}
    Push $2
    Push " "
    Call HasCharOf
    ${If} $0 = 1
        StrCpy $R1 "The driver file's name '$5' has a blank: the driver's service entry names the file without quotes. Rename it."
        Return
    ${EndIf}
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
    ${EndIf}
    StrCpy $DriverFile "$SYSDIR\drivers\$5"
    System::Call 'kernel32::GetFullPathName(t "$DriverFile", i ${NSIS_MAX_STRLEN}, t .r1, p 0) i .r2'
    ${If} $1 == $Driver
        ; The copy in drivers\ named itself: registered as it is, not copied.
    ${ElseIf} ${FileExists} $DriverFile
        StrCpy $R1 "The file $DriverFile exists already and setup does not overwrite a driver it did not install. If it is the card's driver, name it: /DRIVER=$DriverFile."
    ${EndIf}
    ${If} ${RunningX64}
        ${EnableX64FSRedirection}
    ${EndIf}
FunctionEnd

; --- Options and what is there already, before any page and before anything changes.
Function .onInit
    InitPluginsDir
    StrCpy $LogFile "$TEMP\qxr-setup.log"
    Delete $LogFile
    !insertmacro Log "${PRODUCT} ${VERSION} (${ARCH}) setup"
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/DRIVER=" $Driver
    ${If} $Driver == ""
        ; Deployment tools quote a whole switch with blanks: "/DRIVER=C:\Card files\x.sys".
        Push $R0
        Push '"/DRIVER='
        Call QuotedOption
        StrCpy $Driver $0
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/BUS=" $Bus
    ClearErrors
    ${GetOptions} $R0 "/PORT=" $Port
    ClearErrors
    ${GetOptions} $R0 "/IRQ=" $Irq
    ClearErrors
    ${GetOptions} $R0 "/ALLOWDOWNGRADE" $0
    StrCpy $R2 0
    ${IfNot} ${Errors}
        StrCpy $R2 1
    ${EndIf}

    ; NT 4.0 has no UAC: the account itself must be an administrator's.
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        !insertmacro Refuse ${EXIT_NOT_ADMIN} "Setup needs an administrator's rights (this account: $0)."
    ${EndIf}
    !insertmacro OneInstance
    ${If} $0 = 183
        !insertmacro Refuse ${EXIT_RUNNING} "Another setup or uninstall of ${PRODUCT} is running."
    ${EndIf}

    ClearErrors
    ReadRegStr $0 HKLM "${UNINST_KEY}" InstallLocation
    ${IfNot} ${Errors}
    ${AndIf} $0 != ""
        StrCpy $Upgrade 1
        StrCpy $INSTDIR $0
        ReadRegStr $1 HKLM "${UNINST_KEY}" DisplayVersion
        !insertmacro Log "Version $1 is installed in $INSTDIR: upgrading it"
        ${VersionCompare} ${VERSION} $1 $0
        ${If} $0 = 2
            ${If} $R2 = 1
                !insertmacro Log "Going back to ${VERSION}: /ALLOWDOWNGRADE"
            ${Else}
                !insertmacro Refuse ${EXIT_DOWNGRADE} "Version $1 is installed, newer than this setup's ${VERSION}; /ALLOWDOWNGRADE installs this one over it."
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ClearErrors
    ReadRegDWORD $0 HKLM "${DRV_KEY}" Type
    ${IfNot} ${Errors}
        StrCpy $DriverKept 1
    ${EndIf}

    ${If} $Bus != ""
    ${AndIf} $Bus != "PCI"
    ${AndIf} $Bus != "ISA"
        !insertmacro Refuse ${EXIT_BAD_SWITCH} "/BUS=$Bus: the bus is PCI or ISA."
    ${EndIf}
    ${If} $Bus == "ISA"
        ; The port as QxrCfgNT offers it: 300 to 370 (hexadecimal), in steps of 10.
        StrCpy $R2 $Port 2
        ${If} $R2 != "0x"
            StrCpy $Port "0x$Port"
        ${EndIf}
        IntOp $R2 $Port + 0
        IntOp $R3 $R2 % 16
        ${If} $R2 < 0x300
        ${OrIf} $R2 > 0x370
        ${OrIf} $R3 <> 0
            !insertmacro Refuse ${EXIT_BAD_SWITCH} "/PORT=$Port: the ISA port is one of 300, 310, ... 370."
        ${EndIf}
        StrCpy $Port $R2
        ${If} $Irq != 5
        ${AndIf} $Irq != 7
        ${AndIf} $Irq != 10
        ${AndIf} $Irq != 11
        ${AndIf} $Irq != 12
        ${AndIf} $Irq != 15
            !insertmacro Refuse ${EXIT_BAD_SWITCH} "/IRQ=$Irq: the interrupt is one of 5, 7, 10, 11, 12, 15."
        ${EndIf}
    ${ElseIf} $Bus == "PCI"
        StrCpy $Port 0
        StrCpy $Irq 0
    ${EndIf}

    ${If} ${Silent}
    ${AndIf} $DriverKept != 1
        StrCpy $R0 $Driver
        Call CheckDriver
        ${If} $R1 != ""
            !insertmacro Refuse ${EXIT_DRIVER_FILE} $R1
        ${EndIf}
        !insertmacro Log "The driver file: $Driver"
    ${EndIf}
FunctionEnd

Function SkipDirectoryOnUpgrade
    ${If} $Upgrade == 1
        Abort
    ${EndIf}
FunctionEnd

; --- The page that asks for the card's driver file; shown only when QxrDrv is not registered.
Function DriverPage
    ${If} $DriverKept == 1
        Abort
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "Card driver" "The kernel driver QxrDrv that serves the card."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 24u "The driver file that came with the card (qxrkmdrv.sys). Setup copies it to the drivers folder and registers it as QxrDrv."
    Pop $0
    ${NSD_CreateText} 0 28u 75% 12u $Driver
    Pop $DriverText
    ${NSD_CreateBrowseButton} 77% 27u 23% 14u "Browse..."
    Pop $0
    ${NSD_OnClick} $0 BrowseDriver
    ${NSD_CreateCheckbox} 0 50u 100% 12u "Use the card simulator instead (simulator\qxrsimdrv.sys, for trying without the card)"
    Pop $SimulatorBox
    ${If} $Driver == "simulator"
        ${NSD_Check} $SimulatorBox
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function BrowseDriver
    ${NSD_GetText} $DriverText $0
!if "${ARCH}" == "win64"
    nsDialogs::SelectFileDialog open $0 "Drivers (*.sys)|*.sys|All files|*.*"
    Pop $0
!else
    ; nsDialogs fills OPENFILENAME with the Windows 2000 size (88 bytes), which NT 4.0's
    ; comdlg32 refuses; GetOpenFileNameA with the NT 4.0 size (76 bytes) works on every Windows.
    Push $1
    Push $2
    Push $3
    System::Call '*(&t16 "Drivers (*.sys)", &t6 "*.sys", &t10 "All files", &t4 "*.*", &i1 0) p .r1'
    System::Alloc 1024
    Pop $2
    System::Call '*$2(&t1024 r0)'
    ; lStructSize 76, owner, filter, index 1, file buffer; Flags: OFN_HIDEREADONLY |
    ; OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST.
    System::Call '*(i 76, p $HWNDPARENT, p 0, p r1, p 0, i 0, i 1, p r2, i 1024, p 0, i 0, p 0, p 0, i 0x180C, &i2 0, &i2 0, p 0, p 0, p 0, p 0) p .r3'
    System::Call 'comdlg32::GetOpenFileNameA(p r3) i .r0'
    ${If} $0 <> 0
        System::Call '*$2(&t1024 .r0)'
    ${Else}
        StrCpy $0 ""
    ${EndIf}
    System::Free $3
    System::Free $2
    System::Free $1
    Pop $3
    Pop $2
    Pop $1
!endif
    ${If} $0 != ""
        ${NSD_SetText} $DriverText $0
    ${EndIf}
FunctionEnd

Function DriverPageLeave
    ${NSD_GetText} $DriverText $Driver
    ${NSD_GetState} $SimulatorBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Driver "simulator"
    ${EndIf}
    StrCpy $R0 $Driver
    Call CheckDriver
    ${If} $R1 != ""
        MessageBox MB_ICONEXCLAMATION|MB_OK $R1
        Abort
    ${EndIf}
FunctionEnd

; --- The files, one by one (QxrForEachFile): backed up before they are replaced, so that a
; failed setup puts back exactly what was there, whoever put it there.
!macro BackupFolder rel
    CreateDirectory "$PLUGINSDIR\old\${rel}"
!macroend
!macro BackupFile rel
    ${If} ${FileExists} "$INSTDIR\${rel}"
        System::Call 'kernel32::CopyFile(t "$INSTDIR\${rel}", t "$PLUGINSDIR\old\${rel}", i 0) i .r0'
        ${If} $0 = 0
            StrCpy $R9 "$R9 ${rel}"
        ${EndIf}
    ${EndIf}
!macroend
!macro RestoreFile rel
    ${If} ${FileExists} "$PLUGINSDIR\old\${rel}"
        System::Call 'kernel32::CopyFile(t "$PLUGINSDIR\old\${rel}", t "$INSTDIR\${rel}", i 0) i .r0'
        ${If} $0 = 0
            !insertmacro Log "  could not put back $INSTDIR\${rel}"
        ${EndIf}
    ${Else}
        Delete "$INSTDIR\${rel}"
    ${EndIf}
!macroend
!macro RemoveFolder rel
    RMDir "$INSTDIR\${rel}"
!macroend

; Fail CODE TEXT: the step failed. Undoes what this run did, leaves the log in %TEMP%.
!macro Fail code text
    !insertmacro Log "Setup stopped: ${text}"
    Call Rollback
    MessageBox MB_ICONSTOP|MB_OK "${text}$\r$\nSetup has undone its changes; the log is $LogFile." /SD IDOK
    SetErrorLevel ${code}
    Quit
!macroend

Function Rollback
    !insertmacro Log "Undoing this run's changes"
    ${If} $DidSync == 1
        !insertmacro QxrUnregisterCounters
        !insertmacro RunCaptured '"$INSTDIR\QxrSync.exe" -u'
        !insertmacro ServiceWait QxrSync 0
        DeleteRegKey HKLM "${EVENT_SOURCE}"
    ${EndIf}
    ${If} $SyncWasThere != 1
        ; The kept parameters put back before QxrSync -i: the copy stays under KEPT_KEY.
        Push QxrSync
        Call ServiceState
        ${If} $0 = 0
            DeleteRegKey HKLM "${SYNC_KEY}"
        ${EndIf}
    ${EndIf}
    ${If} $DidDriver == 1
        Call DriverRemove
        ${If} $DriverCopied == 1
            Delete $DriverFile
        ${EndIf}
    ${ElseIf} $DrvChanged == 1
        ; The driver's former settings, and the driver running with them as before.
        ${If} $DrvOld == ""
            DeleteRegValue HKLM "${DRV_PARAMS}" "Quoxar Product"
            DeleteRegValue HKLM "${DRV_PARAMS}" "I/O Port"
            DeleteRegValue HKLM "${DRV_PARAMS}" "Interrupt (IRQ)"
        ${Else}
            ${WordFind} $DrvOld " " "+1" $0
            WriteRegDWORD HKLM "${DRV_PARAMS}" "Quoxar Product" $0
            ${WordFind} $DrvOld " " "+2" $0
            WriteRegDWORD HKLM "${DRV_PARAMS}" "I/O Port" $0
            ${WordFind} $DrvOld " " "+3" $0
            WriteRegDWORD HKLM "${DRV_PARAMS}" "Interrupt (IRQ)" $0
        ${EndIf}
        !insertmacro Log "  the driver's settings put back ($DrvOld)"
        Push QxrDrv
        Call ServiceState
        ${If} $0 <> 4
            !insertmacro ServiceControl QxrDrv start
        ${EndIf}
    ${EndIf}
    ${If} $DidFiles == 1
        !insertmacro QxrForEachFile RestoreFile
        !insertmacro RestoreFile "uninstall.exe"
        !insertmacro RestoreFile "qxr-uninstall.exe"
        !insertmacro RestoreFile "setup.log"
        SetOutPath $TEMP
        System::Call 'kernel32::SetCurrentDirectory(t "$TEMP")'
        ${If} $Upgrade != 1
            !insertmacro QxrForEachFolder RemoveFolder
            RMDir $INSTDIR
            Delete "${MENU}\QxrSet.lnk"
            Delete "${MENU}\QxrCfgNT.lnk"
            Delete "${MENU}\veyla.txt.lnk"
            RMDir "${MENU}"
        ${EndIf}
    ${EndIf}
    ${If} $SyncStopped == 1
        ; The older installation stays; its service runs again.
        !insertmacro ServiceControl QxrSync start
    ${EndIf}
FunctionEnd

; A step NSIS itself stopped (a file it could not write): undone all the same.
Function .onInstFailed
    Call Rollback
    SetErrorLevel ${EXIT_FILES}
FunctionEnd

Section "Install"
    SetShellVarContext all
    ; 32-bit setup on 64-bit Windows: the driver belongs in the real system32\drivers.
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
    ${EndIf}

    ; 0. Nothing changes before these checks. An installation setup did not make (by hand
    ; from veyla.txt, or by the other architecture's setup) is not taken over.
    ClearErrors
    ReadRegStr $R0 HKLM "${SYNC_KEY}" ImagePath
    ${IfNot} ${Errors}
        StrCpy $SyncWasThere 1
        StrCpy $0 $R0 1
        ${If} $0 == '"'
            StrCpy $R0 $R0 -1 1
        ${EndIf}
        ${If} $R0 != "$INSTDIR\QxrSync.exe"
            !insertmacro Refuse ${EXIT_FOREIGN} "The service QxrSync is installed from $R0, not from $INSTDIR: remove that installation first (veyla.txt, REMOVING), or install into its folder with /D=."
        ${EndIf}
        ${If} $Upgrade != 1
            !insertmacro Log "QxrSync is installed in $INSTDIR without setup: setup replaces its files and keeps the service"
        ${EndIf}
    ${EndIf}
    ; Every file setup replaces must be free (what the service holds: once it has stopped).
    StrCpy $CheckSkip 1
    ${Do}
        StrCpy $R9 ""
        !insertmacro QxrForEachFile FileFree
        !insertmacro FileFree "uninstall.exe"
        !insertmacro FileFree "qxr-uninstall.exe"
        ${If} $R9 == ""
            ${ExitDo}
        ${EndIf}
        !insertmacro Log "In use:$R9"
        MessageBox MB_ICONEXCLAMATION|MB_RETRYCANCEL "These files in $INSTDIR are in use:$R9.$\r$\nClose QxrSet (and any other program using them), then choose Retry." /SD IDCANCEL IDRETRY retry_in_use
        !insertmacro Refuse ${EXIT_IN_USE} "Files in $INSTDIR are in use:$R9. Close QxrSet and run setup again."
      retry_in_use:
    ${Loop}
    ${If} $SyncWasThere == 1
        Push QxrSync
        Call ServiceState
        ${If} $0 <> 1
            !insertmacro Log "Stopping the service QxrSync to replace its files"
            !insertmacro ServiceControl QxrSync stop
            ${If} $0 <> 1
                !insertmacro Refuse ${EXIT_SERVICE_START} "The service QxrSync did not stop."
            ${EndIf}
            StrCpy $SyncStopped 1
        ${EndIf}
        !insertmacro WaitAllFree
        ${If} $R9 != ""
            ${If} $SyncStopped == 1
                !insertmacro ServiceControl QxrSync start
            ${EndIf}
            !insertmacro Refuse ${EXIT_IN_USE} "Files in $INSTDIR are in use:$R9 (with the service stopped). Close the program using them and run setup again."
        ${EndIf}
    ${EndIf}

    ; 1. The files, the ones there before kept aside until setup has succeeded.
    !insertmacro Log "Copying the files to $INSTDIR"
    StrCpy $R9 ""
    !insertmacro QxrForEachFolder BackupFolder
    !insertmacro QxrForEachFile BackupFile
    !insertmacro BackupFile "uninstall.exe"
    !insertmacro BackupFile "qxr-uninstall.exe"
    !insertmacro BackupFile "setup.log"
    StrCpy $DidFiles 1
    ${If} $R9 != ""
        !insertmacro Fail ${EXIT_FILES} "Could not keep a copy of$R9 for undoing."
    ${EndIf}
    CreateDirectory $INSTDIR
    ClearErrors
    !insertmacro QxrInstallFiles
    File "/oname=$INSTDIR\uninstall.exe" "${UNINSTALL_EXE}"
    WriteUninstaller "$INSTDIR\qxr-uninstall.exe"
    ${If} ${Errors}
        !insertmacro Fail ${EXIT_FILES} "Could not copy the files to $INSTDIR."
    ${EndIf}

    ; 2. The Start menu.
    ; The shortcuts start in $INSTDIR (the output folder). Everything setup starts from here
    ; on starts in %TEMP% instead: a helper started on the way (Wine's menu builder, for one)
    ; can outlive setup's step in its current directory, and the folder could then not be
    ; removed when a later step fails.
    !insertmacro Log "Start menu entries in ${MENU}"
    System::Call 'kernel32::SetCurrentDirectory(t "$TEMP")'
    CreateDirectory "${MENU}"
    CreateShortCut "${MENU}\QxrSet.lnk" "$INSTDIR\QxrSet.exe"
    CreateShortCut "${MENU}\QxrCfgNT.lnk" "$INSTDIR\QxrCfgNT.exe"
    CreateShortCut "${MENU}\veyla.txt.lnk" "$INSTDIR\veyla.txt"
    SetOutPath $TEMP

    ; 3. The driver, registered through the Service Control Manager with the entry Ondrak makes.
    ${If} $DriverKept == 1
        !insertmacro Log "The driver QxrDrv is registered already: kept as it is"
    ${Else}
        ${If} $Driver == "simulator"
            StrCpy $R0 "$INSTDIR\simulator\qxrsimdrv.sys"
            StrCpy $R2 "QXR Card Simulator"
        ${Else}
            StrCpy $R0 $Driver
            StrCpy $R2 "QXR Card Device Driver"
        ${EndIf}
        ${GetBaseName} $DriverFile $R1
        ${If} $R0 == $DriverFile
            !insertmacro Log "The driver $DriverFile is in place already"
        ${Else}
            ${If} ${FileExists} $DriverFile
                !insertmacro Fail ${EXIT_DRIVER_FILE} "The file $DriverFile exists already; setup does not overwrite a driver it did not install."
            ${EndIf}
            !insertmacro Log "Copying the driver $R0 to $DriverFile"
            ClearErrors
            CopyFiles /SILENT $R0 $DriverFile
            ${If} ${Errors}
            ${OrIfNot} ${FileExists} $DriverFile
                !insertmacro Fail ${EXIT_DRIVER_REG} "Could not copy the driver to $DriverFile."
            ${EndIf}
            StrCpy $DriverCopied 1
        ${EndIf}
        !insertmacro Log "Registering the driver"
        Push $R1
        Push $R2
        Call DriverRegister
        ${If} $0 <> 0
            !insertmacro Fail ${EXIT_DRIVER_REG} "The driver $R1 could not be registered as QxrDrv (error $0)."
        ${EndIf}
        StrCpy $DidDriver 1
    ${EndIf}

    ; 4. The driver's parameters key and the device settings, stored as QxrCfgNT stores them.
    ClearErrors
    EnumRegValue $0 HKLM "${DRV_PARAMS}" 0
    ${If} ${Errors}
        !insertmacro Log "Creating the key HKLM\${DRV_PARAMS}"
        WriteRegStr HKLM "${DRV_PARAMS}" "QxrSetup" ""
        DeleteRegValue HKLM "${DRV_PARAMS}" "QxrSetup"
    ${EndIf}
    ${If} ${Silent}
        ClearErrors
        ReadRegDWORD $0 HKLM "${DRV_PARAMS}" "Quoxar Product"
        ${IfNot} ${Errors}
            ReadRegDWORD $1 HKLM "${DRV_PARAMS}" "I/O Port"
            ReadRegDWORD $2 HKLM "${DRV_PARAMS}" "Interrupt (IRQ)"
            StrCpy $DrvOld "$0 $1 $2"
        ${ElseIf} $Bus == ""
            StrCpy $Bus PCI
            StrCpy $Port 0
            StrCpy $Irq 0
        ${EndIf}
        ${If} $Bus == ""
            !insertmacro Log "Device settings kept as stored"
        ${Else}
            StrCpy $0 2
            ${If} $Bus == "ISA"
                StrCpy $0 1
            ${EndIf}
            !insertmacro Log "Device settings: $Bus, port $Port, interrupt $Irq"
            StrCpy $DrvChanged 1
            WriteRegDWORD HKLM "${DRV_PARAMS}" "Quoxar Product" $0
            WriteRegDWORD HKLM "${DRV_PARAMS}" "I/O Port" $Port
            WriteRegDWORD HKLM "${DRV_PARAMS}" "Interrupt (IRQ)" $Irq
            ; The driver reads them when it starts.
            Push QxrDrv
            Call ServiceState
            ${If} $0 = 4
                !insertmacro ServiceControl QxrDrv stop
                ${If} $0 <> 1
                    !insertmacro Fail ${EXIT_DRIVER_START} "The driver QxrDrv did not stop to take the new settings (a program may hold it open)."
                ${EndIf}
            ${EndIf}
        ${EndIf}
    ${Else}
        !insertmacro Log "Device settings: QxrCfgNT"
        ExecWait '"$INSTDIR\QxrCfgNT.exe"' $0
        !insertmacro Log "  QxrCfgNT: exit code $0"
    ${EndIf}
    Push QxrDrv
    Call ServiceState
    ${If} $0 <> 4
        !insertmacro Log "Starting the driver"
        !insertmacro ServiceControl QxrDrv start
        ${If} $0 <> 4
            !insertmacro Fail ${EXIT_DRIVER_START} "The driver QxrDrv did not start."
        ${EndIf}
    ${EndIf}

    ; 5. The time synchronizer service. QxrSync -i exits 0 whatever happened: its result is
    ; the service's state, its reason its output (in the log).
    ${If} $SyncWasThere == 1
        !insertmacro Log "The service QxrSync is installed already: starting it again"
        Push QxrSync
        Call ServiceState
        ${If} $0 <> 4
            !insertmacro ServiceControl QxrSync start
        ${EndIf}
        StrCpy $SyncStopped 0
    ${Else}
        ClearErrors
        EnumRegValue $0 HKLM "${KEPT_KEY}" 0
        ${IfNot} ${Errors}
            !insertmacro Log "Restoring the service's kept parameters"
            Push "${KEPT_KEY}"
            Push "${SYNC_PARAMS}"
            Call CopyValues
            ${If} $0 <> 0
                !insertmacro Fail ${EXIT_SERVICE_INST} "Could not put back the service's kept parameters (error $0)."
            ${EndIf}
        ${EndIf}
        !insertmacro Log "Installing the service"
        !insertmacro RunCaptured '"$INSTDIR\QxrSync.exe" -i'
        Push QxrSync
        Call ServiceState
        ${If} $0 = 0
            !insertmacro Fail ${EXIT_SERVICE_INST} "QxrSync -i did not register the service (its output is in the log)."
        ${EndIf}
        StrCpy $DidSync 1
    ${EndIf}
    !insertmacro ServiceWait QxrSync 4
    ${If} $0 <> 4
        !insertmacro Fail ${EXIT_SERVICE_START} "The service QxrSync did not start."
    ${EndIf}
    ; Its performance counters, under the service's key (a failure is logged, nothing more:
    ; the service runs without them).
    !insertmacro QxrRegisterCounters

    ; 6. Add/Remove Programs.
    !insertmacro Log "Add/Remove Programs entry"
    WriteRegStr HKLM "${UNINST_KEY}" DisplayName "${PRODUCT} ${VERSION} (${ARCH})"
    WriteRegStr HKLM "${UNINST_KEY}" DisplayVersion ${VERSION}
    WriteRegStr HKLM "${UNINST_KEY}" Publisher Quoxar
    WriteRegStr HKLM "${UNINST_KEY}" InstallLocation $INSTDIR
    WriteRegStr HKLM "${UNINST_KEY}" DisplayIcon "$INSTDIR\QxrSet.exe"
    WriteRegStr HKLM "${UNINST_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINST_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINST_KEY}" NoModify 1
    WriteRegDWORD HKLM "${UNINST_KEY}" NoRepair 1
    ${If} $DidDriver == 1
        ; Only a driver setup registered goes with the uninstaller; its file only if setup
        ; copied it.
        WriteRegDWORD HKLM "${UNINST_KEY}" QxrDriverService 1
        ${If} $DriverCopied == 1
            WriteRegStr HKLM "${UNINST_KEY}" QxrDriverFile $DriverFile
        ${EndIf}
    ${EndIf}
    ; The kept parameters are in use now: their copy goes.
    DeleteRegKey HKLM "${KEPT_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Quoxar\QXR"
    DeleteRegKey /ifempty HKLM "Software\Quoxar"

    ${If} ${RebootFlag}
        !insertmacro Log "Setup finished: every step done; a restart finishes it"
        SetErrorLevel ${EXIT_REBOOT}
    ${Else}
        !insertmacro Log "Setup finished: every step done"
        SetErrorLevel ${EXIT_OK}
    ${EndIf}
    SetDetailsPrint none
    CopyFiles /SILENT $LogFile "$INSTDIR\setup.log"
    Delete $LogFile
    SetDetailsPrint both
    StrCpy $LogFile "$INSTDIR\setup.log"
SectionEnd

; ====== The uninstaller proper (run by uninstall.exe on the installation folder).
Var KeepSettings
Var KeepBox
!macro UnRemoveFile rel
    Delete /REBOOTOK "$INSTDIR\${rel}"
!macroend
!macro UnRemoveFolder rel
    RMDir "$INSTDIR\${rel}"
!macroend


; UnStop CODE TEXT: the uninstaller stops at a step; what is done is in its log.
!macro UnStop code text
    !insertmacro Log "Uninstall stopped: ${text}"
    !insertmacro Log "Uninstall finished, exit code ${code}"
    MessageBox MB_ICONSTOP|MB_OK "${text}$\r$\nThe log is $LogFile." /SD IDOK
    SetErrorLevel ${code}
    Quit
!macroend

Function un.onInit
    StrCpy $LogFile "$TEMP\qxr-uninstall.log"
    Delete $LogFile
    !insertmacro Log "${PRODUCT} ${VERSION} (${ARCH}) uninstall from $INSTDIR"
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/KEEPSETTINGS" $0
    ${IfNot} ${Errors}
        StrCpy $KeepSettings 1
    ${EndIf}
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        !insertmacro UnStop ${EXIT_NOT_ADMIN} "Uninstall needs an administrator's rights (this account: $0). Nothing was changed."
    ${EndIf}
    !insertmacro OneInstance
    ${If} $0 = 183
        !insertmacro UnStop ${EXIT_RUNNING} "Another setup or uninstall of ${PRODUCT} is running. Nothing was changed."
    ${EndIf}
FunctionEnd

Function un.KeepPage
    !insertmacro MUI_HEADER_TEXT "Remove ${PRODUCT}" "Setup removes what it installed."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 24u "The service QxrSync, the driver (if setup registered it), the files in $INSTDIR and the Start menu entries go. A tracking log file stays."
    Pop $0
    ${NSD_CreateCheckbox} 0 30u 100% 12u "Keep the time synchronizer's settings for a later installation"
    Pop $KeepBox
    ${If} $KeepSettings == 1
        ${NSD_Check} $KeepBox
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function un.KeepPageLeave
    ${NSD_GetState} $KeepBox $0
    StrCpy $KeepSettings 0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $KeepSettings 1
    ${EndIf}
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
    ${EndIf}
    ; Not in the folder it removes (see the setup's section).
    SetOutPath $TEMP

    ; 1. Every file it deletes must be free (what the service holds: once it is removed).
    StrCpy $CheckSkip 1
    ${Do}
        StrCpy $R9 ""
        !insertmacro QxrForEachFile FileFree
        ${If} $R9 == ""
            ${ExitDo}
        ${EndIf}
        !insertmacro Log "In use:$R9"
        MessageBox MB_ICONEXCLAMATION|MB_RETRYCANCEL "These files in $INSTDIR are in use:$R9.$\r$\nClose QxrSet (and any other program using them), then choose Retry." /SD IDCANCEL IDRETRY un_retry_in_use
        !insertmacro UnStop ${EXIT_IN_USE} "Files in $INSTDIR are in use:$R9. Close QxrSet and run the uninstaller again. Nothing was changed."
      un_retry_in_use:
    ${Loop}

    ; 2. The service. QxrSync -u exits 0 whatever happened: its result is the service's state.
    Push QxrSync
    Call un.ServiceState
    ${If} $0 <> 0
        ${If} $KeepSettings == 1
            !insertmacro Log "Keeping the service's parameters in HKLM\${KEPT_KEY}"
            DeleteRegKey HKLM "${KEPT_KEY}"
            Push "${SYNC_PARAMS}"
            Push "${KEPT_KEY}"
            Call un.CopyValues
            ${If} $0 <> 0
                DeleteRegKey HKLM "${KEPT_KEY}"
                !insertmacro UnStop ${EXIT_SERVICE_REMOVE} "Could not keep the service's parameters (error $0). Nothing was changed."
            ${EndIf}
        ${EndIf}
        !insertmacro QxrUnregisterCounters
        !insertmacro Log "Stopping and removing the service"
        !insertmacro RunCaptured '"$INSTDIR\QxrSync.exe" -u'
        !insertmacro ServiceWait QxrSync 0
        ${If} $0 <> 0
            !insertmacro UnStop ${EXIT_SERVICE_REMOVE} "The service QxrSync is still registered (state $0; QxrSync -u's output is in the log). The rest stays installed."
        ${EndIf}
        ; A file still in use afterwards is deleted at the next restart (3010).
        !insertmacro WaitAllFree
    ${EndIf}
    ; QxrSync -u keeps its event source for the event viewer; setup made it, so it goes.
    DeleteRegKey HKLM "${EVENT_SOURCE}"

    ; 3. The driver, if setup registered it.
    ClearErrors
    ReadRegDWORD $R1 HKLM "${UNINST_KEY}" QxrDriverService
    ReadRegStr $R0 HKLM "${UNINST_KEY}" QxrDriverFile
    ${If} $R0 != ""
        ; Written by the first setups, which registered every driver file they copied.
        StrCpy $R1 1
    ${EndIf}
    ${If} $R1 = 1
        !insertmacro Log "Removing the driver setup registered"
        Call un.DriverRemove
        ${If} $0 = 1
            !insertmacro Log "QxrDrv is still loaded: it goes at the next restart"
            SetRebootFlag true
        ${ElseIf} $0 <> 0
            !insertmacro UnStop ${EXIT_DRIVER_REMOVE} "The driver QxrDrv could not be removed (error $0). The service is removed; the files stay."
        ${EndIf}
        ${If} $R0 != ""
            Delete /REBOOTOK $R0
        ${EndIf}
    ${Else}
        !insertmacro Log "The driver was there before setup: kept"
    ${EndIf}

    ; 4. The files (one still in use goes at the next restart) and the Start menu entries.
    !insertmacro Log "Removing the files and the Start menu entries"
    !insertmacro QxrForEachFile UnRemoveFile
    !insertmacro QxrForEachFolder UnRemoveFolder
    Delete "$INSTDIR\setup.log"
    Delete /REBOOTOK "$INSTDIR\qxr-uninstall.exe"
    ; uninstall.exe waits for this program: a running program's file cannot be deleted, but it
    ; can be moved; it goes from %TEMP% at the next restart, as NSIS's own copies do.
    Delete "$INSTDIR\uninstall.exe"
    ${If} ${FileExists} "$INSTDIR\uninstall.exe"
        System::Call 'kernel32::GetTickCount() i .r0'
        StrCpy $1 "$TEMP\qxr-uninstall-$0.tmp"
        ClearErrors
        Rename "$INSTDIR\uninstall.exe" $1
        ${If} ${Errors}
            !insertmacro Log "  could not move the running uninstall.exe out of the folder"
            Delete /REBOOTOK "$INSTDIR\uninstall.exe"
        ${Else}
            System::Call 'kernel32::MoveFileEx(t r1, p 0, i 4) i .r0'
        ${EndIf}
    ${EndIf}
    ; Only when empty: a tracking log file of the operator's stays.
    RMDir $INSTDIR
    Delete "${MENU}\QxrSet.lnk"
    Delete "${MENU}\QxrCfgNT.lnk"
    Delete "${MENU}\veyla.txt.lnk"
    RMDir "${MENU}"
    DeleteRegKey HKLM "${UNINST_KEY}"
    ${If} ${RebootFlag}
        !insertmacro Log "Files still in use are deleted at the next restart"
        !insertmacro Log "Uninstall finished, exit code ${EXIT_REBOOT}"
        SetErrorLevel ${EXIT_REBOOT}
    ${Else}
        !insertmacro Log "Uninstall finished, exit code 0"
        SetErrorLevel ${EXIT_OK}
    ${EndIf}
SectionEnd
