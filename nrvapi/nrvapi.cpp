// Placeholder until the net-snmp receiver lands: accepts every call and cannot start.
#include "nrvapi.h"

extern "C" {
int nrvInit(void) { return 0; }
int nrvSetMibDirectory(const char *) { return 0; }
int nrvStart(const char *, int) { return -1; }
int nrvStatus(void) { return -1; }
int nrvInitCallbackTable(TrapCallbackTable *table)
{
    if (table)
        *table = TrapCallbackTable{};
    return 0;
}
int nrvSetCallbacks(const TrapCallbackTable *) { return 0; }
int nrvStop(void) { return 0; }
int nrvShutdown(void) { return 0; }
int nrvGetStatistics(NrvStatistics *stats)
{
    if (stats)
        *stats = NrvStatistics{};
    return 0;
}
const char *nrvLastError(void) { return ""; }
int nrvSetLogCallback(NrvLogCallback) { return 0; }
}
