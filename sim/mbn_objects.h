// The simulated Mobile Broadband COM objects. Every object remembers the
// generation it was made in; after a machine reset, or once the process has
// left COM, its calls fail with RPC_E_DISCONNECTED. Objects bound to the modem (device services context,
// device service) also remember the modem's presence epoch and fail with
// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_AVAILABLE) once the modem has left.
#pragma once

#include "sim/mbn_hub.h"

namespace sim {

class SimManagerBase;

// What every simulated object keeps: the hub, and the machine generation it
// was made in.
class SimHubObject {
protected:
    explicit SimHubObject(MobileBroadband::Impl& hub) : m_hub(hub), m_generation(hub.generation.load()) {}

    MobileBroadband::Impl& m_hub;
    const uint64_t m_generation;
};

// A connection point of a manager object. It lives inside its container and
// shares the container's reference count, as connection points usually do.
class SimConnectionPoint final : public IConnectionPoint {
public:
    SimConnectionPoint(SimManagerBase& owner, MobileBroadband::EventsInterface which, const IID& iid);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    MobileBroadband::EventsInterface Which() const { return m_which; }
    const IID& Iid() const { return m_iid; }

    struct Connection {
        DWORD cookie;
        IUnknown* sink;  // the sink's events interface, one reference
    };
    // Guarded by the hub's mutex.
    std::vector<Connection> connections;

private:
    SimManagerBase& m_owner;
    const MobileBroadband::EventsInterface m_which;
    const IID m_iid;
};

// The connection-point side shared by the three manager classes.
class SimManagerBase : public SimHubObject {
public:
    SimManagerBase(MobileBroadband::Impl& hub, std::vector<std::pair<MobileBroadband::EventsInterface, IID>> points);
    virtual ~SimManagerBase();
    virtual IConnectionPointContainer* Container() = 0;

    MobileBroadband::Impl& Hub() { return m_hub; }
    uint64_t Generation() const { return m_generation; }
    std::vector<std::unique_ptr<SimConnectionPoint>>& Points() { return m_points; }
    // Releases every advised sink (the hub's mutex must not be held).
    void DropConnections();
    // Under the hub's mutex: forgets every connection, adding its sink (and
    // the reference it holds) to `sinks`.
    void TakeSinksLocked(std::vector<IUnknown*>& sinks);

protected:
    HRESULT FindPoint(REFIID riid, IConnectionPoint** ppCP);

    std::vector<std::unique_ptr<SimConnectionPoint>> m_points;
};

IUnknown* NewInterfaceManager(MobileBroadband::Impl& hub);
IUnknown* NewConnectionManager(MobileBroadband::Impl& hub);
IUnknown* NewDeviceServicesManager(MobileBroadband::Impl& hub);
IMbnInterface* NewInterface(MobileBroadband::Impl& hub, const std::string& interfaceId);
IMbnConnection* NewConnection(MobileBroadband::Impl& hub, const std::string& interfaceId);
IMbnDeviceService* NewDeviceService(MobileBroadband::Impl& hub, const std::string& interfaceId, uint64_t epoch);

// Turns the events-interface pointer a sink's QueryInterface gave into its IUnknown.
IUnknown* EventsToUnknown(MobileBroadband::EventsInterface which, void* events);

}  // namespace sim
