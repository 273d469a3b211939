// The record an event sink hands to its observers. It lives on the sink
// method's stack and is valid only during MbnSubject::Notify; observers copy
// what they keep. Its pointers borrow the objects the platform passed in.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

// Which events interface raised the record.
constexpr uint32_t MBN_EVENT_SOURCE_CONNECTION = 1;
constexpr uint32_t MBN_EVENT_SOURCE_INTERFACE = 4;
constexpr uint32_t MBN_EVENT_SOURCE_INTERFACE_MANAGER = 5;
constexpr uint32_t MBN_EVENT_SOURCE_REGISTRATION = 9;
constexpr uint32_t MBN_EVENT_SOURCE_DEVICE_SERVICES = 13;

// Device-service events (source MBN_EVENT_SOURCE_DEVICE_SERVICES).
constexpr uint32_t DS_EVENT_OPEN_COMMAND_SESSION_COMPLETE = 0;
constexpr uint32_t DS_EVENT_CLOSE_COMMAND_SESSION_COMPLETE = 1;
constexpr uint32_t DS_EVENT_SET_COMMAND_COMPLETE = 2;
constexpr uint32_t DS_EVENT_QUERY_COMMAND_COMPLETE = 3;
constexpr uint32_t DS_EVENT_NOTIFICATION = 4;
constexpr uint32_t DS_EVENT_OPEN_DATA_SESSION_COMPLETE = 5;
constexpr uint32_t DS_EVENT_CLOSE_DATA_SESSION_COMPLETE = 6;
constexpr uint32_t DS_EVENT_WRITE_DATA_COMPLETE = 7;
constexpr uint32_t DS_EVENT_READ_DATA = 8;
constexpr uint32_t DS_EVENT_INTERFACE_STATE_CHANGE = 9;

struct MbnEventInfo {
    uint32_t source = 0;
    uint32_t service_event = 0;
    // The IMbnInterface, IMbnConnection, IMbnRegistration or IMbnDeviceService
    // of the event; not reference-counted.
    IUnknown* object = nullptr;
    std::string interface_id;
    uint32_t interface_state = 0;
    uint32_t event_index = 0;
    SAFEARRAY* data = nullptr;  // not owned
    uint32_t request_id = 0;
    uint32_t event_id = 0;
    HRESULT status = 0;
};
