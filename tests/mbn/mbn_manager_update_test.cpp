#include "mbn/mbn_payload.h"
#include "mbn_fixture.h"
#include "sim/machine.h"

namespace {

const char* const kOtherId = "{0D1E2F30-4A5B-4C6D-8E9F-A0B1C2D3E4F5}";

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

MbnEventInfo DeviceServiceRecord(uint32_t serviceEvent)
{
    MbnEventInfo info;
    info.source = MBN_EVENT_SOURCE_DEVICE_SERVICES;
    info.service_event = serviceEvent;
    return info;
}

}  // namespace

using ManagerUpdate = MbnTest;

TEST_F(ManagerUpdate, CapableInterfaceArrivalAndRemovalFollowTheOpenedInterface)
{
    OpenModem();
    const std::string id = modemId();

    mbn().RaiseCapableInterfaceRemoval(kOtherId);
    mbn().WaitIdle();
    EXPECT_TRUE(TakeTasks().empty());
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    // Ids compare with case.
    mbn().RaiseCapableInterfaceRemoval(Lower(id));
    mbn().WaitIdle();
    EXPECT_TRUE(TakeTasks().empty());

    mbn().RaiseCapableInterfaceRemoval();
    mbn().WaitIdle();
    EXPECT_TRUE(service()->m_bDeviceRemoved);
    EXPECT_EQ(TakeTasks(), std::vector<int>{TASK_ID_SUPRISE_REMOVE});

    // Any capable interface's arrival clears the flag and starts a bring-up.
    mbn().RaiseCapableInterfaceArrival(kOtherId);
    mbn().WaitIdle();
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    EXPECT_EQ(TakeTasks(), std::vector<int>{TASK_ID_DEFAULT});

    // Other interface states are ignored.
    MbnEventInfo odd = DeviceServiceRecord(DS_EVENT_INTERFACE_STATE_CHANGE);
    odd.interface_id = id;
    odd.interface_state = 2;
    manager()->update(nullptr, &odd);
    EXPECT_TRUE(TakeTasks().empty());

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL"), 3u);
    EXPECT_EQ(CountOf(lines, std::string("i :   ") + kOtherId + " capable interface removed."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   " + Lower(id) + " capable interface removed."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " capable interface removed."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " current"), 3u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " capable interface removed. Stop any action."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL"), 1u);
}

