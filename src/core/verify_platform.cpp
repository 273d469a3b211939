#include "config/config_model.h"
#include "core/state/halvex_service.h"
#include "platform/verify_platform.h"

bool CHalvexService::VerifyPlatform(ModuleConfig& config)
{
    return platform::VerifyPlatform(config);
}
