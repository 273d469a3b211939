// The IUnknown part shared by the event sinks.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace mbnsink {

inline bool SameIid(REFIID a, const IID& b)
{
    return std::memcmp(&a, &b, sizeof(IID)) == 0;
}

// Hands out the sink's events interface for IID_IUnknown and for the sink's
// own events interface id; anything else gets E_NOINTERFACE and a null pointer.
template <class Events, class Sink>
HRESULT QueryInterface(Sink* sink, REFIID riid, const IID& eventsIid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    if (SameIid(riid, IID_IUnknown) || SameIid(riid, eventsIid)) {
        *object = static_cast<Events*>(sink);
        sink->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

inline ULONG AddRef(std::atomic<uint32_t>& count)
{
    return static_cast<ULONG>(count.fetch_add(1, std::memory_order_relaxed) + 1);
}

// The new count; the caller destroys the sink when it is 0.
inline ULONG Release(std::atomic<uint32_t>& count)
{
    return static_cast<ULONG>(count.fetch_sub(1, std::memory_order_acq_rel) - 1);
}

}  // namespace mbnsink
