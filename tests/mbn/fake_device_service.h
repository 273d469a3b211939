// A device service of our own for the cases the simulated modem cannot stage
// exactly: SetCommand delivers its completion through the manager's sink
// before it returns, and can be held inside until the test lets it go.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <mbnapi.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "mbn/mbn_payload.h"

class FakeDeviceService final : public IMbnDeviceService {
public:
    FakeDeviceService(IMbnDeviceServicesEvents* sink, std::atomic<bool>& destroyed)
        : m_sink(sink), m_destroyed(destroyed)
    {
    }

    // The completion each SetCommand delivers before returning.
    void SetReply(std::vector<uint8_t> reply, HRESULT status = S_OK)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reply = std::move(reply);
        m_status = status;
    }
    // The next SetCommand waits inside until LetGo().
    void Hold()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = true;
        m_inSetCommand = false;
    }
    void LetGo()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = false;
        m_cv.notify_all();
    }
    void WaitUntilInSetCommand()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_inSetCommand; });
    }
    ULONG RefCount() const { return m_refs.load(); }

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
        std::unique_lock<std::mutex> lock(m_mutex);
        m_inSetCommand = true;
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return !m_hold; });
        SAFEARRAY* reply = CreateByteArray(m_reply.data(), m_reply.size());
        const HRESULT status = m_status;
        lock.unlock();
        *requestID = 1;
        m_sink->OnSetCommandComplete(this, commandID, reply, status, 1);
        SafeArrayDestroy(reply);
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
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<uint8_t> m_reply;
    HRESULT m_status = S_OK;
    bool m_hold = false;
    bool m_inSetCommand = false;
};
