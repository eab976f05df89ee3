/* Scenario control of the simulated card: the records of the private request
   IOCTL_QXR_SIM_CONTROL (card_access/qxr_requests.h). Shared by the simulator driver, the
   control tool qxrsimctl and the in-process simulated device, so that they cannot drift
   apart. Plain C-compatible: it is also built into a kernel driver.

   The request takes an optional QxrSimControl as input (the changes to make) and, when the
   caller offers room for it, returns a QxrSimState (the state after the changes). With no
   input it only reports the state. */
#pragma once

#include <stddef.h>
#include <stdint.h>

/* Which fields of a QxrSimControl to apply. */
#define QXR_SIM_SET_REFERENCE 0x01u   /* reference: status word bits 0..2 (0..7) */
#define QXR_SIM_SET_GPS_FITTED 0x02u  /* gpsFitted: 0 or 1 */
#define QXR_SIM_SET_OFFSET 0x04u      /* offset: card clock minus system clock, 100 ns */
#define QXR_SIM_SET_TICK_FROZEN 0x08u /* tickFrozen: 0 or 1 */
#define QXR_SIM_SET_FAIL_WITH 0x10u   /* failWith: Win32 error for every card request, 0 = off */
#define QXR_SIM_SET_NO_DATA 0x20u     /* noData: 1 = complete card requests with no data */
/* Back to the state of a freshly started driver before the fields above are applied. */
#define QXR_SIM_RESET 0x80000000u
#define QXR_SIM_KNOWN_BITS 0x8000003Fu

/* Largest offset accepted: 100 years either way, so that card times stay calendar times. */
#define QXR_SIM_MAX_OFFSET (3155760000LL * 10000000LL)

#define QXR_SIM_SIGNATURE_SIZE 64u

typedef struct QxrSimControl {
    uint32_t size;  /* sizeof(QxrSimControl): refuses a tool built for another layout */
    uint32_t apply; /* QXR_SIM_SET_* and QXR_SIM_RESET bits */
    uint32_t reference;
    uint32_t gpsFitted;
    int64_t offset;
    uint32_t tickFrozen;
    uint32_t failWith;
    uint32_t noData;
    uint32_t reserved; /* 0 */
} QxrSimControl;

typedef struct QxrSimState {
    uint32_t size; /* sizeof(QxrSimState) */
    uint32_t reference;
    uint32_t gpsFitted;
    uint32_t tickFrozen;
    int64_t offset;
    uint32_t failWith;
    uint32_t noData;
    /* The settings the driver was started with ("Quoxar Product", "I/O Port",
       "Interrupt (IRQ)"). */
    uint32_t busType;
    uint32_t ioPort;
    uint32_t irq;
    /* Card requests served since the driver started (scenario control not counted), and
       how many of them set the card clock. */
    uint32_t requestCount;
    uint32_t setTimeCount;
    uint32_t reserved;                      /* 0 */
    char signature[QXR_SIM_SIGNATURE_SIZE]; /* the hardware signature text, zero-terminated */
} QxrSimState;

#ifdef __cplusplus
/* The driver and the tool are built apart (and the tool for both Windows builds): each field
   at its byte offset. */
#define QXR_SIM_FIELD_AT(record, field, offset) \
    static_assert(offsetof(record, field) == (offset), #record "." #field " offset")
QXR_SIM_FIELD_AT(QxrSimControl, size, 0);
QXR_SIM_FIELD_AT(QxrSimControl, apply, 4);
QXR_SIM_FIELD_AT(QxrSimControl, reference, 8);
QXR_SIM_FIELD_AT(QxrSimControl, gpsFitted, 12);
QXR_SIM_FIELD_AT(QxrSimControl, offset, 16);
QXR_SIM_FIELD_AT(QxrSimControl, tickFrozen, 24);
QXR_SIM_FIELD_AT(QxrSimControl, failWith, 28);
QXR_SIM_FIELD_AT(QxrSimControl, noData, 32);
QXR_SIM_FIELD_AT(QxrSimControl, reserved, 36);
static_assert(sizeof(QxrSimControl) == 40, "QxrSimControl layout");
QXR_SIM_FIELD_AT(QxrSimState, size, 0);
QXR_SIM_FIELD_AT(QxrSimState, reference, 4);
QXR_SIM_FIELD_AT(QxrSimState, gpsFitted, 8);
QXR_SIM_FIELD_AT(QxrSimState, tickFrozen, 12);
QXR_SIM_FIELD_AT(QxrSimState, offset, 16);
QXR_SIM_FIELD_AT(QxrSimState, failWith, 24);
QXR_SIM_FIELD_AT(QxrSimState, noData, 28);
QXR_SIM_FIELD_AT(QxrSimState, busType, 32);
QXR_SIM_FIELD_AT(QxrSimState, ioPort, 36);
QXR_SIM_FIELD_AT(QxrSimState, irq, 40);
QXR_SIM_FIELD_AT(QxrSimState, requestCount, 44);
QXR_SIM_FIELD_AT(QxrSimState, setTimeCount, 48);
QXR_SIM_FIELD_AT(QxrSimState, reserved, 52);
QXR_SIM_FIELD_AT(QxrSimState, signature, 56);
static_assert(sizeof(QxrSimState) == 120, "QxrSimState layout");
#undef QXR_SIM_FIELD_AT
#endif
