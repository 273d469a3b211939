// A device service of our own for the cases the simulated modem cannot stage
// exactly: it records the raw payload of every SetCommand and can deliver the
// completion through the manager's sink before SetCommand returns (from a
// thread of its own), or hold SetCommand until the test lets it go.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <mbnapi.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mbn/mbn_payload.h"

class FakeDeviceService final : public IMbnDeviceService {
public:
    struct Sent {
        ULONG commandId = 0;
        VARTYPE vt = 0;
        UINT dims = 0;
        LONG lowerBound = -1;
        std::vector<uint8_t> bytes;
    };

    // `destroyed` is set when the last reference goes.
    FakeDeviceService(IMbnDeviceServicesEvents* sink, std::shared_ptr<std::atomic<bool>> destroyed)
        : m_sink(sink), m_destroyed(std::move(destroyed))
    {
    }

    // The completion each SetCommand delivers before returning.
    void SetReply(std::vector<uint8_t> reply, HRESULT status = S_OK)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reply = std::move(reply);
        m_status = status;
    }
    // SetCommand blocks (after recording) until Release() of the gate.
    void HoldSetCommand()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = true;
    }
    void LetGo()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = false;
        m_cv.notify_all();
    }
    bool WaitUntilInSetCommand()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(30), [this] { return m_inSetCommand; });
    }
    std::vector<Sent> SentPayloads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent;
    }
    ULONG RefCount() const { return m_refs.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMbnDeviceService)) {
            *object = static_cast<IMbnDeviceService*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --m_refs;
        if (count == 0) {
            *m_destroyed = true;
            delete this;
        }
        return count;
    }

    HRESULT STDMETHODCALLTYPE SetCommand(ULONG commandID, SAFEARRAY* data, ULONG* requestID) override
    {
        Sent sent;
        sent.commandId = commandID;
        SafeArrayGetVartype(data, &sent.vt);
        sent.dims = SafeArrayGetDim(data);
        SafeArrayGetLBound(data, 1, &sent.lowerBound);
        void* raw = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(data, &raw))) {
            const uint8_t* bytes = static_cast<const uint8_t*>(raw);
            sent.bytes.assign(bytes, bytes + data->rgsabound[0].cElements);
            SafeArrayUnaccessData(data);
        }
        std::vector<uint8_t> reply;
        HRESULT status = S_OK;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_sent.push_back(sent);
            m_inSetCommand = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return !m_hold; });
            reply = m_reply;
            status = m_status;
        }
        *requestID = 1;
        // The completion arrives on another thread before the caller can start waiting.
        std::thread completion([&] {
            SAFEARRAY* replyArray = CreateByteArray(reply.data(), reply.size());
            m_sink->OnSetCommandComplete(this, 0, replyArray, status, 1);
            SafeArrayDestroy(replyArray);
        });
        completion.join();
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
    std::shared_ptr<std::atomic<bool>> m_destroyed;
    std::atomic<ULONG> m_refs{0};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Sent> m_sent;
    std::vector<uint8_t> m_reply;
    HRESULT m_status = S_OK;
    bool m_hold = false;
    bool m_inSetCommand = false;
};
