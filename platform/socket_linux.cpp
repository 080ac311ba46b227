#include "platform.h"

#include <sys/socket.h>

namespace Platform {

void enlargeReceiveBuffer(qintptr socket, int bytes)
{
    if (socket < 0)
        return;
    // SO_RCVBUFFORCE passes net.core.rmem_max for a privileged process; otherwise the
    // plain option gets as much as the cap allows.
    if (::setsockopt(int(socket), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(int(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

} // namespace Platform
