// Finding the modem among the machine's network adapters.
#pragma once

#include <string>

namespace discovery {

// The result while the modem's adapter is dormant.
constexpr const char* kDormant = "IfOperStatusDormant";

// The name (interface id) of the first IPv4-bound mobile-broadband adapter
// that is the modem, kDormant when that adapter is dormant, or empty.
std::string GetMbimInterfaceID();

}  // namespace discovery
