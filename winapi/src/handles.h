// Kernel objects behind HANDLE values of the Linux build.
#pragma once

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

}  // namespace winapi_impl
