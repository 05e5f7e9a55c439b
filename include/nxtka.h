/*
 * nxtka: driver library for serial measuring amplifiers.
 *
 * A flat C interface. Every function that works on an amplifier takes the
 * serial port number (0..1023) first. Failure is reported by the result
 * alone: -1 for integer results, -1.0 for double results; output arguments
 * are then left untouched.
 *
 * Calling order: activate a port (TKAactivate, TKAactivateExtended), use it
 * from any number of threads, release it (TKArelease). Every function on a
 * port that is not active fails at once.
 */
#ifndef NXTKA_H
#define NXTKA_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define NXTKA_CALL __stdcall
#else
#define NXTKA_CALL
#endif

#if defined(NXTKA_BUILDING)
#if defined(_WIN32)
#define NXTKA_API
#else
#define NXTKA_API __attribute__((visibility("default")))
#endif
#else
#define NXTKA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * An event that the library signals. On Windows it is a waitable HANDLE
 * (WaitForSingleObject and friends). On POSIX systems it is a file
 * descriptor that is readable exactly while the event is signalled: wait for
 * it with poll(), select() or epoll (POLLIN), and never read from it. The
 * value 0 means "no event". The library owns the event: never close it; it
 * stays valid until the port is released.
 */
#if defined(_WIN32)
typedef void *NXTKA_EVENT;
#else
typedef int NXTKA_EVENT;
#endif

/* The record given to TKAactivateExtended: `size` says how many of its bytes
 * (8, 12 or 16) are valid. */
typedef struct ActivationParams {
    int32_t size;           /* 8 to 16 */
    int32_t bufferCapacity; /* ring capacity in values, clamped to 1..0x1FFFFFFF */
    uint32_t flags;         /* NXTKA_FLAG_*; present when size >= 12 */
    int32_t baudRate;       /* used with NXTKA_FLAG_BAUDRATE (size 16) */
} ActivationParams;

#define NXTKA_FLAG_BAUDRATE 0x1u  /* baudRate is given (size must be 16) */
#define NXTKA_FLAG_WAKEUP 0x2u    /* wait for a sleeping amplifier; TKAabortActivate ends the wait */
#define NXTKA_FLAG_RTSCTS 0x4u    /* RTS/CTS handshake; CTS must come on within 5 s */
#define NXTKA_FLAG_DISPLAY 0x8u   /* display-norm sign bit affects text values */

/* Callback run by NXreservedExec while the port's lock is held. */
typedef int32_t(NXTKA_CALL *NXTKA_EXEC_CALLBACK)(uint32_t port, int32_t argument);

/* ---- activation, release, line speed, re-identification */
NXTKA_API int32_t NXTKA_CALL TKAactivateExtended(uint32_t port, const ActivationParams *params);
NXTKA_API int32_t NXTKA_CALL TKAactivate(uint32_t port, int32_t bufferCapacity);
NXTKA_API int32_t NXTKA_CALL TKAabortActivate(uint32_t port);
NXTKA_API void NXTKA_CALL TKArelease(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetLocalBaudRate(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAinitialize(uint32_t port);

/* ---- version and model */
NXTKA_API int32_t NXTKA_CALL TKAversion(void);
NXTKA_API int32_t NXTKA_CALL TKArevision(void);
NXTKA_API int32_t NXTKA_CALL TKAmodel(uint32_t port);

/* ---- measured values: 1 delivered, 0 nothing waiting, -1 failure */
NXTKA_API int32_t NXTKA_CALL TKAread(uint32_t port, double *value);
NXTKA_API int32_t NXTKA_CALL TKAreadStatus(uint32_t port, double *value, unsigned char *status);
NXTKA_API int32_t NXTKA_CALL TKAreadMultiple(uint32_t port, double *values, int32_t maxCount, int32_t *delivered);
NXTKA_API int32_t NXTKA_CALL TKAreadStatusMultiple(uint32_t port, double *values, unsigned char *statuses,
                                                   int32_t maxCount, int32_t *delivered);
NXTKA_API int32_t NXTKA_CALL TKAreceived(uint32_t port);
NXTKA_API int32_t NXTKA_CALL NXinternalStatus(uint32_t port);

/* ---- stream control */
NXTKA_API int32_t NXTKA_CALL TKAflushBuffer(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAclearBuffer(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAstopTransmit(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAstartTransmit(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAclearMaxValue(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetValue(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetValues(const int32_t *ports, int32_t count);

/* ---- raw bytes, events, service hook */
NXTKA_API int32_t NXTKA_CALL NXsendBytes(uint32_t port, const unsigned char *bytes, int32_t count);
/* Starts a write. 1: still in progress; *event (when given) is signalled
 * once the bytes are out, and the same thread must then call
 * NXsynchronizeSendBytes (TKArelease from that thread also ends it, cutting
 * the write short). 0: written at once; *event is set to 0. -1: failure;
 * *event is left untouched. */
NXTKA_API int32_t NXTKA_CALL NXasynchronousSendBytes(uint32_t port, const unsigned char *bytes, int32_t count,
                                                     NXTKA_EVENT *event);
NXTKA_API int32_t NXTKA_CALL NXsynchronizeSendBytes(uint32_t port);
NXTKA_API int32_t NXTKA_CALL NXsendBytesToDevices(const uint32_t *ports, int32_t portCount,
                                                  const unsigned char *bytes, int32_t count);
/* The port's data event (0 on failure): signalled while values wait, and
 * also when the line has failed, so that a waiter wakes and its next read
 * returns -1 once no values are left. Reads that empty the ring reset it. */
NXTKA_API NXTKA_EVENT NXTKA_CALL NXrequestEvent(uint32_t port);
NXTKA_API int32_t NXTKA_CALL NXreservedExec(uint32_t port, int32_t reserved, NXTKA_EXEC_CALLBACK callback,
                                            int32_t argument);

/* ---- device names: which device a port number opens at its next activation.
 * Default "/dev/ttyS<N>" on POSIX and "\\.\COM<N>" on Windows; a null or
 * empty name restores it. Names are at most NXTKA_DEVICE_NAME_MAX - 1 bytes. */
#define NXTKA_DEVICE_NAME_MAX 512
NXTKA_API int32_t NXTKA_CALL NXsetDeviceName(uint32_t port, const char *name);
/* Copies the name with its terminator; returns its length, or -1 when the
 * port is above 1023, the buffer is null or too small. */
NXTKA_API int32_t NXTKA_CALL NXgetDeviceName(uint32_t port, char *buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* NXTKA_H */
