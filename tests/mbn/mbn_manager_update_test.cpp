#include <algorithm>

#include "mbn/mbn_payload.h"
#include "mbn_fixture.h"
#include "sim/machine.h"

namespace {

const char* const kOtherId = "{0D1E2F30-4A5B-4C6D-8E9F-A0B1C2D3E4F5}";

MbnEventInfo Record(uint32_t source, uint32_t serviceEvent, uint32_t eventIndex = 0)
{
    MbnEventInfo info;
    info.source = source;
    info.service_event = serviceEvent;
    info.event_index = eventIndex;
    return info;
}

}  // namespace

using ManagerUpdate = MbnTest;

// Removal of the opened interface (ids compare with case) stops work; the
// arrival of any capable interface starts a bring-up; other states are ignored.
TEST_F(ManagerUpdate, CapableInterfaceArrivalAndRemovalFollowTheOpenedInterface)
{
    OpenModem();
    const std::string id = modemId();
    std::string lower = id;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::vector<std::tuple<std::string, uint32_t, bool, std::vector<int>>> cases = {
        {kOtherId, 1, false, {}},
        {lower, 1, false, {}},
        {id, 1, true, {TASK_ID_SUPRISE_REMOVE}},
        {kOtherId, 0, false, {TASK_ID_DEFAULT}},
        {id, 2, false, {}},
    };
    for (const auto& [interfaceId, state, removed, tasks] : cases) {
        MbnEventInfo info = Record(MBN_EVENT_SOURCE_DEVICE_SERVICES, DS_EVENT_INTERFACE_STATE_CHANGE);
        info.interface_id = interfaceId;
        info.interface_state = state;
        manager()->update(nullptr, &info);
        EXPECT_EQ(service()->m_bDeviceRemoved, removed) << interfaceId << " " << state;
        EXPECT_EQ(TakeTasks(), tasks) << interfaceId << " " << state;
    }

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL"), 3u);
    for (const std::string& removed : {std::string(kOtherId), lower, id}) {
        EXPECT_EQ(CountOf(lines, "i :   " + removed + " capable interface removed."), 1u) << removed;
    }
    EXPECT_EQ(CountOf(lines, "i :   " + id + " current"), 3u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " capable interface removed. Stop any action."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL"), 1u);
}

// An arrival starts a bring-up and clears the removed flag only for the opened
// interface; only the opened interface's removal stops work.
TEST_F(ManagerUpdate, InterfaceManagerArrivalAndRemoval)
{
    OpenModem();
    const std::string id = modemId();
    service()->m_bDeviceRemoved = true;
    const std::vector<std::tuple<std::string, bool, bool, std::vector<int>>> cases = {
        {kOtherId, true, true, {TASK_ID_DEFAULT}},
        {kOtherId, false, true, {}},
        {id, true, false, {TASK_ID_DEFAULT}},
        {id, false, true, {TASK_ID_SUPRISE_REMOVE}},
    };
    for (const auto& [interfaceId, arrival, removed, tasks] : cases) {
        mbn().SetInterfaceId(interfaceId);
        arrival ? mbn().RaiseInterfaceArrival() : mbn().RaiseInterfaceRemoval();
        mbn().WaitIdle();
        EXPECT_EQ(service()->m_bDeviceRemoved, removed) << interfaceId << " " << arrival;
        EXPECT_EQ(TakeTasks(), tasks) << interfaceId << " " << arrival;
    }
    // An event whose interface cannot be read posts nothing.
    for (uint32_t index : {0u, 1u}) {
        const MbnEventInfo unreadable = Record(MBN_EVENT_SOURCE_INTERFACE_MANAGER, 0, index);
        manager()->update(nullptr, &unreadable);
    }
    EXPECT_TRUE(TakeTasks().empty());
    EXPECT_TRUE(service()->m_bDeviceRemoved);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   interface arrival."), 3u);
    EXPECT_EQ(CountOf(lines, std::string("i :   ") + kOtherId + " arrival."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " arrival."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   interface removal."), 3u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " interface removed. Stop any action."), 1u);
}

// A query completion logs the cfun mode only from a successful reply of at least four bytes.
TEST_F(ManagerUpdate, QueryCompletionsLogTheModeTheyCarry)
{
    const uint8_t mode[4] = {1, 0, 0, 0};
    SAFEARRAY* cfun = CreateByteArray(mode, sizeof(mode));
    SAFEARRAY* tooShort = CreateByteArray(mode, 2);
    MbnEventInfo query = Record(MBN_EVENT_SOURCE_DEVICE_SERVICES, DS_EVENT_QUERY_COMMAND_COMPLETE);
    for (SAFEARRAY* data : {cfun, static_cast<SAFEARRAY*>(nullptr), tooShort}) {
        query.data = data;
        manager()->update(nullptr, &query);
    }
    query.data = cfun;
    query.status = static_cast<HRESULT>(0x80004005u);
    manager()->update(nullptr, &query);
    SafeArrayDestroy(cfun);
    SafeArrayDestroy(tooShort);
    EXPECT_TRUE(TakeTasks().empty());

    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "i :   query command complete. status=0x00000000",
                           "i :   query command complete. cfun mode = 1.",
                           "i :   query command complete. status=0x00000000",
                           "i :   query command complete. status=0x00000000",
                           "i :   query command complete. status=0x80004005",
                       }));
}

TEST_F(ManagerUpdate, EventsOutsideTheTableAreIgnored)
{
    for (uint32_t source : {MBN_EVENT_SOURCE_CONNECTION, MBN_EVENT_SOURCE_INTERFACE, MBN_EVENT_SOURCE_REGISTRATION,
                            0u, 99u}) {
        for (uint32_t index = 0; index < 10; ++index) {
            MbnEventInfo info = Record(source, index, index);
            info.interface_state = 1;
            manager()->update(nullptr, &info);
        }
    }
    for (uint32_t serviceEvent : {DS_EVENT_NOTIFICATION, DS_EVENT_OPEN_DATA_SESSION_COMPLETE,
                                  DS_EVENT_CLOSE_DATA_SESSION_COMPLETE, DS_EVENT_WRITE_DATA_COMPLETE,
                                  DS_EVENT_READ_DATA, 42u}) {
        const MbnEventInfo info = Record(MBN_EVENT_SOURCE_DEVICE_SERVICES, serviceEvent);
        manager()->update(nullptr, &info);
    }
    manager()->update(nullptr, nullptr);
    const MbnEventInfo otherIndex = Record(MBN_EVENT_SOURCE_INTERFACE_MANAGER, 0, 2);
    manager()->update(nullptr, &otherIndex);

    EXPECT_TRUE(TakeTasks().empty());
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    EXPECT_TRUE(Lines().empty());
}
