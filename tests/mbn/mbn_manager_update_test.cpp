#include <algorithm>

#include "mbn/mbn_text.h"
#include "mbn_manager_fixture.h"
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

// Only the removal of the opened interface stops work: ids compare with case,
// and an empty id (as stored before the first open) matches nothing. Any
// capable-interface or interface arrival starts a bring-up; the latter clears
// the removed flag only for the opened interface. Other states are ignored.
TEST_F(ManagerUpdate, ArrivalsAndRemovalsFollowTheOpenedInterface)
{
    ASSERT_EQ(manager()->Init(), 0);
    const std::string id = modemId();
    BSTR empty = SysAllocString(L"");
    for (BSTR none : {empty, static_cast<BSTR>(nullptr)}) {
        manager()->m_device_services_sink->OnInterfaceStateChange(none, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
    }
    SysFreeString(empty);
    mbn().SetInterfaceId("");  // an interface object that reports an empty id
    mbn().RaiseInterfaceRemoval();
    mbn().WaitIdle();
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    EXPECT_TRUE(TakeTasks().empty());

    mbn().SetInterfaceId(id);
    ASSERT_EQ(manager()->OpenDeviceServices(id), 0);
    std::string lower = id;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    // Event id, capable-interface state; then the removed flag and the tasks posted.
    const std::vector<std::tuple<std::string, uint32_t, bool, std::vector<int>>> capable = {
        {kOtherId, 1, false, {}},     {lower, 1, false, {}}, {id, 1, true, {TASK_ID_SUPRISE_REMOVE}},
        {kOtherId, 0, false, {TASK_ID_DEFAULT}}, {id, 2, false, {}},
    };
    for (const auto& [interfaceId, state, removed, tasks] : capable) {
        MbnEventInfo info = Record(MBN_EVENT_SOURCE_DEVICE_SERVICES, DS_EVENT_INTERFACE_STATE_CHANGE);
        info.interface_id = interfaceId;
        info.interface_state = state;
        manager()->update(nullptr, &info);
        EXPECT_EQ(service()->m_bDeviceRemoved, removed) << interfaceId << " " << state;
        EXPECT_EQ(TakeTasks(), tasks) << interfaceId << " " << state;
    }
    // Event id, arrival or removal; then the removed flag and the tasks posted.
    service()->m_bDeviceRemoved = true;
    const std::vector<std::tuple<std::string, bool, bool, std::vector<int>>> interfaces = {
        {kOtherId, true, true, {TASK_ID_DEFAULT}}, {kOtherId, false, true, {}},
        {id, true, false, {TASK_ID_DEFAULT}},      {id, false, true, {TASK_ID_SUPRISE_REMOVE}},
    };
    for (const auto& [interfaceId, arrival, removed, tasks] : interfaces) {
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

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL"), 5u);
    for (const std::string& removed : {std::string(kOtherId), lower, id}) {
        EXPECT_EQ(CountOf(lines, "i :   " + removed + " capable interface removed."), 1u) << removed;
    }
    EXPECT_EQ(CountOf(lines, "i :   " + id + " current"), 3u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " capable interface removed. Stop any action."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   interface arrival."), 3u);
    EXPECT_EQ(CountOf(lines, std::string("i :   ") + kOtherId + " arrival."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " arrival."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   interface removal."), 4u);
    EXPECT_EQ(CountOf(lines, "i :   " + id + " interface removed. Stop any action."), 1u);
}

TEST_F(ManagerUpdate, EventsOutsideTheTableAreIgnored)
{
    manager()->update(nullptr, nullptr);
    for (uint32_t source : {MBN_EVENT_SOURCE_CONNECTION, MBN_EVENT_SOURCE_INTERFACE, MBN_EVENT_SOURCE_REGISTRATION,
                            0u, 99u, MBN_EVENT_SOURCE_INTERFACE_MANAGER, MBN_EVENT_SOURCE_DEVICE_SERVICES}) {
        for (uint32_t index = 0; index < 43; ++index) {
            // The interface manager's arrival and removal, and the device services'
            // completions and state changes, are handled.
            if ((source == MBN_EVENT_SOURCE_INTERFACE_MANAGER && index < 2) ||
                (source == MBN_EVENT_SOURCE_DEVICE_SERVICES && (index < 4 || index == 9))) {
                continue;
            }
            MbnEventInfo info = Record(source, index, index);
            info.interface_state = 1;
            manager()->update(nullptr, &info);
        }
    }
    EXPECT_TRUE(TakeTasks().empty());
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    EXPECT_TRUE(Lines().empty());
}
