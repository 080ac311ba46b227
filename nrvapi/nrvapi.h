/**
 * @file nrvapi.h
 * @brief The trap library: SNMP notification reception and decoding.
 *
 * The library receives SNMP notifications (SNMPv1 Trap-PDU, SNMPv2c Trap and
 * InformRequest) on one UDP port, names them with the MIB modules of the folder
 * it is handed, and reports each one through one callback of its kind, on a
 * thread of its own. It is built for Linux (eventfd, recvmmsg). Senders may use
 * IPv4 or IPv6.
 *
 * All functions but nrvCallbackSender() are called from one thread (the
 * program's main thread). They return -1 on failure; any other value means
 * success. Texts are NUL-terminated 8-bit strings that need only live for the
 * duration of the call.
 *
 * Call order: nrvInit(), nrvSetMibDirectory(), then any number of
 * nrvStart() / nrvStatus() / nrvInitCallbackTable() / nrvSetCallbacks() /
 * nrvStop() rounds, and nrvShutdown() last of all. No callback runs after
 * nrvShutdown() has returned.
 *
 * Records passed to the callbacks live only until the callback returns. Every
 * text field is NUL-terminated within its size and never cut inside a UTF-8
 * sequence; every number is a 32-bit value in host byte order (little-endian on
 * every platform the program is built for).
 *
 * Sender addresses are texts: dotted IPv4 ("192.0.2.7"; also for an IPv4 sender
 * that reached the IPv6 socket as ::ffff:192.0.2.7) or IPv6 in its short form
 * ("2001:db8::7", RFC 5952), without a zone. An IPv6 address may be longer than
 * the 16-byte sender field of the short, binary-input and sensor records: such a
 * field is then left empty (never cut), and nrvCallbackSender() has the address
 * during the callback. The 144-byte fields of the unknown and alarm records always
 * hold it.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#define NRVAPI_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/** A notification of no known kind (linkDown, authenticationFailure, other enterprises, ...). */
typedef struct UnknownTrapRecord {
    /** Sender address, one space and the notification's OID as the MIB modules name it. */
    char sender[144];
    /** sysUpTime.0 (v1: time-stamp) in hundredths of a second. */
    uint32_t uptime;
} UnknownTrapRecord;

/** coldStart/warmStart (startup) and linkUp (linkup) notifications. */
typedef struct ShortTrapRecord {
    char sender[16]; /**< sender address; empty when it does not fit (see nrvCallbackSender()) */
    uint32_t uptime; /**< hundredths of a second */
} ShortTrapRecord;

/** nmBinaryInputChange. */
typedef struct BinaryInputTrapRecord {
    char sender[16];        /**< sender address; empty when it does not fit (see nrvCallbackSender()) */
    char mac[18];           /**< nmDeviceMac as "aa:bb:cc:dd:ee:ff" */
    char deviceName[130];   /**< nmDeviceName */
    uint32_t uptime;        /**< hundredths of a second */
    uint32_t channelIndex;  /**< nmChannelIndex */
    char reserved[8];       /**< zero */
    char channelName[100];  /**< nmChannelName */
    char inputValue[100];   /**< nmInputValue */
    char channelState[100]; /**< nmChannelState */
} BinaryInputTrapRecord;

/** nmSensorChange. */
typedef struct SensorTrapRecord {
    char sender[16];        /**< sender address; empty when it does not fit (see nrvCallbackSender()) */
    char mac[18];           /**< nmDeviceMac as "aa:bb:cc:dd:ee:ff" */
    char deviceName[130];   /**< nmDeviceName */
    uint32_t uptime;        /**< hundredths of a second */
    uint32_t channelIndex;  /**< nmChannelIndex */
    char reserved[20];      /**< zero */
    int32_t value;          /**< nmSensorValue, tenths of the unit */
    char channelName[100];  /**< nmChannelName */
    char channelState[100]; /**< nmChannelState */
    char unit[100];         /**< nmSensorUnit */
} SensorTrapRecord;

