// ventrix-traps: listens with the trap library and prints one line per
// decoded notification, every field of its record, until interrupted.
//
//   ventrix-traps --port 16200 [--mibs DIR] [--address 0.0.0.0] [--count N]
//
// Texts are printed in double quotes with '"', '\' and control bytes escaped. The
// sender is printed in full, also an IPv6 address too long for a 16-byte field.
#include "nrvapi.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::atomic<long> gRemaining{-1};

std::string quoted(const char *text)
{
    std::string out = "\"";
    for (const char *p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + '"';
}

void printed()
{
    std::fflush(stdout);
    if (gRemaining.load() > 0 && gRemaining.fetch_sub(1) == 1)
        kill(getpid(), SIGUSR1);
}

void onUnknown(const UnknownTrapRecord *r)
{
    std::printf("unknown sender=%s uptime=%" PRIu32 "\n", quoted(r->sender).c_str(), r->uptime);
    printed();
}

void onAlarm(const AlarmTrapRecord *r)
{
    std::printf("alarm sender=%s mac=%s device=%s uptime=%" PRIu32 " alarmState=%" PRIu32 " channel=%" PRIu32
                " alarmId=%" PRIu32 " alarmName=%s\n",
                quoted(r->sender).c_str(), quoted(r->mac).c_str(), quoted(r->deviceName).c_str(), r->uptime,
                r->alarmState, r->channelIndex, r->alarmId, quoted(r->alarmName).c_str());
    printed();
}

void onBinaryInput(const BinaryInputTrapRecord *r)
{
    std::printf("binary-input sender=%s mac=%s device=%s uptime=%" PRIu32 " channel=%" PRIu32
                " channelName=%s inputValue=%s channelState=%s\n",
                quoted(nrvCallbackSender()).c_str(), quoted(r->mac).c_str(), quoted(r->deviceName).c_str(), r->uptime,
                r->channelIndex, quoted(r->channelName).c_str(), quoted(r->inputValue).c_str(),
                quoted(r->channelState).c_str());
    printed();
}

void onSensor(const SensorTrapRecord *r)
{
    std::printf("sensor sender=%s mac=%s device=%s uptime=%" PRIu32 " channel=%" PRIu32 " value=%" PRId32
                " channelName=%s channelState=%s unit=%s\n",
                quoted(nrvCallbackSender()).c_str(), quoted(r->mac).c_str(), quoted(r->deviceName).c_str(), r->uptime,
                r->channelIndex, r->value, quoted(r->channelName).c_str(), quoted(r->channelState).c_str(),
                quoted(r->unit).c_str());
    printed();
}

void onStartup(const ShortTrapRecord *r)
{
    std::printf("startup sender=%s uptime=%" PRIu32 "\n", quoted(nrvCallbackSender()).c_str(), r->uptime);
    printed();
}

void onLinkup(const ShortTrapRecord *r)
{
    std::printf("linkup sender=%s uptime=%" PRIu32 "\n", quoted(nrvCallbackSender()).c_str(), r->uptime);
    printed();
}

void onLog(const char *message)
{
    std::fprintf(stderr, "ventrix-traps: %s\n", message);
}

std::string defaultMibs(const char *argv0)
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string(argv0);
    const std::size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/mibs";
}

int usage(const char *argv0, int code)
{
    std::fprintf(code ? stderr : stdout,
                 "usage: %s --port N [--mibs DIR] [--address A] [--count N]\n"
                 "  --port N     UDP port to listen on (162 needs privileges)\n"
                 "  --mibs DIR   MIB modules to name notifications with (default: mibs beside the program)\n"
                 "  --address A  IPv4 address to listen on (default 0.0.0.0)\n"
                 "  --count N    exit after N notifications\n",
                 argv0);
    return code;
}

bool number(const char *text, long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

} // namespace

int main(int argc, char **argv)
{
    long port = -1;
    long count = -1;
    std::string mibs = defaultMibs(argv[0]);
    std::string address = "0.0.0.0";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help")
            return usage(argv[0], 0);
        if (!hasValue)
            return usage(argv[0], 2);
        const char *value = argv[++i];
        if (arg == "--port") {
            if (!number(value, port) || port <= 0 || port > 65535)
                return usage(argv[0], 2);
        } else if (arg == "--count") {
            if (!number(value, count) || count <= 0)
                return usage(argv[0], 2);
        } else if (arg == "--mibs") {
            mibs = value;
        } else if (arg == "--address") {
            address = value;
        } else {
            return usage(argv[0], 2);
        }
    }
    if (port < 0)
        return usage(argv[0], 2);
    gRemaining.store(count);

    // Blocked here, before the library starts its thread (which inherits the
    // mask), so that only sigwait() below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    nrvSetLogCallback(onLog);
    nrvInit();
    nrvSetMibDirectory(mibs.c_str());
    if (nrvStart(address.c_str(), static_cast<int>(port)) == -1) {
        std::fprintf(stderr, "ventrix-traps: cannot listen on %s:%ld\n", address.c_str(), port);
        nrvShutdown();
        return 1;
    }
    for (int i = 0; nrvStatus() == -1; ++i) {
        if (i == 500) {
            std::fprintf(stderr, "ventrix-traps: the receiver did not start\n");
            nrvShutdown();
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    TrapCallbackTable table;
    nrvInitCallbackTable(&table);
    table.onUnknown = onUnknown;
    table.onAlarm = onAlarm;
    table.onBinaryInputChange = onBinaryInput;
    table.onSensorChange = onSensor;
    table.onStartup = onStartup;
    table.onLinkup = onLinkup;
    nrvSetCallbacks(&table);
    std::fprintf(stderr, "ventrix-traps: listening on %s:%ld\n", address.c_str(), port);

    int received = 0;
    sigwait(&signals, &received);

    nrvShutdown();
    NrvStatistics stats{};
    nrvGetStatistics(&stats);
    std::fprintf(stderr,
                 "ventrix-traps: %" PRIu64 " datagrams, %" PRIu64 " delivered, %" PRIu64 " dropped, %" PRIu64
                 " informs answered, %" PRIu64 " lost in the kernel, %" PRIu64 " over the memory bound\n",
                 stats.datagrams, stats.delivered, stats.dropped, stats.informs, stats.kernelDropped, stats.overflowed);
    return 0;
}
