// Everything that touches net-snmp: MIB loading, parsing a datagram, naming an
// OID and building the Response to an InformRequest.
#include "snmp_engine.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace nrv {
namespace {

std::mutex gSnmpMutex;
bool gInitialized = false;
bool gMibsLoaded = false;
netsnmp_session gSession;
std::string gPendingLog; // net-snmp sometimes logs one line in several pieces

// Well-known notification and variable identifiers.
const oid kSysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3};
const oid kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1};
const oid kSnmpTraps[] = {1, 3, 6, 1, 6, 3, 1, 1, 5};
const oid kColdStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
const oid kWarmStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 2};
const oid kLinkUp[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 4};

// NORVANE-MONITOR-MIB: norvaneMonitor is enterprises.32473.1.
#define NM_ROOT 1, 3, 6, 1, 4, 1, 32473, 1
const oid kNmBinaryInputChange[] = {NM_ROOT, 0, 1};
const oid kNmSensorChange[] = {NM_ROOT, 0, 2};
const oid kNmAlarm[] = {NM_ROOT, 0, 3};
const oid kNmDeviceName[] = {NM_ROOT, 1, 1};
const oid kNmDeviceMac[] = {NM_ROOT, 1, 2};
const oid kNmChannelIndex[] = {NM_ROOT, 1, 3};
const oid kNmChannelName[] = {NM_ROOT, 1, 4};
const oid kNmInputValue[] = {NM_ROOT, 1, 5};
const oid kNmChannelState[] = {NM_ROOT, 1, 6};
const oid kNmSensorValue[] = {NM_ROOT, 1, 7};
const oid kNmSensorUnit[] = {NM_ROOT, 1, 8};
const oid kNmAlarmName[] = {NM_ROOT, 1, 9};
const oid kNmAlarmState[] = {NM_ROOT, 1, 10};
const oid kNmAlarmId[] = {NM_ROOT, 1, 11};
#undef NM_ROOT

struct Oid {
    const oid *ids;
    std::size_t length;
};

template <std::size_t N> constexpr Oid make(const oid (&ids)[N])
{
    return {ids, N};
}

bool equals(const oid *a, std::size_t aLength, Oid b)
{
    return aLength == b.length && std::memcmp(a, b.ids, aLength * sizeof(oid)) == 0;
}

// A variable named by its object or by an instance of it (nmDeviceName and
// nmDeviceName.0 both count).
bool isObjectOrInstance(const netsnmp_variable_list *var, Oid object)
{
    return var->name_length >= object.length && std::memcmp(var->name, object.ids, object.length * sizeof(oid)) == 0;
}

const netsnmp_variable_list *findVariable(const netsnmp_pdu *pdu, Oid object)
{
    for (const netsnmp_variable_list *var = pdu->variables; var; var = var->next_variable) {
        if (isObjectOrInstance(var, object))
            return var;
    }
    return nullptr;
}

// Copies at most size - 1 bytes of @p text into @p field, NUL-terminated. The
// text ends at its first NUL; a cut never splits a UTF-8 sequence.
void copyText(char *field, std::size_t size, const char *text, std::size_t length)
{
    const void *nul = std::memchr(text, '\0', length);
    if (nul)
        length = static_cast<std::size_t>(static_cast<const char *>(nul) - text);
    std::size_t n = length;
    if (n > size - 1) {
        n = size - 1;
        // Back up over continuation bytes to the start of the sequence that
        // the cut would split. More than three of them is not UTF-8: cut as is.
        std::size_t back = 0;
        while (back < 3 && n - back > 0 && (static_cast<unsigned char>(text[n - back]) & 0xC0) == 0x80)
            ++back;
        if ((static_cast<unsigned char>(text[n - back]) & 0xC0) != 0x80)
            n -= back;
    }
    std::memcpy(field, text, n);
    field[n] = '\0';
}

template <std::size_t N> void copyText(char (&field)[N], const char *text)
{
    copyText(field, N, text, std::strlen(text));
}

// An address is never cut: a field too short for it stays empty.
template <std::size_t N> void copySender(char (&field)[N], const char *sender)
{
    field[0] = '\0';
    if (std::strlen(sender) < N)
        copyText(field, sender);
}

template <std::size_t N> void textVariable(char (&field)[N], const netsnmp_pdu *pdu, Oid object)
{
    const netsnmp_variable_list *var = findVariable(pdu, object);
    if (var && var->type == ASN_OCTET_STR && var->val.string)
        copyText(field, N, reinterpret_cast<const char *>(var->val.string), var->val_len);
    else
        field[0] = '\0';
}