/** nmAlarm. */
typedef struct AlarmTrapRecord {
    char sender[144];      /**< sender address */
    char mac[18];          /**< nmDeviceMac as "aa:bb:cc:dd:ee:ff" */
    char deviceName[130];  /**< nmDeviceName */
    uint32_t uptime;       /**< hundredths of a second */
    uint32_t alarmState;   /**< nmAlarmState: 3 begin, anything else end */
    uint32_t channelIndex; /**< nmChannelIndex */
    char reserved[4];      /**< zero */
    uint32_t alarmId;      /**< nmAlarmId */
    char alarmName[128];   /**< nmAlarmName */
} AlarmTrapRecord;

typedef void (*UnknownTrapCallback)(const UnknownTrapRecord *record);
typedef void (*AlarmTrapCallback)(const AlarmTrapRecord *record);
typedef void (*BinaryInputTrapCallback)(const BinaryInputTrapRecord *record);
typedef void (*SensorTrapCallback)(const SensorTrapRecord *record);
typedef void (*ShortTrapCallback)(const ShortTrapRecord *record);

/** The six callbacks, in this order. A null pointer drops notifications of that kind. */
typedef struct TrapCallbackTable {
    UnknownTrapCallback onUnknown;
    AlarmTrapCallback onAlarm;
    BinaryInputTrapCallback onBinaryInputChange;
    SensorTrapCallback onSensorChange;
    ShortTrapCallback onStartup;
    ShortTrapCallback onLinkup;
} TrapCallbackTable;

/** Counters of the receiver since nrvInit(), for diagnostics. */
typedef struct NrvStatistics {
    uint64_t datagrams;     /**< datagrams read from the socket */
    uint64_t delivered;     /**< records handed to a callback */
    uint64_t dropped;       /**< datagrams that were not a notification we decode */
    uint64_t informs;       /**< InformRequests answered */
    uint64_t kernelDropped; /**< datagrams the system discarded because the socket's receive buffer was full */
    uint64_t overflowed;    /**< datagrams discarded because the receiver's memory bound was reached */
    /** datagrams received but never delivered: left when a stop ran out of time, or decoded
        before any callback was registered and still waiting at the stop */
    uint64_t abandoned;
} NrvStatistics;

/** Receives the library's own log messages (MIB loading problems among them). */
typedef void (*NrvLogCallback)(const char *message);
/**
 * Told, on a thread of the library's, that a loss counter of NrvStatistics has grown or
 * that reception has ended on an error (nrvStatus() then returns -1 and nrvLastError()
 * says why). It may be called often during a flood: it should only note the fact.
 */
typedef void (*NrvStateCallback)(void);

/** Prepares the library. Ordinal 96. */
NRVAPI_EXPORT int nrvInit(void);
/** Loads every MIB module of @p path, and only that folder. Ordinal 97. */
NRVAPI_EXPORT int nrvSetMibDirectory(const char *path);
/**
 * Binds @p listenAddress : @p port synchronously and starts the receiver thread.
 * "0.0.0.0", "::" and an empty text mean every address of both families (of IPv4
 * alone where the system has no IPv6); any other IPv4 or IPv6 address that one
 * address. Returns -1 when the socket cannot be bound. Ordinal 98.
 */
NRVAPI_EXPORT int nrvStart(const char *listenAddress, int port);
/** -1 until the receiver thread is receiving, then 0. Ordinal 99. */
NRVAPI_EXPORT int nrvStatus(void);
/** Clears @p table to null callbacks. Ordinal 91. */
NRVAPI_EXPORT int nrvInitCallbackTable(TrapCallbackTable *table);
/**
 * Copies the six pointers of @p table; safe while receiving. Notifications that
 * arrive after an nrvStart() that found no callback registered wait, in order,
 * for this call; InformRequests are answered at once all the same. Ordinal 101.
 */
NRVAPI_EXPORT int nrvSetCallbacks(const TrapCallbackTable *table);
/**
 * Ends reception and closes the socket. What arrived before the call is decoded and
 * delivered first, InformRequests among it answered, and nothing that arrives later;
 * this takes three seconds at most, and what is left then is counted as abandoned.
 * From a callback it ends at once. Ordinal 100.
 */
