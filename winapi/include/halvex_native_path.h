// Linux build only: where a Windows path of the simulated laptop lives on the host.
#pragma once

#include <string>

std::string HalvexNativePath(const std::string& windowsPath);
