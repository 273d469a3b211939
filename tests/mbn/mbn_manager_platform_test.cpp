// The manager where the platform has latitude: objects handed out again, and
// interface ids that are empty or missing.
#include "mbn/mbn_text.h"
#include "mbn_fixture.h"

using ManagerPlatform = MbnTest;

TEST_F(ManagerPlatform, ObjectsHandedOutAgainKeepOneReferenceOfTheManager)
{
    mbn().HandOutSameObjects(true);
    ASSERT_EQ(manager()->Init(), 0);
    // Our own references to the context and service the manager will be given.
    IMbnDeviceServicesManager* devices = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL, IID_IMbnDeviceServicesManager,
                               reinterpret_cast<void**>(&devices)),
              S_OK);
    BSTR interfaceId = AllocBstrFromNarrow(modemId());
    BSTR serviceId = AllocBstrFromNarrow(VARNICK_AT_DEVICE_SERVICE_ID);
    IMbnDeviceServicesContext* context = nullptr;
    IMbnDeviceService* service = nullptr;
    ASSERT_EQ(devices->GetDeviceServicesContext(interfaceId, &context), S_OK);
    ASSERT_EQ(context->GetDeviceService(serviceId, &service), S_OK);
    SysFreeString(interfaceId);
    SysFreeString(serviceId);

    // An open that fails after both objects were stored, then the next run's open.
    mbn().InjectOpenSessionFault(sim::MobileBroadband::SessionFault::ErrorStatus, 1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    mbn().WaitIdle();  // a delivery holds its own reference while it runs
    EXPECT_EQ(manager()->m_device_service.load(), service);
    EXPECT_EQ(RefCount(context), 2u);
    EXPECT_EQ(RefCount(service), 2u);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), 0);
    mbn().WaitIdle();
    EXPECT_EQ(RefCount(context), 2u);
    EXPECT_EQ(RefCount(service), 2u);
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    mbn().WaitIdle();
    EXPECT_EQ(RefCount(context), 1u);
    EXPECT_EQ(RefCount(service), 1u);

    service->Release();
    context->Release();
    devices->Release();
}

TEST_F(ManagerPlatform, ARemovalWithoutAnIdMatchesNothing)
{
    // Nothing opened yet: the stored interface id is empty.
    ASSERT_EQ(manager()->Init(), 0);
    BSTR empty = SysAllocString(L"");
    for (BSTR id : {empty, static_cast<BSTR>(nullptr)}) {
        manager()->m_device_services_sink->OnInterfaceStateChange(id, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
    }
    SysFreeString(empty);
    mbn().SetInterfaceId("");  // an interface object that reports an empty id
    mbn().RaiseInterfaceRemoval();
    mbn().WaitIdle();
    EXPECT_FALSE(service()->m_bDeviceRemoved);
    EXPECT_TRUE(TakeTasks().empty());

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL"), 2u);
    EXPECT_EQ(CountOf(lines, "i :   interface removal."), 1u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("Stop any action."), std::string::npos) << line;
    }
}