// Lower-case hexadecimal pairs, so that the same device always gives the same text.
template <std::size_t N> void macVariable(char (&field)[N], const netsnmp_pdu *pdu)
{
    static_assert(N >= 18, "six pairs and five colons");
    const netsnmp_variable_list *var = findVariable(pdu, make(kNmDeviceMac));
    field[0] = '\0';
    if (!var || var->type != ASN_OCTET_STR || var->val_len != 6 || !var->val.string)
        return;
    const unsigned char *b = var->val.string;
    std::snprintf(field, N, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
}

std::uint32_t unsignedVariable(const netsnmp_pdu *pdu, Oid object, unsigned char type = ASN_UNSIGNED);

// The fields every device notification's record starts with.
template <typename Record>
void deviceFields(Record &r, const char *sender, const netsnmp_pdu *pdu, std::uint32_t uptime)
{
    r = Record{};
    copySender(r.sender, sender);
    macVariable(r.mac, pdu);
    textVariable(r.deviceName, pdu, make(kNmDeviceName));
    r.uptime = uptime;
}

std::uint32_t unsignedVariable(const netsnmp_pdu *pdu, Oid object, unsigned char type)
{
    const netsnmp_variable_list *var = findVariable(pdu, object);
    if (!var || var->type != type || !var->val.integer || var->val_len < sizeof(long))
        return 0;
    const unsigned long value = static_cast<unsigned long>(*var->val.integer);
    return value <= UINT32_MAX ? static_cast<std::uint32_t>(value) : 0;
}

std::int32_t integerVariable(const netsnmp_pdu *pdu, Oid object)
{
    const netsnmp_variable_list *var = findVariable(pdu, object);
    if (!var || var->type != ASN_INTEGER || !var->val.integer || var->val_len < sizeof(long))
        return 0;
    const long value = *var->val.integer;
    return value >= INT32_MIN && value <= INT32_MAX ? static_cast<std::int32_t>(value) : 0;
}

// The notification's name as the loaded modules give it, or dotted numbers
// when no module names the whole OID: "SNMPv2-SMI::enterprises.9999.0.5"
// would hide that nobody knows what it is.
std::string oidName(const oid *ids, std::size_t length)
{
    if (gMibsLoaded && length > 0) {
        if (const tree *node = get_tree(ids, length, get_tree_head())) {
            std::size_t depth = 0;
            for (const tree *t = node; t; t = t->parent)
                ++depth;
            char buf[1024];
            if (depth == length && snprint_objid(buf, sizeof buf, ids, length) > 0)
                return buf;
        }
    }
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i)
            text += '.';
        text += std::to_string(static_cast<unsigned long>(ids[i]));
    }
    return text;
}

int onNetSnmpLog(int, int, void *serverArgument, void *)
{
    const auto *message = static_cast<const snmp_log_message *>(serverArgument);
    if (!message || !message->msg)
        return 0;
    gPendingLog += message->msg;
    std::size_t start = 0;
    for (std::size_t nl; (nl = gPendingLog.find('\n', start)) != std::string::npos; start = nl + 1) {
        if (nl > start)
            logMessage(gPendingLog.substr(start, nl - start).c_str());
    }
    gPendingLog.erase(0, start);
    return 0;
}

void flushLog()
{
    if (!gPendingLog.empty())
        logMessage(gPendingLog.c_str());
    gPendingLog.clear();
}

void initLocked()
{
    if (gInitialized)
        return;
    // No snmp.conf of the machine or the user, and nothing read from or
    // written to the persistent folder (/var/lib/snmp).
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 1);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 1);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OID_OUTPUT_FORMAT, NETSNMP_OID_OUTPUT_MODULE);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, onNetSnmpLog, nullptr);
    snmp_enable_calllog();
    snmp_sess_init(&gSession);
    gInitialized = true;
}

