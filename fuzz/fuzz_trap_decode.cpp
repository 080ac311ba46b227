// Feeds arbitrary datagrams to the decoder exactly as the receiver does.
//
// net-snmp itself is not instrumented, so AddressSanitizer cannot see it read
// past the datagram. Each input is therefore copied to end right at an
// inaccessible page: any read beyond its last byte, by anyone, faults.
#include "snmp_engine.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace nrv {
void logMessage(const char *) {}
} // namespace nrv

namespace {

constexpr std::size_t kMaxDatagram = 65536;
unsigned char *gBufferEnd = nullptr;

void prepareGuardedBuffer()
{
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t usable = (kMaxDatagram + page - 1) / page * page;
    void *region = mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED)
        std::abort();
    auto *base = static_cast<unsigned char *>(region);
    if (mprotect(base + usable, page, PROT_NONE) != 0)
        std::abort();
    gBufferEnd = base + usable;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    prepareGuardedBuffer();
    nrv::engineInit();
    const char *mibs = std::getenv("VENTRIX_FUZZ_MIBS");
    nrv::engineLoadMibs(mibs ? mibs : VENTRIX_MIBS_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > kMaxDatagram)
        return -1;
    unsigned char *copy = gBufferEnd - size;
    if (size)
        std::memcpy(copy, data, size);
    nrv::Notification notification;
    nrv::engineDecode(copy, size, "127.0.0.1", notification);
    return 0;
}
