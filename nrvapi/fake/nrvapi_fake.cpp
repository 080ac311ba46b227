#include "nrvapi_fake.h"

#include <mutex>

namespace {

struct State {
    std::mutex mutex;
    std::vector<std::string> calls;
    TrapCallbackTable table{};
    int startResult = 0;
    std::string startError;
    int confirmOnPoll = 1;
    int polls = 0;
    std::function<void()> shutdownHook;
    NrvStatistics statistics{};
    std::string failure;
    NrvStateCallback stateCallback = nullptr;
    const char *callbackSender = nullptr;
};

State &state()
{
    static State s;
    return s;
}

void record(const std::string &call)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().calls.push_back(call);
}

} // namespace

namespace NrvFake {

void reset()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.table = TrapCallbackTable{};
    s.startResult = 0;
    s.confirmOnPoll = 1;
    s.polls = 0;
    s.shutdownHook = nullptr;
    s.statistics = NrvStatistics{};
    s.failure.clear();
    s.callbackSender = nullptr;
}

void setCallbackSender(const char *sender)
{
    state().callbackSender = sender;
}

void setStartResult(int result, const std::string &error)
{
    state().startResult = result;
    state().startError = error;
}

void setConfirmOnPoll(int n)
{
    state().confirmOnPoll = n;
}

std::vector<std::string> calls()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().calls;
}

int count(const std::string &call)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    int n = 0;
    for (const std::string &c : state().calls)
        n += c == call;
    return n;
}

TrapCallbackTable callbacks()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().table;
}

int polls()
{
    return state().polls;
}

void setStatistics(const NrvStatistics &stats)
{
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        state().statistics = stats;
    }
    if (state().stateCallback)
        state().stateCallback();
}

void failReception(const std::string &why)
{
    state().failure = why;
    if (state().stateCallback)
        state().stateCallback();
}

void setShutdownHook(std::function<void()> hook)
{
    state().shutdownHook = std::move(hook);
}

} // namespace NrvFake

extern "C" {

int nrvInit(void)
{
    record("nrvInit");
    return 0;
}

int nrvSetMibDirectory(const char *path)
{
    record(std::string("nrvSetMibDirectory(") + (path ? path : "") + ")");
    return 0;
}

int nrvStart(const char *listenAddress, int port)
{
    record(std::string("nrvStart(") + (listenAddress ? listenAddress : "") + "," + std::to_string(port) + ")");
    state().polls = 0;
    state().failure.clear();
    return state().startResult;
}

int nrvStatus(void)
{
    record("nrvStatus");
    State &s = state();
    ++s.polls;
    if (!s.failure.empty())
        return -1;
    return (s.confirmOnPoll > 0 && s.polls >= s.confirmOnPoll) ? 0 : -1;
}

int nrvInitCallbackTable(TrapCallbackTable *table)
{
    record("nrvInitCallbackTable");
    if (table)
        *table = TrapCallbackTable{};
    return 0;
}

int nrvSetCallbacks(const TrapCallbackTable *table)
{
    record("nrvSetCallbacks");
    if (table) {
        std::lock_guard<std::mutex> lock(state().mutex);
        state().table = *table;
    }
    return 0;
}

int nrvStop(void)
{
    record("nrvStop");
    return 0;
}

int nrvShutdown(void)
{
    record("nrvShutdown");
    if (state().shutdownHook)
        state().shutdownHook();
    return 0;
}

int nrvGetStatistics(NrvStatistics *stats)
{
    if (!stats)
        return -1;
    std::lock_guard<std::mutex> lock(state().mutex);
    *stats = state().statistics;
    return 0;
}

const char *nrvLastError(void)
{
    if (!state().failure.empty())
        return state().failure.c_str();
    return state().startResult == -1 ? state().startError.c_str() : "";
}

const char *nrvCallbackSender(void)
{
    return state().callbackSender;
}

int nrvSetStateCallback(NrvStateCallback callback)
{
    state().stateCallback = callback;
    return 0;
}

int nrvSetLogCallback(NrvLogCallback)
{
    return 0;
}

} // extern "C"
