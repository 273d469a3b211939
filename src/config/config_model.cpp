#include "config/config_model.h"

std::vector<ModuleConfig>& ProjectConfigList()
{
    static auto* list = new std::vector<ModuleConfig>();
    return *list;
}
