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
/* Opens the port's device, starts its receive thread and identifies the
 * amplifier; 0 when the port is active, -1 on any failure (an unreadable
 * record included). */
NXTKA_API int32_t NXTKA_CALL TKAactivateExtended(uint32_t port, const ActivationParams *params);
/* TKAactivateExtended at 38400 bit/s, no flags, a ring of bufferCapacity values. */
NXTKA_API int32_t NXTKA_CALL TKAactivate(uint32_t port, int32_t bufferCapacity);
/* Ends the wait for a sleeping amplifier of an activation with
 * NXTKA_FLAG_WAKEUP; 0 when signalled, -1 otherwise. */
NXTKA_API int32_t NXTKA_CALL TKAabortActivate(uint32_t port);
/* Restores the sleep bit and unlocks the amplifier's interface, stops the
 * receive thread and closes the device. Harmless on an inactive port. */
NXTKA_API void NXTKA_CALL TKArelease(uint32_t port);
/* The line speed set on the computer's port, or -1. */
NXTKA_API int32_t NXTKA_CALL TKAgetLocalBaudRate(uint32_t port);
/* Identifies the active amplifier again (after its settings changed);
 * 0 or -1. The port stays active either way. */
NXTKA_API int32_t NXTKA_CALL TKAinitialize(uint32_t port);

/* ---- version and model */
/* Library file version: major x 65536 + minor, and build x 65536 + revision. */
NXTKA_API int32_t NXTKA_CALL TKAversion(void);
NXTKA_API int32_t NXTKA_CALL TKArevision(void);
/* The amplifier's protocol level learned at activation, or -1. */
NXTKA_API int32_t NXTKA_CALL TKAmodel(uint32_t port);

/* ---- measured values: 1 delivered, 0 nothing waiting, -1 failure */
/* The oldest value, normalized (and its status byte; status may be null). */
NXTKA_API int32_t NXTKA_CALL TKAread(uint32_t port, double *value);
NXTKA_API int32_t NXTKA_CALL TKAreadStatus(uint32_t port, double *value, unsigned char *status);
/* Up to maxCount values, oldest first; *delivered says how many (0 with result 0). */
NXTKA_API int32_t NXTKA_CALL TKAreadMultiple(uint32_t port, double *values, int32_t maxCount, int32_t *delivered);
NXTKA_API int32_t NXTKA_CALL TKAreadStatusMultiple(uint32_t port, double *values, unsigned char *statuses,
                                                   int32_t maxCount, int32_t *delivered);
/* Up to maxCount values, oldest first, each with its status byte, its arrival
 * time (nanoseconds since 1970-01-01 UTC: when the read that completed its
 * frame returned) and its sequence number (values stored on the port since
 * activation, from 0; a value dropped from a full ring or discarded by a
 * flush keeps its number, so a gap shows the loss). Any of values, statuses,
 * times and sequences may be null; each non-null one holds maxCount entries. */
NXTKA_API int32_t NXTKA_CALL NXreadTimed(uint32_t port, double *values, unsigned char *statuses, int64_t *times,
                                         uint64_t *sequences, int32_t maxCount, int32_t *delivered);
/* How many values the full ring has dropped since activation: 0 or -1. */
NXTKA_API int32_t NXTKA_CALL NXgetDroppedValues(uint32_t port, uint64_t *dropped);
/* 1 when values wait, 0 when none. */
NXTKA_API int32_t NXTKA_CALL TKAreceived(uint32_t port);
/* 1 when the device flushes its output, 0 when it cannot. */
NXTKA_API int32_t NXTKA_CALL NXinternalStatus(uint32_t port);

/* ---- stream control: commands that take effect on values measured after them */
/* Drops the values waiting, in step with the amplifier: 1 some were dropped,
 * 0 none waited, -1 the amplifier did not answer. */
NXTKA_API int32_t NXTKA_CALL TKAflushBuffer(uint32_t port);
/* Clears the amplifier's buffer and the library's input; 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAclearBuffer(uint32_t port);
/* Stops / starts the value stream and drops what waits; 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAstopTransmit(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAstartTransmit(uint32_t port);
/* Resets the amplifier's maximum value and drops what waits; 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAclearMaxValue(uint32_t port);
/* Asks for one value (it arrives as any other value); 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAgetValue(uint32_t port);
/* Asks the amplifiers of count ports for one value each; 0 or the first failure. */
NXTKA_API int32_t NXTKA_CALL TKAgetValues(const int32_t *ports, int32_t count);

/* ---- raw bytes, events, service hook */
/* Writes raw bytes to the amplifier; 0 when all were written, -1 otherwise. */
NXTKA_API int32_t NXTKA_CALL NXsendBytes(uint32_t port, const unsigned char *bytes, int32_t count);
/* Starts a write. 1: still in progress; *event (when given) is signalled
 * once the bytes are out, and the same thread must then call
 * NXsynchronizeSendBytes (TKArelease from that thread also ends it, cutting
 * the write short). 0: written at once; -1: failure; both set *event to 0. */
