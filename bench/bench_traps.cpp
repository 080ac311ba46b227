// Throughput of the trap library: a burst of SNMPv2c device notifications
// (binary input, sensor and alarm, each with its own request-id and values)
// sent over loopback as fast as the socket takes them, decoded and delivered
// to a counting callback. Reports the rate and the loss; when snmptrapd is
// installed (never install it for this: it brings a service on port 162), the
// same burst goes into it, writing a file, for the ratio.
//
//   bench_traps [COUNT]        (default 100000)
#include "nrvapi.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Datagram = std::vector<unsigned char>;

std::atomic<std::uint64_t> gCount{0};
std::atomic<std::uint64_t> gChecksum{0};

void onBinaryInput(const BinaryInputTrapRecord *r)
{
    gChecksum.fetch_add(r->channelIndex, std::memory_order_relaxed);
    gCount.fetch_add(1, std::memory_order_relaxed);
}
void onSensor(const SensorTrapRecord *r)
{
    gChecksum.fetch_add(r->channelIndex, std::memory_order_relaxed);
    gCount.fetch_add(1, std::memory_order_relaxed);
}
void onAlarm(const AlarmTrapRecord *r)
{
    gChecksum.fetch_add(r->channelIndex, std::memory_order_relaxed);
    gCount.fetch_add(1, std::memory_order_relaxed);
}
void onOther(const ShortTrapRecord *) {}
void onUnknown(const UnknownTrapRecord *) {}
void onLog(const char *) {}

void addOid(netsnmp_pdu *pdu, std::vector<oid> name, u_char type, const void *value, size_t size)
{
    snmp_pdu_add_variable(pdu, name.data(), name.size(), type, value, size);
}

void addText(netsnmp_pdu *pdu, std::vector<oid> name, const std::string &text)
{
    addOid(pdu, std::move(name), ASN_OCTET_STR, text.data(), text.size());
}

void addNumber(netsnmp_pdu *pdu, std::vector<oid> name, u_char type, long value)
{
    addOid(pdu, std::move(name), type, &value, sizeof value);
}

// Built with net-snmp before the library starts: the two never use it at once.
std::vector<Datagram> buildBurst(int count)
{
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_2c;
    static char community[] = "public";
    session.community = reinterpret_cast<u_char *>(community);
    session.community_len = std::strlen(community);

    const std::vector<oid> nm = {1, 3, 6, 1, 4, 1, 32473, 1};
    auto object = [&nm](oid n) {
        std::vector<oid> o = nm;
        o.push_back(1);
        o.push_back(n);
        o.push_back(0);
        return o;
    };
    const unsigned char mac[6] = {0x00, 0x20, 0x4a, 0xbd, 0x11, 0x07};

    std::vector<Datagram> burst;
    burst.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
        pdu->version = SNMP_VERSION_2c;
        pdu->reqid = i + 1;
        addNumber(pdu, {1, 3, 6, 1, 2, 1, 1, 3, 0}, ASN_TIMETICKS, 100000 + i);
        std::vector<oid> trapOid = nm;
        trapOid.push_back(0);
        trapOid.push_back(static_cast<oid>(1 + i % 3));
        addOid(pdu, {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, ASN_OBJECT_ID, trapOid.data(), trapOid.size() * sizeof(oid));
        addText(pdu, object(1), "Server room " + std::to_string(i % 100));
        addOid(pdu, object(2), ASN_OCTET_STR, mac, sizeof mac);
        addNumber(pdu, object(3), ASN_UNSIGNED, i % 16);
        switch (i % 3) {
        case 0:
            addText(pdu, object(4), "Door " + std::to_string(i % 16));
            addText(pdu, object(5), i % 2 ? "open" : "closed");
            addText(pdu, object(6), "normal");
            break;
        case 1:
            addText(pdu, object(4), "Temperature rack " + std::to_string(i % 16));
            addNumber(pdu, object(7), ASN_INTEGER, i % 1000 - 500);
            addText(pdu, object(8), "C");
            addText(pdu, object(6), "normal");
            break;
        default:
            addText(pdu, object(9), i % 2 ? "temperatureOutOfRange" : "inputStateAlarm");
            addNumber(pdu, object(10), ASN_INTEGER, i % 2 ? 3 : 2);
            addNumber(pdu, object(11), ASN_UNSIGNED, i);
            break;
        }
        size_t size = 2048;
        auto *buffer = static_cast<u_char *>(std::malloc(size));
        size_t offset = 0;
        size_t length = size;
        const bool reverse = netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE);
        if (snmp_build(&buffer, reverse ? &size : &length, &offset, &session, pdu) == SNMPERR_SUCCESS) {
            if (reverse)
                burst.emplace_back(buffer + size - offset, buffer + size);
            else
                burst.emplace_back(buffer, buffer + length);
        }
        std::free(buffer);
        snmp_free_pdu(pdu);
    }
    return burst;
}

int freePort()
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len);
    close(s);
    return ntohs(addr.sin_port);
}

