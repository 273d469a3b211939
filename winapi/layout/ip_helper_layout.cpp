// Compile-time checks, built in both builds: the adapter record read by the
// service has the same layout over the simulated laptop as on 64-bit Windows.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstddef>

static_assert(offsetof(IP_ADAPTER_ADDRESSES, Length) == 0, "record length");
static_assert(offsetof(IP_ADAPTER_ADDRESSES, IfIndex) == 4, "interface index");
static_assert(offsetof(IP_ADAPTER_ADDRESSES, Next) == 8, "next record");
static_assert(offsetof(IP_ADAPTER_ADDRESSES, AdapterName) == 16, "adapter name");
static_assert(offsetof(IP_ADAPTER_ADDRESSES, FriendlyName) == 72, "friendly name");
static_assert(offsetof(IP_ADAPTER_ADDRESSES, IfType) == 100, "interface type");
static_assert(offsetof(IP_ADAPTER_ADDRESSES, OperStatus) == 104, "operational status");
static_assert(offsetof(IP_ADAPTER_ADDRESSES, FirstDnsSuffix) == 440, "last field");
static_assert(sizeof(IF_OPER_STATUS) == 4, "32-bit enumeration");
static_assert(IfOperStatusDormant == 5, "dormant");