NXTKA_API int32_t NXTKA_CALL NXasynchronousSendBytes(uint32_t port, const unsigned char *bytes, int32_t count,
                                                     NXTKA_EVENT *event);
/* Waits for the write NXasynchronousSendBytes started; 0 when all bytes went out. */
NXTKA_API int32_t NXTKA_CALL NXsynchronizeSendBytes(uint32_t port);
/* NXsendBytes on each of portCount ports; 0 or the first failure. */
NXTKA_API int32_t NXTKA_CALL NXsendBytesToDevices(const uint32_t *ports, int32_t portCount,
                                                  const unsigned char *bytes, int32_t count);
/* The port's data event (0 on failure): signalled while values wait, and
 * also once when the line fails, so that a waiter wakes and its next read
 * returns -1 once no values are left. Reads that empty the ring reset it, and
 * so does the first read that reports the failed line with -1. */
NXTKA_API NXTKA_EVENT NXTKA_CALL NXrequestEvent(uint32_t port);
/* Runs callback(port, argument) while the port's command lock is held;
 * reserved must be 0. The callback's result, or -1. */
NXTKA_API int32_t NXTKA_CALL NXreservedExec(uint32_t port, int32_t reserved, NXTKA_EXEC_CALLBACK callback,
                                            int32_t argument);

/* ---- identification and capability words
 * Getters return the amplifier's answer (an unsigned number) or -1; a bit
 * accessor runs its word's query and returns the bit (0 or 1), -1 passed
 * through. Setters return 0 once their bytes are written, -1 otherwise;
 * their value is checked before anything else. */
