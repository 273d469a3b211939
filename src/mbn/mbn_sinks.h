// The five events interfaces the service implements. Each sink logs what it
// receives, packs the event into an MbnEventInfo and hands it to its observers
// (the manager). The platform calls them on its own threads, possibly several
// at once.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <mbnapi.h>

#include <atomic>
#include <cstdint>

#include "mbn/mbn_subject.h"

class CInterfaceEventsSink final : public IMbnInterfaceEvents, public MbnSubject {
public:
    CInterfaceEventsSink() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnInterfaceCapabilityAvailable(IMbnInterface* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnSubscriberInformationChange(IMbnInterface* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnReadyStateChange(IMbnInterface* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnEmergencyModeChange(IMbnInterface* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnHomeProviderAvailable(IMbnInterface* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnPreferredProvidersChange(IMbnInterface* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnSetPreferredProvidersComplete(IMbnInterface* newInterface, ULONG requestID,
                                                              HRESULT status) override;
    HRESULT STDMETHODCALLTYPE OnScanNetworkComplete(IMbnInterface* newInterface, ULONG requestID,
                                                    HRESULT status) override;

private:
    ~CInterfaceEventsSink() override = default;
    HRESULT Forward(IMbnInterface* newInterface, uint32_t eventIndex);

    std::atomic<uint32_t> m_ref_count{0};
};

class CInterfaceManagerEventsSink final : public IMbnInterfaceManagerEvents, public MbnSubject {
public:
    CInterfaceManagerEventsSink() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnInterfaceArrival(IMbnInterface* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnInterfaceRemoval(IMbnInterface* oldInterface) override;

private:
    ~CInterfaceManagerEventsSink() override = default;
    HRESULT Forward(IMbnInterface* mbnInterface, uint32_t eventIndex);

    std::atomic<uint32_t> m_ref_count{0};
};

class CDeviceServicesSink final : public IMbnDeviceServicesEvents, public MbnSubject {
public:
    CDeviceServicesSink() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnQuerySupportedCommandsComplete(IMbnDeviceService* deviceService,
                                                               SAFEARRAY* commandIDList, HRESULT status,
                                                               ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnOpenCommandSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                           ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnCloseCommandSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                            ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnSetCommandComplete(IMbnDeviceService* deviceService, ULONG responseID,
                                                   SAFEARRAY* deviceServiceData, HRESULT status,
                                                   ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnQueryCommandComplete(IMbnDeviceService* deviceService, ULONG responseID,
                                                     SAFEARRAY* deviceServiceData, HRESULT status,
                                                     ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnEventNotification(IMbnDeviceService* deviceService, ULONG eventID,
                                                  SAFEARRAY* deviceServiceData) override;
    HRESULT STDMETHODCALLTYPE OnOpenDataSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                        ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnCloseDataSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                         ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnWriteDataComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                  ULONG requestID) override;
    HRESULT STDMETHODCALLTYPE OnReadData(IMbnDeviceService* deviceService, SAFEARRAY* deviceServiceData) override;
    HRESULT STDMETHODCALLTYPE OnInterfaceStateChange(BSTR interfaceID,
                                                     MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange) override;

private:
    ~CDeviceServicesSink() override = default;

    std::atomic<uint32_t> m_ref_count{0};
};

class CConnectionEventsSink final : public IMbnConnectionEvents, public MbnSubject {
public:
    CConnectionEventsSink() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnConnectComplete(IMbnConnection* newConnection, ULONG requestID,
                                                HRESULT status) override;
    HRESULT STDMETHODCALLTYPE OnDisconnectComplete(IMbnConnection* newConnection, ULONG requestID,
                                                   HRESULT status) override;
    HRESULT STDMETHODCALLTYPE OnConnectStateChange(IMbnConnection* newConnection) override;
    HRESULT STDMETHODCALLTYPE OnVoiceCallStateChange(IMbnConnection* newConnection) override;

private:
    ~CConnectionEventsSink() override = default;

    std::atomic<uint32_t> m_ref_count{0};
};

class CRegistrationEventsSink final : public IMbnRegistrationEvents, public MbnSubject {
public:
    CRegistrationEventsSink() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnRegisterModeAvailable(IMbnRegistration* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnRegisterStateChange(IMbnRegistration* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnPacketServiceStateChange(IMbnRegistration* newInterface) override;
    HRESULT STDMETHODCALLTYPE OnSetRegisterModeComplete(IMbnRegistration* newInterface, ULONG requestID,
                                                        HRESULT status) override;

private:
    ~CRegistrationEventsSink() override = default;
    HRESULT Forward(IMbnRegistration* registration, uint32_t eventIndex);

    std::atomic<uint32_t> m_ref_count{0};
};
