// Kernel objects behind HANDLE values of the Linux build.
#pragma once

#include <string>

#include <windows.h>

namespace winapi_impl {

struct KernelObject {
    virtual ~KernelObject() = default;
};

inline KernelObject* FromHandle(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return static_cast<KernelObject*>(handle);
}

// A file, folder or link opened with CreateFile: its descriptor, and the
// access and sharing it was opened with, against which later opens of the same
// file are checked. Marked for deletion, its name goes when it is closed.
struct FileHandle : KernelObject {
    FileHandle(int fd, std::string hostPath, DWORD access, DWORD share);
    ~FileHandle() override;
    const int fd;
    const std::string hostPath;
    const DWORD access;
    const DWORD share;
    bool deleteOnClose = false;
};

}  // namespace winapi_impl
