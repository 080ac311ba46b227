// The library's only door to net-snmp. Nothing of net-snmp shows here: its
// headers define TRUE, READ, WRITE and hundreds of HAVE_* macros.
#pragma once

#include "nrvapi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nrv {

enum class Kind { Unknown, Alarm, BinaryInput, Sensor, Startup, Linkup };

// One decoded notification: the record of its kind and, for an
// InformRequest, the Response datagram to send back to its source.
struct Notification {
    Kind kind = Kind::Unknown;
    union {
        UnknownTrapRecord unknown;
        AlarmTrapRecord alarm;
        BinaryInputTrapRecord binaryInput;
        SensorTrapRecord sensor;
        ShortTrapRecord shortRecord;
    };
    // The sender address in full, which a record's field may be too short for.
    char sender[64] = {};
    std::vector<unsigned char> response;
    // An InformRequest's community and request-id: with the source they tell
    // a retransmission from a new notification.
    std::string community;
    std::int64_t requestId = 0;

    Notification() : unknown{} {}
};

// net-snmp is not reentrant: every function below takes one process-wide
// lock, so they may be called from any thread.

// Settings that keep net-snmp away from the machine's configuration and
// persistent files, and its log routed to logMessage(). Idempotent.
void engineInit();

// Loads every MIB module of @p directory and nothing else; a missing or empty
// folder leaves only numeric names. Replaces what was loaded before.
void engineLoadMibs(const char *directory);

// Unloads the MIB modules.
void engineShutdown();

// Decodes one datagram received from @p source (its address as text, see
// nrvapi.h). Returns false for anything that is not an SNMPv1 Trap-PDU or an
// SNMPv2c Trap or InformRequest. Never reads outside [data, data + length).
bool engineDecode(const unsigned char *data, std::size_t length, const char *source, Notification &out);

// Implemented by the library: the one place its messages go.
void logMessage(const char *message);

} // namespace nrv
