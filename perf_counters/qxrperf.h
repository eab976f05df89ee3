/* qxrperf.h: the offsets of the QxrSync performance object and its counters, the symbol
   file that lodctr reads with qxrperf.ini (each name is at First Counter + offset, each help
   text at First Help + offset). The counter DLL is built from the same numbers. */
#define QXR_TIME_OBJECT 0
#define QXR_SERVICE_RUNNING 2
#define QXR_REFERENCE_STATE 4
#define QXR_SECONDS_SINCE_GPS 6
#define QXR_OFFSET_US 8
#define QXR_SYSTEM_AHEAD 10
#define QXR_RATE_CORRECTION_PPB 12
#define QXR_RATE_FASTER 14
#define QXR_CORRECTIONS 16
#define QXR_STEPS 18
#define QXR_CARD_READ_FAILURES 20
#define QXR_NTP_INCOMING 22
#define QXR_NTP_OUTGOING 24
#define QXR_NTP_MALFORMED 26
#define QXR_NTP_REFUSED 28
#define QXR_NTP_RATE_LIMITED 30
#define QXR_NTP_SYNCHRONISED 32
#define QXR_NTP_ROOT_DISPERSION 34
#define QXR_TRACKING_DROPPED 36