// Sets an environment variable for the duration of a MIB load and puts the
// old value back afterwards, so that the host process sees no change.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value) : m_name(name)
    {
        if (const char *old = std::getenv(name)) {
            m_had = true;
            m_old = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    bool m_had = false;
    std::string m_old;
};

// RFC 3584 section 3.1: the SNMPv2 notification OID of an SNMPv1 trap.
bool v1TrapOid(const netsnmp_pdu *pdu, oid *ids, std::size_t &length)
{
    if (pdu->trap_type >= SNMP_TRAP_COLDSTART && pdu->trap_type < SNMP_TRAP_ENTERPRISESPECIFIC) {
        std::memcpy(ids, kSnmpTraps, sizeof kSnmpTraps);
        length = OID_LENGTH(kSnmpTraps);
        ids[length++] = static_cast<oid>(pdu->trap_type + 1);
        return true;
    }
    if (pdu->trap_type != SNMP_TRAP_ENTERPRISESPECIFIC || pdu->specific_type < 0 || !pdu->enterprise ||
        pdu->enterprise_length == 0 || pdu->enterprise_length + 2 > MAX_OID_LEN)
        return false;
    std::memcpy(ids, pdu->enterprise, pdu->enterprise_length * sizeof(oid));
    length = pdu->enterprise_length;
    ids[length++] = 0;
    ids[length++] = static_cast<oid>(pdu->specific_type);
    return true;
}

// Reads the message version without going any further, so that SNMPv3
// messages never reach net-snmp's security processing.
bool isCommunityMessage(const unsigned char *data, std::size_t length)
{
    auto *p = const_cast<u_char *>(data);
    std::size_t left = length;
    u_char type = 0;
    p = asn_parse_sequence(p, &left, &type, ASN_SEQUENCE | ASN_CONSTRUCTOR, "message");
    if (!p)
        return false;
    long version = -1;
    if (!asn_parse_int(p, &left, &type, &version, sizeof version) || type != ASN_INTEGER)
        return false;
    return version == SNMP_VERSION_1 || version == SNMP_VERSION_2c;
}

// The Response to an InformRequest: same request-id and variables, noError.
std::vector<unsigned char> buildResponse(netsnmp_pdu *pdu)
{
    std::vector<unsigned char> out;
    pdu->command = SNMP_MSG_RESPONSE;
    pdu->errstat = SNMP_ERR_NOERROR;
    pdu->errindex = 0;
    pdu->flags &= ~UCD_MSG_FLAG_EXPECT_RESPONSE;

    size_t size = 2048;
    auto *buffer = static_cast<u_char *>(std::malloc(size));
    if (!buffer)
        return out;
    size_t offset = 0;
    if (netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE)) {
        // Built from the end of the buffer backwards; net-snmp grows it as needed.
        if (snmp_build(&buffer, &size, &offset, &gSession, pdu) == SNMPERR_SUCCESS && offset <= size)
            out.assign(buffer + size - offset, buffer + size);
    } else {
        size_t length = size;
        if (snmp_build(&buffer, &length, &offset, &gSession, pdu) == SNMPERR_SUCCESS && length <= size)
            out.assign(buffer, buffer + length);
    }
    std::free(buffer);
    return out;
}

