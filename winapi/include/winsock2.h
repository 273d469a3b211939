// Address families and socket addresses, as far as the records of IP Helper
// need them.
#pragma once

#include "windows.h"

#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23

typedef struct _SOCKADDR {
    USHORT sa_family;
    CHAR sa_data[14];
} SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

typedef struct _SOCKET_ADDRESS {
    LPSOCKADDR lpSockaddr;
    INT iSockaddrLength;
} SOCKET_ADDRESS, *PSOCKET_ADDRESS;