/* Options word (24 bits); also refreshes the options the library decides on. */
NXTKA_API int32_t NXTKA_CALL TKAgetOptions(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsCode(uint32_t port);        /* bits 0-5 */
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsExtension3(uint32_t port);  /* bit 6: extended frequency divisor */
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsLinear(uint32_t port);      /* bit 7: linearization */
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsExtension21(uint32_t port); /* bit 8 */
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsSleepMode(uint32_t port);   /* bit 9: sleep mode */
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsCommandTest(uint32_t port); /* bit 10: command test */
/* Factory: writes the options word (0..16777215); the library's own copy of
 * the options is not changed until the next TKAgetOptions. */
NXTKA_API int32_t NXTKA_CALL NXwriteOptions(uint32_t port, int32_t value);
/* Equipment word (8 bits) and its bits 0-5. */
NXTKA_API int32_t NXTKA_CALL TKAgetEquipment(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAhasLCD(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAhasADC(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAhasUII(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAisSI(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAisWL(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAhasAF(uint32_t port);
/* Factory: writes the equipment word (0..255). */
NXTKA_API int32_t NXTKA_CALL NXwriteEquipment(uint32_t port, int32_t value);
/* Firmware version (0..65535). */
NXTKA_API int32_t NXTKA_CALL TKAfirmwareVersion(uint32_t port);
/* Reads the 8-byte serial number into text (at least 9 bytes) and ends it
 * with a zero byte; 0 or -1. text[0] is 0 after any failure; a null text is
 * refused. */
NXTKA_API int32_t NXTKA_CALL TKAgetSerialNo(uint32_t port, char *text);
/* Factory: writes the 8 bytes of text as the serial number, one byte every
 * 10 ms; 0 only when all 9 bytes went out. A null text is refused, unsent. */
NXTKA_API int32_t NXTKA_CALL NXwriteSerialNo(uint32_t port, const char *text);

/* ---- control word, gain, polarity, channel, sampling frequency */
/* Control word (24 bits); also refreshes the polarity the library converts
 * values with. */
NXTKA_API int32_t NXTKA_CALL TKAgetControl(uint32_t port);
/* Writes the control word's low 3 bytes unchecked; the library's polarity is
 * not changed (call TKAgetControl to refresh it). */
NXTKA_API int32_t NXTKA_CALL TKAwriteControl(uint32_t port, int32_t value);
NXTKA_API int32_t NXTKA_CALL TKAisBipol(uint32_t port);     /* 1 bipolar, 0 unipolar */
NXTKA_API int32_t NXTKA_CALL TKAsetBipolar(uint32_t port);  /* values convert as bipolar afterwards */
NXTKA_API int32_t NXTKA_CALL TKAsetUnipolar(uint32_t port); /* values convert as unipolar afterwards */
NXTKA_API int32_t NXTKA_CALL TKAgetGain(uint32_t port);     /* gain step 0..7 */
NXTKA_API int32_t NXTKA_CALL TKAsetGain(uint32_t port, int32_t gain); /* 0..7, else -1 */
/* Selected input channel: its own query on newer amplifiers, the control
 * word's bit 17 on older ones. */
NXTKA_API int32_t NXTKA_CALL TKAgetChannel(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetChannel(uint32_t port, int32_t channel); /* low byte sent */
/* Sampling frequency in Hz; -1.0 on failure or a divisor of 0. */
NXTKA_API double NXTKA_CALL TKAgetFreq(uint32_t port);
/* Sets the sampling frequency through the divisor round(19531.25 / f):
 * 19..2000, or 1..65535 on amplifiers with the extended divisor; -1 (nothing
 * sent) outside, for NaN and infinities. */
NXTKA_API int32_t NXTKA_CALL TKAsetFreq(uint32_t port, double frequency);

/* ---- operating modes, settings lock, switch */
/* Mode byte: bit 0 SI, 1 text, 2 maximum, 3 log, 4 window, 5 average,
 * 6 linearization, 7 lock. */
NXTKA_API int32_t NXTKA_CALL TKAgetMode(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetMode(uint32_t port, int32_t mode); /* 0..255, else -1 */
NXTKA_API int32_t NXTKA_CALL TKAgetModeSI(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetModeText(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetModeMax(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetModeLog(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetModeWindow(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetModeAverage(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetModeLinear(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetModeLock(uint32_t port);
/* One flag of the mode byte, set for a non-zero `on`, cleared for 0: read,
 * changed and written back as one step for other threads. */
NXTKA_API int32_t NXTKA_CALL TKAsetModeSI(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetModeText(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetModeMax(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetModeLog(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetModeWindow(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetModeAverage(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetModeLinear(uint32_t port, int32_t on);
/* Settings lock. Newer amplifiers: sends the 3-byte identifier with the lock
 * command (`lock` unused). Older ones: a non-zero `lock` sets mode bit 7, 0
 * sends the identifier as NXsendID does. A null identifier that would be
 * sent is refused (-1, nothing sent). */
NXTKA_API int32_t NXTKA_CALL NXsetModeLock(uint32_t port, int32_t lock, const unsigned char *identifier);
/* Sends the 3-byte identifier; a null identifier is refused unsent. */
NXTKA_API int32_t NXTKA_CALL NXsendID(uint32_t port, const unsigned char *identifier);
/* Switches the amplifier on (non-zero) or off (0). */
NXTKA_API int32_t NXTKA_CALL TKAswitch(uint32_t port, int32_t on);

/* ---- adjustment values and calibration procedures */
/* Scale (3 bytes), zero (3 bytes) and offset (2 bytes) values: the
 * amplifier's number, or -1. */
NXTKA_API int32_t NXTKA_CALL TKAgetScale(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetZero(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetOffset(uint32_t port);
/* Write them: the low 3, 3 and 2 bytes of value are sent unchecked; 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAwriteScale(uint32_t port, int32_t value);
NXTKA_API int32_t NXTKA_CALL TKAwriteZero(uint32_t port, int32_t value);
NXTKA_API int32_t NXTKA_CALL TKAwriteOffset(uint32_t port, int32_t value);
/* Loads / saves the amplifier's whole setting number `number` (low byte sent
 * unchecked); 0 once sent, -1 otherwise. */
NXTKA_API int32_t NXTKA_CALL TKAgetAll(uint32_t port, int32_t number);
NXTKA_API int32_t NXTKA_CALL TKAsaveAll(uint32_t port, int32_t number);
NXTKA_API int32_t NXTKA_CALL TKAresetStatus(uint32_t port); /* 0 or -1 */
/* The amplifier's adjustment procedures (calibrate, zero, scale, offset).
 * Values measured before are dropped and none are stored while it works.
 * 1: the amplifier came back within 5 s; 0: it did not; -1: failure (also
 * when the marker it must answer first stays unanswered). */
NXTKA_API int32_t NXTKA_CALL TKAsetCal(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetZero(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetScale(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetOffset(uint32_t port);
/* Calibration factor, sent as round(16777215 / factor); -1 (nothing sent)
 * for factors not above 0.99999997, not finite, or so large that the divisor
 * would round to 0. */
NXTKA_API int32_t NXTKA_CALL NXsetCal(uint32_t port, double factor);
NXTKA_API double NXTKA_CALL NXgetCal(uint32_t port); /* factor, -1.0 on failure or a divisor of 0 */
/* Offset waiting time in s, 0 to below 1.5841 in steps of 0.0062; -1 outside. */
NXTKA_API int32_t NXTKA_CALL NXsetOffsetWait(uint32_t port, double time);
NXTKA_API double NXTKA_CALL NXgetOffsetWait(uint32_t port); /* -1.0 on failure */
/* ---- threshold pairs */
/* Threshold pairs (upper, lower) in the normalized scale of the polarity the
 * library knows (0..1.05 unipolar, -1.05..1.05 bipolar), 16 bits each.
 * Setters: -1, nothing sent, for levels beyond the scale, NaN, infinities, or
 * a lower level that does not stay below the upper after rounding. Getters:
 * 0 with both levels written, -1 otherwise (also for a null pointer). */
NXTKA_API int32_t NXTKA_CALL TKAsetThreshold(uint32_t port, double upper, double lower);
NXTKA_API int32_t NXTKA_CALL TKAgetThreshold(uint32_t port, double *upper, double *lower);
NXTKA_API int32_t NXTKA_CALL TKAsetSecondThreshold(uint32_t port, double upper, double lower);
NXTKA_API int32_t NXTKA_CALL TKAgetSecondThreshold(uint32_t port, double *upper, double *lower);
/* ---- bridge, strain-gauge factors, input range */
/* Bridge word: bits 0-2 bridge type, bit 4 internal bridge. */
NXTKA_API int32_t NXTKA_CALL TKAgetBridge(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetBridge(uint32_t port, int32_t value); /* 0..255, else -1 */
NXTKA_API int32_t NXTKA_CALL TKAgetBridgeType(uint32_t port);
/* Type 0..7 (else -1, nothing sent); the other bits are kept as read. */
NXTKA_API int32_t NXTKA_CALL TKAsetBridgeType(uint32_t port, int32_t type);
NXTKA_API int32_t NXTKA_CALL TKAgetBridgeInternal(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetBridgeInternal(uint32_t port, int32_t on);
/* Gage factor, 0 to 655.35 in steps of 0.01; -1 outside, NaN, infinities. */
NXTKA_API int32_t NXTKA_CALL TKAsetGageFactor(uint32_t port, double k);
NXTKA_API double NXTKA_CALL TKAgetGageFactor(uint32_t port); /* -1.0 on failure */
/* Poisson ratio, 0 to 0.51 in steps of 0.002; -1 outside, NaN, infinities. */
NXTKA_API int32_t NXTKA_CALL TKAsetPoisson(uint32_t port, double nu);
NXTKA_API double NXTKA_CALL TKAgetPoisson(uint32_t port); /* -1.0 on failure */
/* Input range: in tenths up to 25.5 on older amplifiers; on those with a
 * range table, entry 0/0 in hundredths (0.01 to 83886.07). -1 outside. */
NXTKA_API int32_t NXTKA_CALL NXwriteRange(uint32_t port, double range);
NXTKA_API double NXTKA_CALL TKAgetRange(uint32_t port); /* -1.0 on failure */
/* Range-table entry first/second (0..15 each) raw: value 0..0xFFFFFF. */
NXTKA_API int32_t NXTKA_CALL NXwriteRanges(uint32_t port, uint32_t first, uint32_t second, uint32_t value);
/* ---- sampling rate */
/* The sampling-rate word holds a frequency and a factor in one of four
 * encodings the amplifier chooses (its protocol); the library reads the
 * protocol from the amplifier once (again after TKAinitialize) and keeps it.
 * Writes the frequency (Hz) and factor in the amplifier's encoding: linear
 * frequency 0.5..32767.5 in steps of 0.5 or timer frequency above 76.2934 up
 * to about 10090; linear factor 1..63 or a power of two. 0, or -1 (nothing
 * sent) for values the encoding cannot carry. */
NXTKA_API int32_t NXTKA_CALL TKAwriteSamplingRate(uint32_t port, double frequency, int32_t factor);
/* Reads frequency and factor (factor -1 for a power of two beyond 2^30);
 * 0, or -1 with the outputs untouched. Both pointers are required. */
NXTKA_API int32_t NXTKA_CALL TKAreadSamplingRate(uint32_t port, double *frequency, int32_t *factor);
NXTKA_API double NXTKA_CALL TKAreadSamplingFrequency(uint32_t port); /* Hz, -1.0 on failure */
NXTKA_API int32_t NXTKA_CALL TKAreadSamplingFactor(uint32_t port);   /* the factor, -1 on failure */
/* 1 when the amplifier encodes the frequency (factor) linearly, 0 when as a
 * timer reload (power of two); -1 on failure. */
NXTKA_API int32_t NXTKA_CALL TKAisSamplingFrequencyProtocolLinear(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAisSamplingFactorProtocolLinear(uint32_t port);

/* ---- transmission modes and rates */
/* Transmission-mode byte: bit 0 config, 1 transmit4, 2 repeat3, 3 transmit5,
 * 4 read-only. The setter takes 0..255, else -1 (nothing sent). */
NXTKA_API int32_t NXTKA_CALL TKAsetTxMode(uint32_t port, int32_t mode);
NXTKA_API int32_t NXTKA_CALL TKAgetTxMode(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeConfig(uint32_t port);
/* One flag of the mode byte, set for a non-zero `on`, cleared for 0: read,
 * changed and written back as one step for other threads. */
NXTKA_API int32_t NXTKA_CALL TKAsetTxModeTransmit4(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetTxModeRepeat3(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetTxModeTransmit5(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetTxModeReadOnly(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeTransmit4(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeRepeat3(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeTransmit5(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetTxModeReadOnly(uint32_t port);
/* The amplifier's own line speed as a table index 0..255 (the local port's
 * speed is not changed; reactivate at the new speed). */
NXTKA_API int32_t NXTKA_CALL TKAsetBaud(uint32_t port, int32_t index);
NXTKA_API int32_t NXTKA_CALL TKAgetBaud(uint32_t port);
/* The same in bit/s: 4800, 9600, 19200, 38400, 57600, 115200, 250000,
 * 625000, 1250000, 230400, 460800, 921600 (indexes 0..11); -1 for another
 * rate, or when the amplifier answers an index beyond the table. */
NXTKA_API int32_t NXTKA_CALL TKAsetBaudRate(uint32_t port, int32_t rate);
NXTKA_API int32_t NXTKA_CALL TKAgetBaudRate(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetSlowRate(uint32_t port, int32_t rate); /* 1..65535, else -1 */
NXTKA_API int32_t NXTKA_CALL TKAgetSlowRate(uint32_t port);
/* Transmission delta on the normalized scale (1.05 end of scale): -1.05..1.05
 * bipolar, 0..below 1.05 unipolar; -1 (nothing sent) outside and for NaN. */
NXTKA_API int32_t NXTKA_CALL TKAsetTransmissionDelta(uint32_t port, double delta);
/* 0 with the delta written to *delta (required), -1 otherwise. */
NXTKA_API int32_t NXTKA_CALL TKAgetTransmissionDelta(uint32_t port, double *delta);

/* ---- special modes, auto-zero counter, noise cut */
/* Special-mode word: bit 0 slow, 1 average, 2 filter, 3 maximum, 4 automatic
 * filter, 5 filter of order 5, 6 sleep, 14 auto-zero, 15 noise cut. Bit 6 is
 * kept by the library while the port is active (the amplifier runs awake and
 * gets it back at release); it is set only on amplifiers with the sleep
 * option. The setter takes 0..65535, else -1 (nothing sent). */
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialMode(uint32_t port, int32_t word);
/* The amplifier's word with bit 6 from the library's kept sleep bit. */
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialMode(uint32_t port);
/* One flag of the word, set for a non-zero `on`, cleared for 0: read,
 * changed and written back as one step for other threads. */
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeSlow(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeAverage(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeFilter(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeMax(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeFilterAuto(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeFilterOrder5(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeAutoZero(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeNoiseCut(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeSlow(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeAverage(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeFilter(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeMax(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeFilterAuto(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeFilterOrder5(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeAutoZero(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeNoiseCut(uint32_t port);
/* The kept sleep bit alone, nothing sent. The setter returns 0 also when it
 * could not keep a 1 (amplifier without the sleep option). */
NXTKA_API int32_t NXTKA_CALL TKAsetSpecialModeSleep(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAgetSpecialModeSleep(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetAutoZeroCounter(uint32_t port, int32_t count); /* 1..65535, else -1 */
NXTKA_API int32_t NXTKA_CALL TKAgetAutoZeroCounter(uint32_t port);
/* Noise-cut threshold on the normalized scale: clamped to the end of the
 * scale up to 1.05 and to its start down to -1.05 (bipolar) or 0 (unipolar);
 * -1 beyond and for NaN. The getter returns -1.0 on failure. */
NXTKA_API int32_t NXTKA_CALL TKAsetNoiseCutThreshold(uint32_t port, double threshold);
NXTKA_API double NXTKA_CALL TKAgetNoiseCutThreshold(uint32_t port);

/* ---- analog and adaptive filters */
/* Analog filter, 0.5..32767.5 in steps of 0.5; -1 (nothing sent) outside.
 * The getter returns -1.0 on failure. */
NXTKA_API int32_t NXTKA_CALL TKAsetAnalogFilter(uint32_t port, double value);
NXTKA_API double NXTKA_CALL TKAgetAnalogFilter(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetAdaptFilterLearnVals(uint32_t port, int32_t count); /* 0..65535 */
NXTKA_API int32_t NXTKA_CALL TKAgetAdaptFilterLearnVals(uint32_t port);
/* Adaptive-filter mask 0xFF0000 | (B << 8); other forms give -1. */
NXTKA_API int32_t NXTKA_CALL TKAsetAdaptFilterMask(uint32_t port, int32_t mask);
NXTKA_API int32_t NXTKA_CALL TKAgetAdaptFilterMask(uint32_t port);
/* The threshold a mask stands for, on the unipolar normalized scale; a
 * threshold is stored rounded up to 2^k - 1 steps of 1.05 / 2^24 (255 to
 * 65535 steps). The setter refuses 0 or less and NaN; the getter needs a
 * pointer and fails on a mask outside 0xFF0000..0xFFFF00. */
NXTKA_API int32_t NXTKA_CALL TKAsetAdaptFilterThreshold(uint32_t port, double threshold);
NXTKA_API int32_t NXTKA_CALL TKAgetAdaptFilterThreshold(uint32_t port, double *threshold);

/* ---- CAN interface */
/* A 16-bit CAN setting by index 1..255 except 128 (bit 7: the upper half of
 * a 32-bit quantity); -1 (nothing sent) for another index or value. The
 * getter sends the index's low byte and returns 0..65535 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAsetCanSetting(uint32_t port, int32_t index, int32_t value);
NXTKA_API int32_t NXTKA_CALL TKAgetCanSetting(uint32_t port, int32_t index);
/* CAN bit rate as the index 1..8 of setting 126. */
NXTKA_API int32_t NXTKA_CALL TKAsetCanBaud(uint32_t port, int32_t index);
NXTKA_API int32_t NXTKA_CALL TKAgetCanBaud(uint32_t port);
/* The same in bit/s: 50000, 62500, 83333, 100000, 125000, 250000, 500000,
 * 1000000; -1 for another rate or an index without a rate. */
NXTKA_API int32_t NXTKA_CALL TKAsetCanBaudRate(uint32_t port, int32_t rate);
NXTKA_API int32_t NXTKA_CALL TKAgetCanBaudRate(uint32_t port);
/* 32-bit identifier: low half at index & ~0x80, high half at index | 0x80.
 * The setter writes both halves and returns the first failure; the getter
 * returns the identifier (bit 31 makes it negative) or -1. */
NXTKA_API int32_t NXTKA_CALL TKAsetCanID(uint32_t port, int32_t index, int32_t id);
NXTKA_API int32_t NXTKA_CALL TKAgetCanID(uint32_t port, int32_t index);
/* 1 when the amplifier has a CAN interface; 0 (nothing sent) below protocol
 * level 3. */
NXTKA_API int32_t NXTKA_CALL TKAisCanAvailable(uint32_t port);
/* CAN interface active (setting 127 bit 1) and 2.0B mode with 29-bit
 * identifiers (setting 255 bit 0); setters read, change and write back. */
NXTKA_API int32_t NXTKA_CALL TKAsetCanActive(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAgetCanActive(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAsetCanMode20B(uint32_t port, int32_t on);
NXTKA_API int32_t NXTKA_CALL TKAgetCanMode20B(uint32_t port);

/* ---- device queries, interface lock, range table */
NXTKA_API int32_t NXTKA_CALL TKAgetDeviceType(uint32_t port); /* 0..255, -1 */
NXTKA_API int32_t NXTKA_CALL TKAgetLastError(uint32_t port);  /* the amplifier's last error code, -1 */
/* 1 when the amplifier has the commands `first` and `second` (0..255), 0
 * when not, -1 on failure or a code above 255. */
NXTKA_API int32_t NXTKA_CALL TKAisCommandAvailable(uint32_t port, uint32_t first, uint32_t second);
/* Locks the amplifier's user interface; returns the amplifier's answer byte
 * (1 when locked), -1 on failure. */
NXTKA_API int32_t NXTKA_CALL TKAlockUII(uint32_t port);
NXTKA_API int32_t NXTKA_CALL TKAunlockUII(uint32_t port); /* 0 or -1 */
/* Range-table entry first/second (0..15): returns its status 0..127 and, if
 * value is not null, stores its value; a special answer gives status 0 and
 * -1.0 or +1.0. -1 on failure. */
NXTKA_API int32_t NXTKA_CALL TKAgetRanges(uint32_t port, uint32_t first, uint32_t second, double *value);
/* Writes entry first/second as a signed number of hundredths, 0.01 to
 * 83886.07 in magnitude; -1 for 0, outside, NaN, infinities. */
NXTKA_API int32_t NXTKA_CALL TKAsetRanges(uint32_t port, int32_t first, int32_t second, double value);


/* ---- sensor data and user data */
/* One character (low byte) of the 256-cell user text; index 0..255. */
NXTKA_API int32_t NXTKA_CALL TKAsetUserTextChar(uint32_t port, uint32_t index, int32_t character);
/* Writes up to 256 characters of text (null: empty): cell 0 is cleared
 * first, then the characters go from the last to the first; no terminating
 * zero. 0, or -1 at the first character that could not be sent. */
NXTKA_API int32_t NXTKA_CALL TKAsetUserText(uint32_t port, const char *text);
/* User offset on the normalized scale: -0.525..0.525 bipolar, 0..0.525
 * unipolar. The getter needs a pointer; 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAsetUserOffset(uint32_t port, double offset);
NXTKA_API int32_t NXTKA_CALL TKAgetUserOffset(uint32_t port, double *offset);
/* Sensor capacity 0.1..9999999 (6 to 7 significant digits). */
NXTKA_API int32_t NXTKA_CALL TKAsetSensorCapacity(uint32_t port, double capacity);
NXTKA_API int32_t NXTKA_CALL TKAgetSensorCapacity(uint32_t port, double *capacity);
/* Rated output 0.001..350, stored with the decimal exponent of the input
 * range (range table entry 0/0, read first); -1 when the range cannot be
 * read, is 0, or leaves the output too many or too few digits. */
NXTKA_API int32_t NXTKA_CALL TKAsetRatedOutput(uint32_t port, double ratedOutput);
NXTKA_API int32_t NXTKA_CALL TKAgetRatedOutput(uint32_t port, double *ratedOutput);
/* Sensor text assignment: the first answer byte as the result, the second
 * through `second` when it is not null; -1 on failure. */
NXTKA_API int32_t NXTKA_CALL TKAgetSensorTextAssign(uint32_t port, int32_t *second);

/* ---- device memory
 * 1024 bytes, read in aligned 4-byte words and written byte by byte. A status
 * code goes to `status` (may be null): 0..15 success, 16..31 the amplifier's
 * failure, 16 also an unknown answer, 255 no answer or a refused argument. */
/* Reads the word at `address` (a multiple of 4, at most 1023) into data[0..3]; 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAreadMemory(uint32_t port, uint32_t address, uint8_t *data, int32_t *status);
/* Writes the low 8 bits of `data` to `address` (at most 1023); a non-zero
 * `flag` marks the write as the amplifier's special form. 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKAwriteMemory(uint32_t port, uint32_t address, int32_t flag, int32_t data,
                                            int32_t *status);
/* The amplifier's settling time after writes, in seconds; -1.0 on failure. */
NXTKA_API double NXTKA_CALL TKAgetMemoryWait(uint32_t port);
/* length > 0 reads `length` bytes from `address` into buffer, length < 0
 * writes -length bytes of buffer; stops at the first failed step. Returns the
 * number of bytes moved, -1 when the first step failed, the buffer is null or
 * the range passes 2^32; 0 for length 0. */
NXTKA_API int32_t NXTKA_CALL TKAcopyMemory(uint32_t port, int32_t length, uint32_t address, uint8_t *buffer);
/* As TKAcopyMemory, but every byte of buffer is replaced by the status code
 * of its step (writes carry the flag); never stops early. The range must lie
 * within the 1024 bytes. Returns |length|, or -1.
 * Both block functions stop once the line has failed (a hang-up): the bytes
 * left get status 255 without a step, and the result is -1. */
NXTKA_API int32_t NXTKA_CALL TKAcheckMemory(uint32_t port, int32_t length, uint32_t address, uint8_t *buffer);
/* Writes `count` bytes (1..1024, the range within the 1024 bytes) from
 * `address` and reads them back: the protocol has no checksum, so only a
 * read-back shows a byte that changed on the way. Returns `count` when the
 * amplifier holds every byte as written; -1 otherwise, with the first address
 * that does not hold its byte (not written, not read back, or different) in
 * *firstDifference, which is set to -1 first (may be null). */
NXTKA_API int32_t NXTKA_CALL NXwriteMemoryVerified(uint32_t port, uint32_t address, const uint8_t *bytes,
                                                   int32_t count, int32_t *firstDifference);



/* ---- linearization tables
 * A table of n points in the normalized scale (full scale 1.05), followed by
 * one extra record that names the sensor range. */
typedef struct LinearPoint {
    double x; /* input */
    double y; /* output */
} LinearPoint;
#define NXTKA_LINEAR_SORT 0x4000      /* in *info when writing: sort the points by x first */
#define NXTKA_LINEAR_NO_VERIFY 0x8000 /* in *info when writing: do not read the written bytes back */
/* table given, count <= 0: writes -count points (mode 0 in *info) or only
 *   checks them (modes 1..3); table given, count > 0: reads up to count
 *   records (*info >= 0: points and extra record, *info becomes the number
 *   stored) or the second record (*info < 0); no table: count 0 probes
 *   (result 1 when writing is possible, *info = most points), 1 reads the flag
 *   byte, -1..-4 send a flag command (*info 1 or 0). Failure: -1 and *info =
 *   0x80000000 | error code (index of the point in the low 8 bits), or -1.
 *   info may be null. A write reads each of its transfers back: a byte the
 *   amplifier holds other than written fails with 0x80002000, the address in
 *   the reason (NXTKA_LINEAR_NO_VERIFY skips the read-back). */
NXTKA_API int32_t NXTKA_CALL TKAcopyLinear(uint32_t port, LinearPoint *table, int32_t count, int32_t *info);



/* ---- display settings */
NXTKA_API int32_t NXTKA_CALL TKADispSetUnit(uint32_t port, int32_t unit); /* low byte sent */
NXTKA_API int32_t NXTKA_CALL TKADispGetUnit(uint32_t port);               /* 0..255, -1 */
NXTKA_API int32_t NXTKA_CALL TKADispSetDigits(uint32_t port, int32_t digits); /* 1..255, else -1 */
NXTKA_API int32_t NXTKA_CALL TKADispGetDigits(uint32_t port);
/* Sets the display's decimal exponent (low byte sent) and reads it back: 0
 * when the amplifier reports `point`, -1 otherwise. Values measured
 * meanwhile are dropped. */
NXTKA_API int32_t NXTKA_CALL TKADispSetDPoint(uint32_t port, int32_t point);
NXTKA_API int32_t NXTKA_CALL TKADispGetDPoint(uint32_t port); /* decimal exponent, -1 */
/* Sets the display norm (magnitude 0.16 up to 10^6, or 10^8 on newer
 * amplifiers; negative only where the amplifier supports it) and reads it
 * back: 0 when the amplifier reports it, -1 otherwise. Text values are
 * divided by the new norm. Values measured meanwhile are dropped. */
NXTKA_API int32_t NXTKA_CALL TKADispSetNorm(uint32_t port, double norm);
/* The display norm; -1.0 on failure (0.0 when the port was activated with
 * flag bit 3). A norm of 0 reported by the amplifier is returned but text
 * values keep the last norm that was not 0. */
NXTKA_API double NXTKA_CALL TKADispGetNorm(uint32_t port);
/* Has the amplifier compute its norm itself, then reads it back; 0 or -1. */
NXTKA_API int32_t NXTKA_CALL TKADispCalcNorm(uint32_t port);
/* ---- device names: which device a port number opens at its next activation.
 * Default "/dev/ttyS<N>" on POSIX and "\\.\COM<N>" on Windows; a null or
 * empty name restores it. Names are at most NXTKA_DEVICE_NAME_MAX - 1 bytes. */
#define NXTKA_DEVICE_NAME_MAX 512
NXTKA_API int32_t NXTKA_CALL NXsetDeviceName(uint32_t port, const char *name);
/* Copies the name with its terminator; returns its length, or -1 when the
 * port is above 1023, the buffer is null or too small. */
NXTKA_API int32_t NXTKA_CALL NXgetDeviceName(uint32_t port, char *buffer, int32_t size);

/* ---- why the last call failed
 * Every function still reports failure by -1 (or -1.0, or nothing); this
 * tells the calling thread why its last failed call on the library failed.
 * The record is kept per thread: a failure on one thread never shows on
 * another. Each call that takes a port number (activation included) forgets
 * the previous reason when it starts, and a failing call leaves its own, so
 * right after a -1 the reason is that call's. A call that succeeds leaves
 * NXTKA_FAILURE_NONE in most cases; calls without a port (version, device
 * names, this one) leave the record as it is. */
typedef enum NXTKA_FAILURE {
    NXTKA_FAILURE_NONE = 0,           /* nothing recorded: the last call went through */
    NXTKA_FAILURE_PORT_RANGE = 1,     /* port number above 1023 */
    NXTKA_FAILURE_NOT_ACTIVE = 2,     /* port not active (or being released) */
    NXTKA_FAILURE_BUSY = 3,           /* an asynchronous write is outstanding, or none is to finish */
    NXTKA_FAILURE_ARGUMENT = 4,       /* an argument was refused; nothing was sent */
    NXTKA_FAILURE_TIMEOUT = 5,        /* the amplifier did not answer within the time-out */
    NXTKA_FAILURE_WRITE = 6,          /* writing to the device failed */
    NXTKA_FAILURE_DEVICE = 7,         /* the device could not be opened or used; the system's text follows */
    NXTKA_FAILURE_ALREADY_ACTIVE = 8, /* activation of a port that is active or being activated */
    NXTKA_FAILURE_ABORTED = 9,        /* activation ended by TKAabortActivate */
    NXTKA_FAILURE_ANSWER = 10         /* the amplifier's answer made the call fail (a refusing status, a
                                       * byte that reads back other than written); the text says what */
} NXTKA_FAILURE;
/* Copies a short English text of the reason (for example "write to the device
 * failed: Input/output error", "port not active") into `text`, always
 * terminated and cut to `size` - 1 bytes; a null `text` or a `size` below 1
 * copies nothing. Returns the NXTKA_FAILURE_* number, which stays the same
 * from release to release; the text may change. */
NXTKA_API int32_t NXTKA_CALL NXgetLastFailure(char *text, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* NXTKA_H */
