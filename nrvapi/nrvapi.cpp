// The trap library: one UDP socket, a reader and a decoder thread (receiver.h),
// net-snmp behind snmp_engine.h.
#include "nrvapi.h"

#include "receiver.h"
#include "snmp_engine.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace nrv {

namespace {
std::atomic<NrvLogCallback> gLogCallback{nullptr};
} // namespace

void logMessage(const char *message)
{
    if (NrvLogCallback callback = gLogCallback.load())
        callback(message);
    else
        std::fprintf(stderr, "nrvapi: %s\n", message);
}

} // namespace nrv

namespace {

// The eight functions come from the program's main thread, but nothing stops
// a tool from calling them from several; one lock keeps start and stop whole.
std::mutex gControlMutex;
nrv::Receiver gReceiver;

} // namespace

extern "C" {

int nrvInit(void)
{
    nrv::engineInit();
    gReceiver.resetStatistics();
    return 0;
}

int nrvSetMibDirectory(const char *path)
{
    // Safe while receiving: the engine lock makes the receiver wait for the
    // new modules instead of parsing against a half-built tree.
    nrv::engineLoadMibs(path);
    return 0;
}

int nrvStart(const char *listenAddress, int port)
{
    // From a callback the running receiver cannot be replaced: it is the
    // caller's own thread.
    if (gReceiver.onCallbackThread())
        return -1;
    std::lock_guard<std::mutex> lock(gControlMutex);
    nrv::engineInit();
    return gReceiver.start(listenAddress, port) ? 0 : -1;
}

int nrvStatus(void)
{
    return gReceiver.isReceiving() ? 0 : -1;
}

int nrvInitCallbackTable(TrapCallbackTable *table)
{
    if (!table)
        return -1;
    *table = TrapCallbackTable{};
    return 0;
}

int nrvSetCallbacks(const TrapCallbackTable *table)
{
    gReceiver.setCallbacks(table ? *table : TrapCallbackTable{});
    return 0;
}

int nrvStop(void)
{
    // From a callback: no lock, since the main thread may hold it while it
    // waits for this very thread to end.
    if (gReceiver.onCallbackThread()) {
        gReceiver.stop();
        return 0;
    }
    std::lock_guard<std::mutex> lock(gControlMutex);
    gReceiver.stop(true);
    return 0;
}

int nrvShutdown(void)
{
    if (gReceiver.onCallbackThread()) {
        gReceiver.setCallbacks(TrapCallbackTable{});
        gReceiver.stop();
        return 0;
    }
    std::lock_guard<std::mutex> lock(gControlMutex);
    gReceiver.stop(true);
    gReceiver.setCallbacks(TrapCallbackTable{});
    nrv::engineShutdown();
    return 0;
}

const char *nrvLastError(void)
{
    static thread_local std::string error;
    error = gReceiver.lastError();
    return error.c_str();
}

const char *nrvCallbackSender(void)
{
    return nrv::callbackSender();
}

int nrvSetStateCallback(NrvStateCallback callback)
{
    gReceiver.setStateCallback(callback);
    return 0;
}

int nrvGetStatistics(NrvStatistics *stats)
{
    if (!stats)
        return -1;
    *stats = gReceiver.statistics();
    return 0;
}

int nrvSetLogCallback(NrvLogCallback callback)
{
    nrv::gLogCallback.store(callback);
    return 0;
}

} // extern "C"
