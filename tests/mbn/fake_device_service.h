// A device service for what the simulated modem cannot stage exactly: SetCommand
// runs the test's `inside` hook, then delivers its completion through the
// manager's sink, all before it returns.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <mbnapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "mbn/mbn_payload.h"

class FakeDeviceService final : public IMbnDeviceService {
public:
    FakeDeviceService(IMbnDeviceServicesEvents* sink, std::atomic<bool>& destroyed) : m_sink(sink), m_destroyed(destroyed)
    {
    }

    std::vector<uint8_t> reply;  // the completion's data and status
    HRESULT status = S_OK;
    std::function<void()> inside;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --m_refs;
        if (count == 0) {
            m_destroyed = true;
            delete this;
        }
        return count;
    }
    HRESULT STDMETHODCALLTYPE SetCommand(ULONG commandID, SAFEARRAY*, ULONG* requestID) override
    {
        if (inside) {
            inside();
        }
        SAFEARRAY* data = CreateByteArray(reply.data(), reply.size());
        *requestID = 1;
        m_sink->OnSetCommandComplete(this, commandID, data, status, 1);
        SafeArrayDestroy(data);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QuerySupportedCommands(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenCommandSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseCommandSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryCommand(ULONG, SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenDataSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseDataSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteData(SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DeviceServiceID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsCommandSessionOpen(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsDataSessionOpen(BOOL*) override { return E_NOTIMPL; }

private:
    ~FakeDeviceService() = default;

    IMbnDeviceServicesEvents* m_sink;
    std::atomic<bool>& m_destroyed;
    std::atomic<ULONG> m_refs{0};
};