bool decodeLocked(const unsigned char *data, std::size_t length, const char *source, Notification &out)
{
    if (length == 0 || !isCommunityMessage(data, length))
        return false;

    netsnmp_pdu *pdu = static_cast<netsnmp_pdu *>(std::calloc(1, sizeof(netsnmp_pdu)));
    if (!pdu)
        return false;
    // snmp_parse takes a non-const buffer, but it only writes to it when it
    // decrypts an SNMPv3 message, which isCommunityMessage() has ruled out.
    if (snmp_parse(nullptr, &gSession, pdu, const_cast<u_char *>(data), length) != SNMPERR_SUCCESS) {
        snmp_free_pdu(pdu);
        return false;
    }

    bool ok = false;
    oid trapOid[MAX_OID_LEN];
    std::size_t trapOidLength = 0;
    char sender[sizeof out.sender] = {};
    std::uint32_t uptime = 0;
    bool inform = false;

    if (pdu->version == SNMP_VERSION_1 && pdu->command == SNMP_MSG_TRAP) {
        ok = v1TrapOid(pdu, trapOid, trapOidLength);
        // An agent that does not know its own address sends 0.0.0.0; the
        // datagram's source says more than that.
        static const unsigned char none[4] = {0, 0, 0, 0};
        if (std::memcmp(pdu->agent_addr, none, 4) != 0) {
            const unsigned char *a = pdu->agent_addr;
            std::snprintf(sender, sizeof sender, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        } else {
            copyText(sender, source);
        }
        uptime = static_cast<std::uint32_t>(pdu->time);
    } else if (pdu->version == SNMP_VERSION_2c && (pdu->command == SNMP_MSG_TRAP2 || pdu->command == SNMP_MSG_INFORM)) {
        const netsnmp_variable_list *id = findVariable(pdu, make(kSnmpTrapOid));
        if (id && id->type == ASN_OBJECT_ID && id->val.objid && id->val_len % sizeof(oid) == 0 &&
            id->val_len / sizeof(oid) <= MAX_OID_LEN) {
            trapOidLength = id->val_len / sizeof(oid);
            std::memcpy(trapOid, id->val.objid, id->val_len);
            ok = true;
        }
        copyText(sender, source);
        uptime = unsignedVariable(pdu, make(kSysUpTime), ASN_TIMETICKS);
        inform = pdu->command == SNMP_MSG_INFORM;
    }
    if (!ok) {
        snmp_free_pdu(pdu);
        return false;
    }

    if (equals(trapOid, trapOidLength, make(kNmBinaryInputChange))) {
        out.kind = Kind::BinaryInput;
        BinaryInputTrapRecord &r = out.binaryInput;
        deviceFields(r, sender, pdu, uptime);
        r.channelIndex = unsignedVariable(pdu, make(kNmChannelIndex));
        textVariable(r.channelName, pdu, make(kNmChannelName));
        textVariable(r.inputValue, pdu, make(kNmInputValue));
        textVariable(r.channelState, pdu, make(kNmChannelState));
    } else if (equals(trapOid, trapOidLength, make(kNmSensorChange))) {
        out.kind = Kind::Sensor;
        SensorTrapRecord &r = out.sensor;
        deviceFields(r, sender, pdu, uptime);
        r.channelIndex = unsignedVariable(pdu, make(kNmChannelIndex));
        r.value = integerVariable(pdu, make(kNmSensorValue));
        textVariable(r.channelName, pdu, make(kNmChannelName));
        textVariable(r.channelState, pdu, make(kNmChannelState));
        textVariable(r.unit, pdu, make(kNmSensorUnit));
    } else if (equals(trapOid, trapOidLength, make(kNmAlarm))) {
        out.kind = Kind::Alarm;
        AlarmTrapRecord &r = out.alarm;
        deviceFields(r, sender, pdu, uptime);
        r.alarmState = static_cast<std::uint32_t>(integerVariable(pdu, make(kNmAlarmState)));
        r.channelIndex = unsignedVariable(pdu, make(kNmChannelIndex));
        r.alarmId = unsignedVariable(pdu, make(kNmAlarmId));
        textVariable(r.alarmName, pdu, make(kNmAlarmName));
    } else if (equals(trapOid, trapOidLength, make(kColdStart)) || equals(trapOid, trapOidLength, make(kWarmStart)) ||
               equals(trapOid, trapOidLength, make(kLinkUp))) {
        out.kind = equals(trapOid, trapOidLength, make(kLinkUp)) ? Kind::Linkup : Kind::Startup;
        out.shortRecord = ShortTrapRecord{};
        copySender(out.shortRecord.sender, sender);
        out.shortRecord.uptime = uptime;
    } else {
        out.kind = Kind::Unknown;
        out.unknown = UnknownTrapRecord{};
        const std::string text = std::string(sender) + ' ' + oidName(trapOid, trapOidLength);
        copyText(out.unknown.sender, sizeof out.unknown.sender, text.data(), text.size());
        out.unknown.uptime = uptime;
    }

    copyText(out.sender, sender);
    out.response.clear();
    out.community.clear();
    out.requestId = 0;
    if (inform) {
        if (pdu->community)
            out.community.assign(reinterpret_cast<const char *>(pdu->community), pdu->community_len);
        out.requestId = pdu->reqid;
        out.response = buildResponse(pdu);
    }
    snmp_free_pdu(pdu);
    return true;
}

} // namespace

void engineInit()
{
    std::lock_guard<std::mutex> lock(gSnmpMutex);
    initLocked();
}

void engineLoadMibs(const char *directory)
{
    std::lock_guard<std::mutex> lock(gSnmpMutex);
    initLocked();
    if (gMibsLoaded) {
        shutdown_mib();
        gMibsLoaded = false;
    }
    if (!directory || !*directory) {
        logMessage("no MIB folder given: notifications are named by number");
        return;
    }
    // net-snmp takes a list of folders separated by ':' (and a leading '+'
    // adds its defaults); a path like that would load from other folders.
    if (std::strchr(directory, ENV_SEPARATOR_CHAR) || directory[0] == '+') {
        std::string message = std::string("MIB folder path not usable, no modules loaded: ") + directory;
        logMessage(message.c_str());
        return;
    }
    struct stat info;
    if (stat(directory, &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::string message = std::string("MIB folder not found, notifications are named by number: ") + directory;
        logMessage(message.c_str());
        return;
    }
    netsnmp_set_mib_directory(directory);
    {
        ScopedEnv mibs("MIBS", "ALL");
        ScopedEnv files("MIBFILES", nullptr);
        netsnmp_init_mib();
    }
    flushLog();
    gMibsLoaded = true;
}

void engineShutdown()
{
    std::lock_guard<std::mutex> lock(gSnmpMutex);
    if (gMibsLoaded) {
        shutdown_mib();
        gMibsLoaded = false;
    }
    flushLog();
}

bool engineDecode(const unsigned char *data, std::size_t length, const char *source, Notification &out)
{
    std::lock_guard<std::mutex> lock(gSnmpMutex);
    initLocked();
    const bool ok = decodeLocked(data, length, source, out);
    flushLog();
    return ok;
}

} // namespace nrv