// Sends the burst as fast as the socket takes it; returns the seconds it took.
double sendBurst(const std::vector<Datagram> &burst, int port)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    constexpr size_t kBatch = 64;
    mmsghdr messages[kBatch];
    iovec vectors[kBatch];
    const auto start = Clock::now();
    for (size_t i = 0; i < burst.size();) {
        const size_t n = std::min(kBatch, burst.size() - i);
        std::memset(messages, 0, sizeof messages);
        for (size_t k = 0; k < n; ++k) {
            vectors[k] = {const_cast<unsigned char *>(burst[i + k].data()), burst[i + k].size()};
            messages[k].msg_hdr.msg_iov = &vectors[k];
            messages[k].msg_hdr.msg_iovlen = 1;
        }
        const int sent = sendmmsg(s, messages, static_cast<unsigned>(n), 0);
        if (sent > 0)
            i += static_cast<size_t>(sent);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(s);
    return seconds;
}

// Waits until @p count reaches @p expected or stops moving for a second;
// returns the seconds from @p start to its last change.
double settle(const std::function<std::uint64_t()> &count, std::uint64_t expected, Clock::time_point start)
{
    std::uint64_t last = count();
    auto lastChange = Clock::now();
    while (last < expected && Clock::now() - lastChange < std::chrono::seconds(1)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::uint64_t now = count();
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        }
    }
    return std::chrono::duration<double>(lastChange - start).count();
}

std::string findProgram(const char *name)
{
    const char *path = std::getenv("PATH");
    std::string all = path ? path : "/usr/bin:/usr/sbin";
    all += ":/usr/sbin:/sbin";
    size_t start = 0;
    while (start <= all.size()) {
        const size_t end = all.find(':', start);
        const std::string dir = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = dir + '/' + name;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

std::uint64_t linesIn(const std::string &file)
{
    std::ifstream in(file);
    std::uint64_t n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.rfind("TRAP ", 0) == 0;
    return n;
}

// The same burst into snmptrapd, one line per notification in a file.
double snmptrapdRate(const std::string &program, const std::vector<Datagram> &burst)
{
    char dir[] = "/tmp/bench_traps.XXXXXX";
    if (!mkdtemp(dir))
        return 0;
    const std::string conf = std::string(dir) + "/snmptrapd.conf";
    const std::string out = std::string(dir) + "/traps.log";
    std::ofstream(conf) << "disableAuthorization yes\n";
    const int port = freePort();
    const std::string listen = "udp:127.0.0.1:" + std::to_string(port);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("SNMP_PERSISTENT_DIR", dir, 1);
        execl(program.c_str(), program.c_str(), "-f", "-n", "-C", "-c", conf.c_str(), "-M", VENTRIX_MIBS_DIR, "-m",
              "ALL", "-F", "TRAP %a %v\\n", "-A", "-Lf", out.c_str(), listen.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto start = Clock::now();
    sendBurst(burst, port);
    const double seconds = settle([&out] { return linesIn(out); }, burst.size(), start);
    const std::uint64_t received = linesIn(out);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::printf("snmptrapd: %" PRIu64 " of %zu written in %.3f s: %.0f traps/s, %zu lost\n", received, burst.size(),
                seconds, seconds > 0 ? received / seconds : 0.0, burst.size() - static_cast<size_t>(received));
    return seconds > 0 ? received / seconds : 0.0;
}

} // namespace

int main(int argc, char **argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: %s [COUNT]\n", argv[0]);
        return 2;
    }
    const std::vector<Datagram> burst = buildBurst(count);
    size_t bytes = 0;
    for (const Datagram &d : burst)
        bytes += d.size();
    std::printf("burst: %zu SNMPv2c notifications, %.0f bytes each on average\n", burst.size(),
                static_cast<double>(bytes) / static_cast<double>(burst.size()));

    nrvSetLogCallback(onLog);
    nrvInit();
    nrvSetMibDirectory(VENTRIX_MIBS_DIR);
    const int port = freePort();
    if (nrvStart("127.0.0.1", port) == -1) {
        std::fprintf(stderr, "cannot start the receiver on port %d\n", port);
        return 1;
    }
    while (nrvStatus() == -1)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    TrapCallbackTable table = {onUnknown, onAlarm, onBinaryInput, onSensor, onOther, onOther};
    nrvSetCallbacks(&table);

    const auto start = Clock::now();
    const double sendSeconds = sendBurst(burst, port);
    const double seconds = settle([] { return gCount.load(); }, burst.size(), start);
    NrvStatistics stats{};
    nrvGetStatistics(&stats);
    nrvShutdown();

    const std::uint64_t delivered = gCount.load();
    const double rate = seconds > 0 ? static_cast<double>(delivered) / seconds : 0.0;
    std::printf("sender: %.3f s, %.0f datagrams/s\n", sendSeconds, static_cast<double>(burst.size()) / sendSeconds);
    std::printf("nrvapi: %" PRIu64 " of %zu delivered in %.3f s: %.0f traps/s, %" PRIu64 " lost, %" PRIu64
                " dropped as undecodable, %" PRIu64 " lost in the kernel, %" PRIu64 " over the memory bound\n",
                delivered, burst.size(), seconds, rate, static_cast<std::uint64_t>(burst.size()) - delivered,
                stats.dropped, stats.kernelDropped, stats.overflowed);

    const std::string snmptrapd = findProgram("snmptrapd");
    if (snmptrapd.empty()) {
        std::printf("snmptrapd: not installed, no ratio\n");
    } else if (const double other = snmptrapdRate(snmptrapd, burst); other > 0) {
        std::printf("ratio nrvapi / snmptrapd: %.1f\n", rate / other);
    }
    const bool ok = delivered == burst.size() && rate >= 20000;
    std::printf("target (no loss, >= 20000 traps/s): %s\n", ok ? "met" : "NOT met");
    return ok ? 0 : 1;
}
