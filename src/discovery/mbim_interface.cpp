#include "discovery/mbim_interface.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "discovery/device_lookup.h"
#include "logging/log_helper.h"

// Mobile broadband; MinGW-w64's ipifcons.h lacks the name.
#ifndef IF_TYPE_WWANPP
#define IF_TYPE_WWANPP 243
#endif

namespace discovery {

std::string GetMbimInterfaceID()
{
    LogScope scope("CHalvexService::GetMbimInterfaceID");
    ULONG size = 0;
    GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, nullptr, &size);
    // The records hold pointers: the buffer is allocated with their alignment.
    std::vector<ULONGLONG> buffer((size + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
    auto* adapters = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data());
    if (GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST, nullptr, adapters, &size) != ERROR_SUCCESS) {
        return std::string();
    }
    for (PIP_ADAPTER_ADDRESSES adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
        if (adapter->IfType != IF_TYPE_WWANPP || !CommonUtil::IsVarnickMbnDevcie(adapter->AdapterName)) {
            continue;
        }
        LogHelper::Log(LOG_LEVEL_INFO, "CHalvexService::GetMbimInterfaceID", "find TK42-N. interface id is %s",
                       adapter->AdapterName);
        LogHelper::Log(LOG_LEVEL_INFO, "CHalvexService::GetMbimInterfaceID", "mbim oper status = %d",
                       static_cast<int>(adapter->OperStatus));
        return adapter->OperStatus == IfOperStatusDormant ? kDormant : adapter->AdapterName;
    }
    return std::string();
}

}  // namespace discovery
