// The Mobile Broadband API as this service uses it: class ids, interface ids,
// enumerations, structures and interfaces with every method in its published
// slot order (a wrong order would call the wrong method through the vtable).
// The same declarations serve the Windows build and the simulated API of the
// Linux build. Ids are internal-linkage constants, compared by value.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

// ---- class and interface ids ----
constexpr CLSID CLSID_MbnInterfaceManager = {0xBDFEE05B, 0x4418, 0x11DD, {0x90, 0xED, 0x00, 0x1C, 0x25, 0x7C, 0xCF, 0xF1}};
constexpr CLSID CLSID_MbnConnectionManager = {0xBDFEE05C, 0x4418, 0x11DD, {0x90, 0xED, 0x00, 0x1C, 0x25, 0x7C, 0xCF, 0xF1}};
constexpr CLSID CLSID_MbnDeviceServicesManager = {0x2269DAA3, 0x2A9F, 0x4165, {0xA5, 0x01, 0xCE, 0x00, 0xA6, 0xF7, 0xA7, 0x5B}};
constexpr IID IID_IMbnInterfaceManager = {0xDCBBBAB6, 0x201B, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnConnectionManager = {0xDCBBBAB6, 0x201D, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnDeviceServicesManager = {0x20A26258, 0x6811, 0x4478, {0xAC, 0x1D, 0x13, 0x32, 0x4E, 0x45, 0xE4, 0x1C}};
constexpr IID IID_IMbnDeviceServicesContext = {0xFC5AC347, 0x1592, 0x4068, {0x80, 0xBB, 0x6A, 0x57, 0x58, 0x01, 0x50, 0xD8}};
constexpr IID IID_IMbnDeviceService = {0xB3BB9A71, 0xDC70, 0x4BE9, {0xA4, 0xDA, 0x78, 0x86, 0xAE, 0x8B, 0x19, 0x1B}};
constexpr IID IID_IMbnInterface = {0xDCBBBAB6, 0x2001, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnConnection = {0xDCBBBAB6, 0x200D, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnRegistration = {0xDCBBBAB6, 0x2009, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnSubscriberInformation = {0x459ECC43, 0xBCF5, 0x11DC, {0xA8, 0xA8, 0x00, 0x13, 0x21, 0xF1, 0x40, 0x5F}};
constexpr IID IID_IMbnInterfaceEvents = {0xDCBBBAB6, 0x2002, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnInterfaceManagerEvents = {0xDCBBBAB6, 0x201C, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnConnectionEvents = {0xDCBBBAB6, 0x200E, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnRegistrationEvents = {0xDCBBBAB6, 0x200A, 0x4BBB, {0xAA, 0xEE, 0x33, 0x8E, 0x36, 0x8A, 0xF6, 0xFA}};
constexpr IID IID_IMbnDeviceServicesEvents = {0x0A900C19, 0x6824, 0x4E97, {0xB7, 0x6E, 0xCF, 0x23, 0x9D, 0x0C, 0xA6, 0x42}};

// ---- enumerations (32-bit) ----
typedef enum MBN_READY_STATE {
    MBN_READY_STATE_OFF = 0,
    MBN_READY_STATE_INITIALIZED = 1,
    MBN_READY_STATE_SIM_NOT_INSERTED = 2,
    MBN_READY_STATE_BAD_SIM = 3,
    MBN_READY_STATE_FAILURE = 4,
    MBN_READY_STATE_NOT_ACTIVATED = 5,
    MBN_READY_STATE_DEVICE_LOCKED = 6,
    MBN_READY_STATE_DEVICE_BLOCKED = 7,
    MBN_READY_STATE_NO_ESIM_PROFILE = 8,
} MBN_READY_STATE;

typedef enum MBN_REGISTER_STATE {
    MBN_REGISTER_STATE_NONE = 0,
    MBN_REGISTER_STATE_DEREGISTERED = 1,
    MBN_REGISTER_STATE_SEARCHING = 2,
    MBN_REGISTER_STATE_HOME = 3,
    MBN_REGISTER_STATE_ROAMING = 4,
    MBN_REGISTER_STATE_PARTNER = 5,
    MBN_REGISTER_STATE_DENIED = 6,
} MBN_REGISTER_STATE;

typedef enum MBN_REGISTER_MODE {
    MBN_REGISTER_MODE_NONE = 0,
    MBN_REGISTER_MODE_AUTOMATIC = 1,
    MBN_REGISTER_MODE_MANUAL = 2,
} MBN_REGISTER_MODE;

typedef enum MBN_ACTIVATION_STATE {
    MBN_ACTIVATION_STATE_NONE = 0,
    MBN_ACTIVATION_STATE_ACTIVATED = 1,
    MBN_ACTIVATION_STATE_ACTIVATING = 2,
    MBN_ACTIVATION_STATE_DEACTIVATED = 3,
    MBN_ACTIVATION_STATE_DEACTIVATING = 4,
} MBN_ACTIVATION_STATE;

typedef enum MBN_CONNECTION_MODE {
    MBN_CONNECTION_MODE_PROFILE = 0,
    MBN_CONNECTION_MODE_TMP_PROFILE = 1,
} MBN_CONNECTION_MODE;

typedef enum MBN_VOICE_CALL_STATE {
    MBN_VOICE_CALL_STATE_NONE = 0,
    MBN_VOICE_CALL_STATE_IN_PROGRESS = 1,
    MBN_VOICE_CALL_STATE_HANGUP = 2,
} MBN_VOICE_CALL_STATE;

typedef enum MBN_DEVICE_SERVICES_INTERFACE_STATE {
    MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL = 0,
    MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL = 1,
} MBN_DEVICE_SERVICES_INTERFACE_STATE;

typedef enum MBN_CELLULAR_CLASS {
    MBN_CELLULAR_CLASS_NONE = 0,
    MBN_CELLULAR_CLASS_GSM = 1,
    MBN_CELLULAR_CLASS_CDMA = 2,
} MBN_CELLULAR_CLASS;

typedef enum MBN_VOICE_CLASS {
    MBN_VOICE_CLASS_NONE = 0,
    MBN_VOICE_CLASS_NO_VOICE = 1,
    MBN_VOICE_CLASS_SEPARATE_VOICE_DATA = 2,
    MBN_VOICE_CLASS_SIMULTANEOUS_VOICE_DATA = 3,
} MBN_VOICE_CLASS;

// ---- structures ----
typedef struct MBN_PROVIDER {
    BSTR providerID;
    ULONG providerState;
    BSTR providerName;
    ULONG dataClass;
} MBN_PROVIDER;

typedef struct MBN_INTERFACE_CAPS {
    MBN_CELLULAR_CLASS cellularClass;
    MBN_VOICE_CLASS voiceClass;
    ULONG dataClass;
    BSTR customDataClass;
    ULONG gsmBandClass;
    ULONG cdmaBandClass;
    BSTR customBandClass;
    ULONG smsCaps;
    ULONG controlCaps;
    BSTR deviceID;
    BSTR manufacturer;
    BSTR model;
    BSTR firmwareInfo;
} MBN_INTERFACE_CAPS;

// ---- interfaces ----
struct IMbnInterface;
struct IMbnConnection;
struct IMbnRegistration;
struct IMbnSubscriberInformation;
struct IMbnDeviceService;
struct IMbnDeviceServicesContext;

struct IMbnSubscriberInformation : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_SubscriberID(BSTR* SubscriberID) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SimIccID(BSTR* SimIccID) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TelephoneNumbers(SAFEARRAY** TelephoneNumbers) = 0;
};

struct IMbnInterface : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* InterfaceID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterfaceCapability(MBN_INTERFACE_CAPS* interfaceCaps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubscriberInformation(IMbnSubscriberInformation** subscriberInformation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReadyState(MBN_READY_STATE* readyState) = 0;
    virtual HRESULT STDMETHODCALLTYPE InEmergencyMode(VARIANT_BOOL* emergencyMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHomeProvider(MBN_PROVIDER* homeProvider) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreferredProviders(SAFEARRAY** preferredProviders) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreferredProviders(SAFEARRAY* preferredProviders, ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVisibleProviders(ULONG* age, SAFEARRAY** visibleProviders) = 0;
    virtual HRESULT STDMETHODCALLTYPE ScanNetwork(ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnection(IMbnConnection** mbnConnection) = 0;
};

struct IMbnConnection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionID(BSTR* ConnectionID) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* InterfaceID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Connect(MBN_CONNECTION_MODE connectionMode, LPCWSTR strProfile, ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect(ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectionState(MBN_ACTIVATION_STATE* ConnectionState, BSTR* ProfileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVoiceCallState(MBN_VOICE_CALL_STATE* voiceCallState) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetActivationNetworkError(ULONG* networkError) = 0;
};

struct IMbnRegistration : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetRegisterState(MBN_REGISTER_STATE* registerState) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRegisterMode(MBN_REGISTER_MODE* registerMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProviderID(BSTR* providerID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProviderName(BSTR* providerName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRoamingText(BSTR* roamingText) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAvailableDataClasses(ULONG* availableDataClasses) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentDataClass(ULONG* currentDataClass) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRegistrationNetworkError(ULONG* registrationNetworkError) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPacketAttachNetworkError(ULONG* packetAttachNetworkError) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRegisterMode(MBN_REGISTER_MODE registerMode, LPCWSTR providerID, ULONG dataClass,
                                                      ULONG* requestID) = 0;
};

struct IMbnInterfaceManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInterface(LPCWSTR interfaceID, IMbnInterface** mbnInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterfaces(SAFEARRAY** mbnInterfaces) = 0;
};

struct IMbnConnectionManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConnection(LPCWSTR connectionID, IMbnConnection** mbnConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnections(SAFEARRAY** mbnConnections) = 0;
};

struct IMbnDeviceService : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QuerySupportedCommands(ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenCommandSession(ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloseCommandSession(ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCommand(ULONG commandID, SAFEARRAY* deviceServiceData, ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryCommand(ULONG commandID, SAFEARRAY* deviceServiceData, ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenDataSession(ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloseDataSession(ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteData(SAFEARRAY* deviceServiceData, ULONG* requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* InterfaceID) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DeviceServiceID(BSTR* DeviceServiceID) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsCommandSessionOpen(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsDataSessionOpen(BOOL* value) = 0;
};

struct IMbnDeviceServicesContext : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumerateDeviceServices(SAFEARRAY** deviceServices) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceService(BSTR deviceServiceID, IMbnDeviceService** mbnDeviceService) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxCommandSize(ULONG* maxCommandSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxDataSize(ULONG* maxDataSize) = 0;
};

struct IMbnDeviceServicesManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDeviceServicesContext(BSTR networkInterfaceID,
                                                               IMbnDeviceServicesContext** mbnDevicesContext) = 0;
};

// ---- events interfaces (implemented by the service's sinks) ----
struct IMbnInterfaceEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnInterfaceCapabilityAvailable(IMbnInterface* newInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSubscriberInformationChange(IMbnInterface* mbnInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadyStateChange(IMbnInterface* mbnInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnEmergencyModeChange(IMbnInterface* mbnInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnHomeProviderAvailable(IMbnInterface* mbnInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnPreferredProvidersChange(IMbnInterface* mbnInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSetPreferredProvidersComplete(IMbnInterface* mbnInterface, ULONG requestID,
                                                                      HRESULT status) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnScanNetworkComplete(IMbnInterface* mbnInterface, ULONG requestID,
                                                            HRESULT status) = 0;
};

struct IMbnInterfaceManagerEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnInterfaceArrival(IMbnInterface* newInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnInterfaceRemoval(IMbnInterface* oldInterface) = 0;
};

struct IMbnConnectionEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnConnectComplete(IMbnConnection* newConnection, ULONG requestID,
                                                        HRESULT status) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnectComplete(IMbnConnection* newConnection, ULONG requestID,
                                                           HRESULT status) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnConnectStateChange(IMbnConnection* newConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnVoiceCallStateChange(IMbnConnection* newConnection) = 0;
};

struct IMbnRegistrationEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnRegisterModeAvailable(IMbnRegistration* newInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnRegisterStateChange(IMbnRegistration* newInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnPacketServiceStateChange(IMbnRegistration* newInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSetRegisterModeComplete(IMbnRegistration* newInterface, ULONG requestID,
                                                                HRESULT status) = 0;
};

// Note the argument order of the completions: the status comes before the request id.
struct IMbnDeviceServicesEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnQuerySupportedCommandsComplete(IMbnDeviceService* deviceService,
                                                                       SAFEARRAY* commandIDList, HRESULT status,
                                                                       ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnOpenCommandSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                                   ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnCloseCommandSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                                    ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSetCommandComplete(IMbnDeviceService* deviceService, ULONG responseID,
                                                           SAFEARRAY* deviceServiceData, HRESULT status,
                                                           ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnQueryCommandComplete(IMbnDeviceService* deviceService, ULONG responseID,
                                                             SAFEARRAY* deviceServiceData, HRESULT status,
                                                             ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnEventNotification(IMbnDeviceService* deviceService, ULONG eventID,
                                                          SAFEARRAY* deviceServiceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnOpenDataSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                                ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnCloseDataSessionComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                                 ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnWriteDataComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                          ULONG requestID) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadData(IMbnDeviceService* deviceService, SAFEARRAY* deviceServiceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnInterfaceStateChange(BSTR interfaceID,
                                                             MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange) = 0;
};
