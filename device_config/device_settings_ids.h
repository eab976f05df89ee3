// Resource and control ids of QxrCfgNT, shared by its resource script and its code.
#pragma once

#define IDD_DEVICE_SETTINGS 102
#define IDI_QXRCFGNT 128
#define IDC_BUS_LIST 1002
#define IDC_IRQ_LIST 1003
#define IDC_IRQ_LABEL 1004
