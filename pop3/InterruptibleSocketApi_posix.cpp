#include "pop3/InterruptibleSocketApi.h"

#include <sys/socket.h>

void ShutdownSocket(TSocketHandle socket)
{
    ::shutdown(socket, SHUT_RDWR);
}
