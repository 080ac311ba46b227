#pragma once

// A trap library stand-in for tests of the code that drives the library: the test
// decides what start and status return and reads back every call made.

#include "nrvapi.h"

#include <functional>
#include <string>
#include <vector>

namespace NrvFake {

// Forgets every recorded call and restores the defaults (start succeeds, status confirms
// on the first poll).
void reset();
// What nrvStart returns, and then nrvLastError.
void setStartResult(int result, const std::string &error = "Address already in use");
// nrvStatus returns -1 for the first (n - 1) polls after each start and 0 from the n-th on;
// n = 0 means never.
void setConfirmOnPoll(int n);
// Every call in order, as "name" or "name(args)".
std::vector<std::string> calls();
// How many recorded calls read exactly so.
int count(const std::string &call);
// The callbacks last registered with nrvSetCallbacks.
TrapCallbackTable callbacks();
// Polls since the last start.
int polls();
// What nrvGetStatistics reports (all zero after reset()); tells the state callback.
void setStatistics(const NrvStatistics &stats);
// Reception ends on an error: nrvStatus() returns -1 and nrvLastError() says why until the
// next start; tells the state callback.
void failReception(const std::string &why);
// What nrvCallbackSender returns (null after reset(), as outside a callback).
void setCallbackSender(const char *sender);
// Runs inside nrvShutdown, so a test can look at the world as the library sees it then.
void setShutdownHook(std::function<void()> hook);

} // namespace NrvFake
