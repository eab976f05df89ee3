// Resource ids of QxrSet.exe (the dialog templates' control ids are in dialog_controls.h,
// the help templates' in field_help.h).
#pragma once

#define IDD_MONITOR 102
#define IDI_APPLICATION_ICON 128
#define IDI_HEARTBEAT1 129
#define IDI_HEARTBEAT2 130
#define IDI_HEARTBEAT3 131