NRVAPI_EXPORT int nrvStop(void);
/**
 * Ends everything. What has already been received is decoded and delivered first; no
 * callback runs after it returns. Ordinal 102.
 */
NRVAPI_EXPORT int nrvShutdown(void);

/** Copies the counters into @p stats. */
NRVAPI_EXPORT int nrvGetStatistics(NrvStatistics *stats);
/**
 * Why the last nrvStart() failed, or why reception ended on its own, in the system's
 * words; empty after a successful start. Valid until the next call of the library.
 */
NRVAPI_EXPORT const char *nrvLastError(void);
/**
 * The sender address of the notification whose callback is running, in full (see
 * the file's description): for SNMPv1 the agent-addr field unless it is 0.0.0.0,
 * otherwise the datagram's source. Called on the callback thread during a callback;
 * valid until the callback returns. Null anywhere else.
 */
NRVAPI_EXPORT const char *nrvCallbackSender(void);
/** Routes notices of losses and failures to @p callback (null: none). */
NRVAPI_EXPORT int nrvSetStateCallback(NrvStateCallback callback);
/** Routes the library's log to @p callback (null: standard error). */
NRVAPI_EXPORT int nrvSetLogCallback(NrvLogCallback callback);

#ifdef __cplusplus
}

// The program reads the records at fixed byte offsets; any change here breaks it.
static_assert(offsetof(UnknownTrapRecord, sender) == 0, "layout");
static_assert(offsetof(UnknownTrapRecord, uptime) == 144, "layout");
static_assert(offsetof(ShortTrapRecord, sender) == 0, "layout");
static_assert(offsetof(ShortTrapRecord, uptime) == 16, "layout");
static_assert(offsetof(BinaryInputTrapRecord, mac) == 16, "layout");
static_assert(offsetof(BinaryInputTrapRecord, deviceName) == 34, "layout");
static_assert(offsetof(BinaryInputTrapRecord, uptime) == 164, "layout");
static_assert(offsetof(BinaryInputTrapRecord, channelIndex) == 168, "layout");
static_assert(offsetof(BinaryInputTrapRecord, reserved) == 172, "layout");
static_assert(offsetof(BinaryInputTrapRecord, channelName) == 180, "layout");
static_assert(offsetof(BinaryInputTrapRecord, inputValue) == 280, "layout");
static_assert(offsetof(BinaryInputTrapRecord, channelState) == 380, "layout");
static_assert(offsetof(SensorTrapRecord, mac) == 16, "layout");
static_assert(offsetof(SensorTrapRecord, deviceName) == 34, "layout");
static_assert(offsetof(SensorTrapRecord, uptime) == 164, "layout");
static_assert(offsetof(SensorTrapRecord, channelIndex) == 168, "layout");
static_assert(offsetof(SensorTrapRecord, reserved) == 172, "layout");
static_assert(offsetof(SensorTrapRecord, value) == 192, "layout");
static_assert(offsetof(SensorTrapRecord, channelName) == 196, "layout");
static_assert(offsetof(SensorTrapRecord, channelState) == 296, "layout");
static_assert(offsetof(SensorTrapRecord, unit) == 396, "layout");
static_assert(offsetof(AlarmTrapRecord, mac) == 144, "layout");
static_assert(offsetof(AlarmTrapRecord, deviceName) == 162, "layout");
static_assert(offsetof(AlarmTrapRecord, uptime) == 292, "layout");
static_assert(offsetof(AlarmTrapRecord, alarmState) == 296, "layout");
static_assert(offsetof(AlarmTrapRecord, channelIndex) == 300, "layout");
static_assert(offsetof(AlarmTrapRecord, reserved) == 304, "layout");
static_assert(offsetof(AlarmTrapRecord, alarmId) == 308, "layout");
static_assert(offsetof(AlarmTrapRecord, alarmName) == 312, "layout");
static_assert(sizeof(TrapCallbackTable) == 6 * sizeof(void (*)(void)), "six pointers");
#endif
