/* The driver's control requests for the device \\.\QXR and the sizes of their replies.
   Shared by the card access library, the card model and the simulator driver, so that they
   cannot drift apart. Plain C-compatible constants only: it is also built into a kernel
   driver. */
#pragma once

#include <stdint.h>

#define QXR_DEVICE_NAME "\\\\.\\QXR"
#define QXR_DEVICE_TYPE 0xBE90u

#define QXR_CTL_CODE(function) ((QXR_DEVICE_TYPE << 16) | (0u << 14) | ((function) << 2) | 0u)

#define IOCTL_QXR_GET_DRIVER_VERSION QXR_CTL_CODE(0x800u)  /* 0xBE902000 */
#define IOCTL_QXR_GET_FW_VERSION QXR_CTL_CODE(0x801u)      /* 0xBE902004 */
#define IOCTL_QXR_GET_HW_SIGNATURE QXR_CTL_CODE(0x802u)    /* 0xBE902008 */
#define IOCTL_QXR_GET_HW_STATUS QXR_CTL_CODE(0x803u)       /* 0xBE90200C */
#define IOCTL_QXR_GET_TIME QXR_CTL_CODE(0x804u)            /* 0xBE902010 */
#define IOCTL_QXR_SET_TIME QXR_CTL_CODE(0x805u)            /* 0xBE902014 */
#define IOCTL_QXR_GET_SIGNAL_QUALITY QXR_CTL_CODE(0x806u)  /* 0xBE902018 */
#define IOCTL_QXR_GET_POSITION QXR_CTL_CODE(0x807u)        /* 0xBE90201C */
#define IOCTL_QXR_GET_FW_CHECKSUM QXR_CTL_CODE(0x808u)     /* 0xBE902020 */

/* Private to the card simulator driver: scenario control, never sent by the library. Its
   records are in card_simulator/sim_control.h. */
#define IOCTL_QXR_SIM_CONTROL QXR_CTL_CODE(0x900u)         /* 0xBE902400 */

/* Reply sizes the library offers, in bytes. */
#define QXR_VERSION_REPLY_SIZE 8u
#define QXR_STATUS_REPLY_SIZE 4u
#define QXR_TIME_REPLY_SIZE 24u
#define QXR_SET_TIME_REQUEST_SIZE 12u
#define QXR_SIGNAL_QUALITY_REPLY_SIZE 28u
#define QXR_POSITION_REPLY_SIZE 28u
#define QXR_CHECKSUM_REPLY_SIZE 4u

/* Bits of the status word (bytes 0..1 of the status reply). */
#define QXR_STATUS_REFERENCE_MASK 0x0007u
#define QXR_STATUS_GPS_FITTED 0x0008u
#define QXR_STATUS_FLAG4 0x0010u
#define QXR_STATUS_TICK_TOGGLE 0x0400u
