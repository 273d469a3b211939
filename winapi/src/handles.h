// Kernel objects behind HANDLE values of the Linux build.
#pragma once

#include <string>

#include <windows.h>

namespace winapi_impl {

// Every object is in the process's handle table from its creation until its
// handle is closed.
struct KernelObject {
    KernelObject();
    virtual ~KernelObject();
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
};

// The object behind an open handle; null for a closed or unknown handle (the
// callers then fail with ERROR_INVALID_HANDLE, as Windows does).
KernelObject* FromHandle(HANDLE handle);

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
