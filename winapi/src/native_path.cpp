#include <halvex_native_path.h>

#include "sim/machine.h"

std::string HalvexNativePath(const std::string& windowsPath)
{
    return sim::Machine::Get().fileSystem().LibraryPath(windowsPath);
}
