#include "pop3/InterruptibleWinsock.h"

#include <sys/socket.h>

void ShutdownSocket(TSocketHandle socket)
{
    ::shutdown(socket, SHUT_RDWR);
}
