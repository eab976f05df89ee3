; The setup program of a release package: installs what the ZIP package holds and does the steps
; of veyla.txt in their order, each only when it is not done already; its uninstaller reverses
; what setup did. Built by make_setup.cmake:
;   makensis -DVERSION=1.0.0.2 -DARCH=win64|win32 -DFILES=setup_files.nsh -DOUTFILE=x.exe qxr-setup.nsi
; FILES defines the macros QxrInstallFiles and QxrRemoveFiles (the package's files, one by one).
;
; Silent (/S) options: /DRIVER=path (or /DRIVER=simulator, win64), /BUS=PCI|ISA, /PORT=300..370,
; /IRQ=5|7|10|11|12|15, /D=folder (last). Uninstaller: /S, /KEEPSETTINGS.
; Exit codes: 0 every step done, 1 cancelled, 2 bad option or missing driver file, 3 files,
; 4 driver registration, 5 driver start, 6 service installation, 7 service start.
; The uninstaller: 0 everything removed, 3 a file in use stayed, 4 driver removal, 6 service
; removal.

!ifndef VERSION | ARCH | FILES | OUTFILE
  !error "define VERSION, ARCH, FILES and OUTFILE"
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
; back before it installs the service.
!define KEPT_KEY "Software\Quoxar\QXR\QxrSync Parameters"
!define MENU "$SMPROGRAMS\${PRODUCT}"

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
VIProductVersion ${VERSION}
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey CompanyName "Quoxar"
VIAddVersionKey FileDescription "${PRODUCT} setup (${ARCH})"
VIAddVersionKey FileVersion ${VERSION}
VIAddVersionKey ProductVersion ${VERSION}
VIAddVersionKey LegalCopyright "Quoxar"

Var Driver          ; driver file to install, "simulator" for the bundled one, "" for none
Var DriverKept      ; 1: QxrDrv was registered before setup, left as it is
Var Bus
Var Port
Var Irq
Var Upgrade         ; 1: a setup of this product is installed in $INSTDIR already
Var SyncWasThere    ; 1: the QxrSync service existed before this run
Var DidFiles
Var DidDriver
Var DriverFile      ; the driver file setup copied, for the uninstaller
Var DidSync
Var LogFile
Var KeepSettings
Var DriverText
!if "${ARCH}" == "win64"
  Var SimulatorBox
!endif
Var KeepBox

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
Page custom DriverPage DriverPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
UninstPage custom un.KeepPage un.KeepPageLeave
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

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
!insertmacro QxrLogFunction ""
!insertmacro QxrLogFunction "un."
!macro Log text
    Push `${text}`
    !ifdef __UNINSTALL__
        Call un.Log
    !else
        Call Log
    !endif
!macroend

; RunLogged COMMAND: runs it, logs it with its exit code; the exit code in $0.
!macro RunLogged command
    ClearErrors
    ExecWait `${command}` $0
    ${If} ${Errors}
        StrCpy $0 "not started"
    ${EndIf}
    !insertmacro Log `  ${command}: exit code $0`
!macroend

; Ondrak registers a driver on Windows NT 4.0 only and refuses every later Windows, where the
; 64-bit setup runs: there the driver is registered and removed with sc.exe, with the entry
; Ondrak would make (kernel driver, automatic start, normal error control).
!macro RegisterDriver root words
  !if "${ARCH}" == "win64"
    !insertmacro RunLogged '"$SYSDIR\sc.exe" create QxrDrv type= kernel start= auto error= normal binPath= \SystemRoot\system32\drivers\${root}.sys DisplayName= "${words}"'
  !else
    !insertmacro RunLogged '"$INSTDIR\Ondrak.exe" QxrDrv ${root} "${words}"'
  !endif
!macroend
!macro RemoveDriver
  !if "${ARCH}" == "win64"
    !insertmacro RunLogged '"$SYSDIR\sc.exe" stop QxrDrv'
    !insertmacro RunLogged '"$SYSDIR\sc.exe" delete QxrDrv'
  !else
    !insertmacro RunLogged '"$INSTDIR\Ondrak.exe" QxrDrv'
  !endif
!macroend

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
!insertmacro QxrServiceStateFunction ""

; WaitRunning NAME: waits up to 20 s until the service runs; $0 = 4 then.
!macro WaitRunning name
    StrCpy $1 0
    ${Do}
        Push ${name}
        Call ServiceState
        ${If} $0 = 4
        ${OrIf} $1 >= 40
            ${ExitDo}
        ${EndIf}
        Sleep 500
        IntOp $1 $1 + 1
    ${Loop}
!macroend

; WaitWritable FILE: waits up to 10 s until FILE can be written: a stopped service's process
; may still be ending, and its program file cannot be replaced or deleted before.
!macro WaitWritable file
    StrCpy $1 0
    ${Do}
        ClearErrors
        FileOpen $2 `${file}` a
        ${IfNot} ${Errors}
            FileClose $2
            ${ExitDo}
        ${EndIf}
        ${If} $1 >= 40
            ${ExitDo}
        ${EndIf}
        Sleep 250
        IntOp $1 $1 + 1
    ${Loop}
!macroend

; CopyValues FROM TO: every value of HKLM\FROM into HKLM\TO (DWORDs as DWORDs, the rest as
; strings: the service's parameters are nothing else).
!macro QxrCopyValuesFunction prefix
Function ${prefix}CopyValues
    Exch $R1 ; to
    Exch
    Exch $R0 ; from
    Push $R2
    Push $R3
    Push $R4
    StrCpy $R2 0
    ${Do}
        EnumRegValue $R3 HKLM $R0 $R2
        ${If} $R3 == ""
            ${ExitDo}
        ${EndIf}
        ClearErrors
        ReadRegDWORD $R4 HKLM $R0 $R3
        ${If} ${Errors}
            ReadRegStr $R4 HKLM $R0 $R3
            WriteRegStr HKLM $R1 $R3 $R4
        ${Else}
            WriteRegDWORD HKLM $R1 $R3 $R4
        ${EndIf}
        IntOp $R2 $R2 + 1
    ${Loop}
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R0
    Pop $R1
FunctionEnd
!macroend
!insertmacro QxrCopyValuesFunction ""
!insertmacro QxrCopyValuesFunction "un."

; --- Options and what is there already, before any page and before anything changes.
Function .onInit
    InitPluginsDir
    StrCpy $LogFile "$TEMP\qxr-setup.log"
    Delete $LogFile
    !insertmacro Log "${PRODUCT} ${VERSION} (${ARCH}) setup"

    ClearErrors
    ReadRegStr $0 HKLM "${UNINST_KEY}" InstallLocation
    ${IfNot} ${Errors}
    ${AndIf} $0 != ""
        StrCpy $Upgrade 1
        StrCpy $INSTDIR $0
        !insertmacro Log "Installed already in $INSTDIR: upgrading it"
    ${EndIf}
    ClearErrors
    ReadRegDWORD $0 HKLM "${DRV_KEY}" Type
    ${IfNot} ${Errors}
        StrCpy $DriverKept 1
    ${EndIf}

    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/DRIVER=" $Driver
    ClearErrors
    ${GetOptions} $R0 "/BUS=" $Bus
    ClearErrors
    ${GetOptions} $R0 "/PORT=" $Port
    ClearErrors
    ${GetOptions} $R0 "/IRQ=" $Irq

    ${If} $Bus != ""
    ${AndIf} $Bus != "PCI"
    ${AndIf} $Bus != "ISA"
        StrCpy $R1 "/BUS=$Bus: the bus is PCI or ISA."
        Goto bad
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
            StrCpy $R1 "/PORT=$Port: the ISA port is one of 300, 310, ... 370."
            Goto bad
        ${EndIf}
        StrCpy $Port $R2
        ${If} $Irq != 5
        ${AndIf} $Irq != 7
        ${AndIf} $Irq != 10
        ${AndIf} $Irq != 11
        ${AndIf} $Irq != 12
        ${AndIf} $Irq != 15
            StrCpy $R1 "/IRQ=$Irq: the interrupt is one of 5, 7, 10, 11, 12, 15."
            Goto bad
        ${EndIf}
    ${ElseIf} $Bus == "PCI"
        StrCpy $Port 0
        StrCpy $Irq 0
    ${EndIf}

    ${If} ${Silent}
    ${AndIf} $DriverKept != 1
        ${If} $Driver == ""
            StrCpy $R1 "QxrDrv is not registered: name the card's driver file with /DRIVER=path."
            Goto bad
        ${EndIf}
        ${If} $Driver == "simulator"
            !if "${ARCH}" != "win64"
                StrCpy $R1 "/DRIVER=simulator: the card simulator comes with the win64 setup only."
                Goto bad
            !endif
        ${ElseIfNot} ${FileExists} $Driver
            StrCpy $R1 "The driver file $Driver does not exist."
            Goto bad
        ${EndIf}
    ${EndIf}
    Return
bad:
    !insertmacro Log "Setup stopped: $R1 Nothing was installed."
    MessageBox MB_ICONSTOP|MB_OK "$R1$\r$\nNothing was installed." /SD IDOK
    SetErrorLevel 2
    Quit
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
!if "${ARCH}" == "win64"
    ${NSD_CreateCheckbox} 0 50u 100% 12u "Use the card simulator instead (simulator\qxrsimdrv.sys, for trying without the card)"
    Pop $SimulatorBox
    ${If} $Driver == "simulator"
        ${NSD_Check} $SimulatorBox
    ${EndIf}
!endif
    nsDialogs::Show
FunctionEnd

Function BrowseDriver
    ${NSD_GetText} $DriverText $0
    nsDialogs::SelectFileDialog open $0 "Drivers (*.sys)|*.sys|All files|*.*"
    Pop $0
    ${If} $0 != ""
        ${NSD_SetText} $DriverText $0
    ${EndIf}
FunctionEnd

Function DriverPageLeave
    ${NSD_GetText} $DriverText $Driver
!if "${ARCH}" == "win64"
    ${NSD_GetState} $SimulatorBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Driver "simulator"
        Return
    ${EndIf}
!endif
    ${IfNot} ${FileExists} $Driver
    ${OrIf} $Driver == ""
        MessageBox MB_ICONEXCLAMATION|MB_OK "The driver file '$Driver' does not exist."
        Abort
    ${EndIf}
FunctionEnd

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
        !insertmacro RunLogged '"$INSTDIR\QxrSync.exe" -u'
        DeleteRegKey HKLM "${EVENT_SOURCE}"
    ${EndIf}
    ${If} $DidDriver == 1
        !insertmacro RemoveDriver
        Delete $DriverFile
    ${EndIf}
    ${If} $Upgrade == 1
        ; The older installation stays; its service runs again.
        ${If} $SyncWasThere == 1
            !insertmacro RunLogged '"$SYSDIR\net.exe" start QxrSync'
        ${EndIf}
        Return
    ${EndIf}
    ${If} $DidFiles == 1
        !insertmacro QxrRemoveFiles
        Delete "$INSTDIR\setup.log"
        Delete "$INSTDIR\uninstall.exe"
        SetOutPath $TEMP
        System::Call 'kernel32::SetCurrentDirectory(t "$TEMP")'
        RMDir $INSTDIR
        Delete "${MENU}\QxrSet.lnk"
        Delete "${MENU}\QxrCfgNT.lnk"
        Delete "${MENU}\veyla.txt.lnk"
        RMDir "${MENU}"
    ${EndIf}
FunctionEnd

Section "Install"
    SetShellVarContext all
    ; 32-bit setup on 64-bit Windows: the driver belongs in the real system32\drivers.
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
    ${EndIf}

    ClearErrors
    ReadRegDWORD $0 HKLM "${SYNC_KEY}" Type
    ${IfNot} ${Errors}
        StrCpy $SyncWasThere 1
        Push QxrSync
        Call ServiceState
        ${If} $0 <> 1
            !insertmacro Log "Stopping the service QxrSync to replace its files"
            !insertmacro RunLogged '"$SYSDIR\net.exe" stop QxrSync'
        ${EndIf}
        !insertmacro WaitWritable "$INSTDIR\QxrSync.exe"
    ${EndIf}

    ; 1. The files.
    !insertmacro Log "Copying the files to $INSTDIR"
    CreateDirectory $INSTDIR
    StrCpy $DidFiles 1
    ClearErrors
    !insertmacro QxrInstallFiles
    ${If} ${Errors}
        !insertmacro Fail 3 "Could not copy the files to $INSTDIR (is QxrSet running? Close it and run setup again)."
    ${EndIf}
    WriteUninstaller "$INSTDIR\uninstall.exe"

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

    ; 3. The card driver.
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
        ${GetBaseName} $R0 $R1
        ${IfNot} ${FileExists} $R0
            !insertmacro Fail 2 "The driver file $R0 does not exist."
        ${EndIf}
        StrCpy $DriverFile "$SYSDIR\drivers\$R1.sys"
        !insertmacro Log "Copying the driver $R0 to $DriverFile"
        ClearErrors
        CopyFiles /SILENT $R0 $DriverFile
        ${If} ${Errors}
            !insertmacro Fail 4 "Could not copy the driver to $DriverFile."
        ${EndIf}
        !insertmacro Log "Registering the driver"
        !insertmacro RegisterDriver $R1 $R2
        ${If} $0 != 0
            Delete $DriverFile
            !insertmacro Fail 4 "The driver $R1 could not be registered (exit code $0)."
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
        ${If} $Bus == ""
        ${AndIf} ${Errors}
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
            WriteRegDWORD HKLM "${DRV_PARAMS}" "Quoxar Product" $0
            WriteRegDWORD HKLM "${DRV_PARAMS}" "I/O Port" $Port
            WriteRegDWORD HKLM "${DRV_PARAMS}" "Interrupt (IRQ)" $Irq
            ; The driver reads them when it starts.
            Push QxrDrv
            Call ServiceState
            ${If} $0 = 4
                !insertmacro RunLogged '"$SYSDIR\net.exe" stop QxrDrv'
            ${EndIf}
        ${EndIf}
    ${Else}
        !insertmacro Log "Device settings: QxrCfgNT"
        !insertmacro RunLogged '"$INSTDIR\QxrCfgNT.exe"'
    ${EndIf}
    Push QxrDrv
    Call ServiceState
    ${If} $0 <> 4
        !insertmacro Log "Starting the driver"
        !insertmacro RunLogged '"$SYSDIR\net.exe" start QxrDrv'
        Push QxrDrv
        Call ServiceState
        ${If} $0 <> 4
            !insertmacro Fail 5 "The driver QxrDrv did not start."
        ${EndIf}
    ${EndIf}

    ; 5. The time synchronizer service.
    ${If} $SyncWasThere == 1
        !insertmacro Log "The service QxrSync is installed already: starting it again"
        !insertmacro RunLogged '"$SYSDIR\net.exe" start QxrSync'
    ${Else}
        ClearErrors
        EnumRegValue $0 HKLM "${KEPT_KEY}" 0
        ${IfNot} ${Errors}
            !insertmacro Log "Restoring the service's kept parameters"
            Push "${KEPT_KEY}"
            Push "${SYNC_PARAMS}"
            Call CopyValues
            DeleteRegKey HKLM "${KEPT_KEY}"
            DeleteRegKey /ifempty HKLM "Software\Quoxar\QXR"
            DeleteRegKey /ifempty HKLM "Software\Quoxar"
        ${EndIf}
        !insertmacro Log "Installing the service"
        !insertmacro RunLogged '"$INSTDIR\QxrSync.exe" -i'
        ${If} $0 != 0
            !insertmacro Fail 6 "QxrSync -i failed (exit code $0)."
        ${EndIf}
        StrCpy $DidSync 1
    ${EndIf}
    !insertmacro WaitRunning QxrSync
    ${If} $0 <> 4
        !insertmacro Fail 7 "The service QxrSync did not start."
    ${EndIf}

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
        ; Only a driver setup registered goes with the uninstaller.
        WriteRegStr HKLM "${UNINST_KEY}" QxrDriverFile $DriverFile
    ${EndIf}

    !insertmacro Log "Setup finished: every step done"
    SetDetailsPrint none
    CopyFiles /SILENT $LogFile "$INSTDIR\setup.log"
    Delete $LogFile
    SetDetailsPrint both
    StrCpy $LogFile "$INSTDIR\setup.log"
    SetErrorLevel 0
SectionEnd

; --- The uninstaller.
Function un.onInit
    StrCpy $LogFile "$TEMP\qxr-uninstall.log"
    Delete $LogFile
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/KEEPSETTINGS" $0
    ${IfNot} ${Errors}
        StrCpy $KeepSettings 1
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
    !insertmacro Log "${PRODUCT} ${VERSION} (${ARCH}) uninstall from $INSTDIR"
    ; Not in the folder it removes (see the setup's section).
    SetOutPath $TEMP
    StrCpy $R9 0 ; exit code

    ClearErrors
    ReadRegDWORD $0 HKLM "${SYNC_KEY}" Type
    ${IfNot} ${Errors}
        ${If} $KeepSettings == 1
            !insertmacro Log "Keeping the service's parameters in HKLM\${KEPT_KEY}"
            DeleteRegKey HKLM "${KEPT_KEY}"
            Push "${SYNC_PARAMS}"
            Push "${KEPT_KEY}"
            Call un.CopyValues
        ${EndIf}
        !insertmacro Log "Stopping and removing the service"
        !insertmacro RunLogged '"$INSTDIR\QxrSync.exe" -u'
        ${If} $0 != 0
            StrCpy $R9 6
        ${EndIf}
        !insertmacro WaitWritable "$INSTDIR\QxrSync.exe"
    ${EndIf}
    ; QxrSync -u keeps its event source for the event viewer; setup made it, so it goes.
    DeleteRegKey HKLM "${EVENT_SOURCE}"

    ClearErrors
    ReadRegStr $R0 HKLM "${UNINST_KEY}" QxrDriverFile
    ${IfNot} ${Errors}
    ${AndIf} $R0 != ""
        !insertmacro Log "Removing the driver setup registered"
        !insertmacro RemoveDriver
        ${If} $0 != 0
            StrCpy $R9 4
        ${EndIf}
        Delete $R0
    ${Else}
        !insertmacro Log "The driver was there before setup: kept"
    ${EndIf}

    !insertmacro Log "Removing the files and the Start menu entries"
    !insertmacro QxrRemoveFiles
    ${If} ${FileExists} "$INSTDIR\QxrSync.exe"
        !insertmacro Log "QxrSync.exe is still in use and stays in $INSTDIR"
        StrCpy $R9 3
    ${EndIf}
    Delete "$INSTDIR\setup.log"
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: a tracking log file of the operator's stays.
    RMDir $INSTDIR
    Delete "${MENU}\QxrSet.lnk"
    Delete "${MENU}\QxrCfgNT.lnk"
    Delete "${MENU}\veyla.txt.lnk"
    RMDir "${MENU}"
    DeleteRegKey HKLM "${UNINST_KEY}"
    !insertmacro Log "Uninstall finished, exit code $R9"
    SetErrorLevel $R9
SectionEnd
