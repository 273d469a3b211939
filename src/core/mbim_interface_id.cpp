#include "core/state/halvex_service.h"
#include "discovery/mbim_interface.h"

std::string CHalvexService::GetMbimInterfaceID()
{
    return discovery::GetMbimInterfaceID();
}
