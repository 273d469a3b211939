// The one place where the Windows build and the Linux build differ inside src/.
#pragma once

#include <string>

#ifdef _WIN32
#define HALVEX_PRINTF_FORMAT(fmtIndex, argIndex) __attribute__((format(__MINGW_PRINTF_FORMAT, fmtIndex, argIndex)))
#else
#include <halvex_native_path.h>
#define HALVEX_PRINTF_FORMAT(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))
#endif

// The path to hand to a library that opens files itself (spdlog, tinyxml2):
// the Windows path as it is on Windows, its place under the simulated laptop's
// file-system root on Linux.
inline std::string NativePath(const std::string& windowsPath)
{
#ifdef _WIN32
    return windowsPath;
#else
    return HalvexNativePath(windowsPath);
#endif
}