TEST_F(ManagerUpdate, InterfaceManagerArrivalAndRemoval)
{
    OpenModem();
    const std::string id = modemId();
    service()->m_bDeviceRemoved = true;

    // Another interface arrives: a bring-up, but the flag stays.
    mbn().SetInterfaceId(kOtherId);
    mbn().RaiseInterfaceArrival();
    mbn().WaitIdle();
    EXPECT_TRUE(service()->m_bDeviceRemoved);
    EXPECT_EQ(TakeTasks(), std::vector<int>{TASK_ID_DEFAULT});
    // Another interface leaves: nothing.
    mbn().RaiseInterfaceRemoval();
    mbn().WaitIdle();
    EXPECT_TRUE(TakeTasks().empty());

    mbn().SetInterfaceId(id);
    mbn().RaiseInterfaceArrival();
    mbn().WaitIdle();
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    EXPECT_EQ(TakeTasks(), std::vector<int>{TASK_ID_DEFAULT});

    mbn().RaiseInterfaceRemoval();
    mbn().WaitIdle();
    EXPECT_TRUE(service()->m_bDeviceRemoved);
    EXPECT_EQ(TakeTasks(), std::vector<int>{TASK_ID_SUPRISE_REMOVE});

    // An event whose interface cannot be read posts nothing.
    MbnEventInfo arrival;
    arrival.source = MBN_EVENT_SOURCE_INTERFACE_MANAGER;
    arrival.event_index = 0;
    manager()->update(nullptr, &arrival);
    arrival.event_index = 1;
    manager()->update(nullptr, &arrival);
    EXPECT_TRUE(TakeTasks().empty());
    EXPECT_TRUE(service()->m_bDeviceRemoved);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   interface arrival."), 3u);
    EXPECT_EQ(CountOf(lines, std::string("i :   ") + kOtherId + " arrival."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " arrival."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   interface removal."), 3u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " interface removed. Stop any action."), 1u);
}

TEST_F(ManagerUpdate, CompletionsWithoutAWaiterAndQueryCompletions)
{
    // A set completion nobody waits for still stores its reply.
    SAFEARRAY* reply = CreateByteArray(reinterpret_cast<const uint8_t*>("\0\0\0\0OK"), 6);
    MbnEventInfo set = DeviceServiceRecord(DS_EVENT_SET_COMMAND_COMPLETE);
    set.data = reply;
    manager()->update(nullptr, &set);
    EXPECT_EQ(manager()->AtResponse(), "OK");
    set.status = static_cast<HRESULT>(0x80004005u);
    manager()->update(nullptr, &set);
    EXPECT_EQ(manager()->AtResponse(), "OK");
    SafeArrayDestroy(reply);

    const uint8_t mode[4] = {1, 0, 0, 0};
    SAFEARRAY* cfun = CreateByteArray(mode, sizeof(mode));
    const uint8_t shortBytes[2] = {1, 0};
    SAFEARRAY* tooShort = CreateByteArray(shortBytes, sizeof(shortBytes));
    MbnEventInfo query = DeviceServiceRecord(DS_EVENT_QUERY_COMMAND_COMPLETE);
    query.data = cfun;
    manager()->update(nullptr, &query);
    query.data = nullptr;
    manager()->update(nullptr, &query);
    query.data = tooShort;
    manager()->update(nullptr, &query);
    query.data = cfun;
    query.status = static_cast<HRESULT>(0x80004005u);
    manager()->update(nullptr, &query);
    SafeArrayDestroy(cfun);
    SafeArrayDestroy(tooShort);

    MbnEventInfo open = DeviceServiceRecord(DS_EVENT_OPEN_COMMAND_SESSION_COMPLETE);
    manager()->update(nullptr, &open);
    MbnEventInfo close = DeviceServiceRecord(DS_EVENT_CLOSE_COMMAND_SESSION_COMPLETE);
    manager()->update(nullptr, &close);
    EXPECT_TRUE(TakeTasks().empty());

    auto lines = Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "i :   set command complete. status=0x00000000",
                         "i :   set command complete. status=0x80004005",
                         "i :   query command complete. status=0x00000000",
                         "i :   query command complete. cfun mode = 1.",
                         "i :   query command complete. status=0x00000000",
                         "i :   query command complete. status=0x00000000",
                         "i :   query command complete. status=0x80004005",
                         "i :   open command complete. status=0x00000000",
                         "i :   close command complete. status=0x00000000",
                     }));
}

TEST_F(ManagerUpdate, EventsOutsideTheTableAreIgnored)
{
    const uint32_t otherSources[] = {MBN_EVENT_SOURCE_CONNECTION, MBN_EVENT_SOURCE_INTERFACE,
                                     MBN_EVENT_SOURCE_REGISTRATION, 0, 99};
    for (uint32_t source : otherSources) {
        for (uint32_t index = 0; index < 10; ++index) {
            MbnEventInfo info;
            info.source = source;
            info.event_index = index;
            info.service_event = index;
            info.interface_state = 1;
            manager()->update(nullptr, &info);
        }
    }
    for (uint32_t serviceEvent = DS_EVENT_NOTIFICATION; serviceEvent <= DS_EVENT_READ_DATA; ++serviceEvent) {
        MbnEventInfo info = DeviceServiceRecord(serviceEvent);
        manager()->update(nullptr, &info);
    }
    MbnEventInfo unknown = DeviceServiceRecord(42);
    manager()->update(nullptr, &unknown);
    manager()->update(nullptr, nullptr);
    MbnEventInfo otherIndex;
    otherIndex.source = MBN_EVENT_SOURCE_INTERFACE_MANAGER;
    otherIndex.event_index = 2;
    manager()->update(nullptr, &otherIndex);

    EXPECT_TRUE(TakeTasks().empty());
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    EXPECT_TRUE(Lines().empty());
}
