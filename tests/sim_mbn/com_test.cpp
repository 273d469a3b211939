// The Linux build's COM: what it refuses with BSTRs, SAFEARRAYs, apartments,
// object creation and connection points, and the references it keeps.
#include "mbn_fixture.h"

using ComTest = MachineTest;

TEST_F(ComTest, ArraysRefuseMisuseAndEverythingAllocatedIsCounted)
{
    sim::ComRuntime& com = machine().com();
    BSTR text = SysAllocString(L"x");
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 6);
    LONG upper = -1;
    EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
    EXPECT_EQ(upper, 5);
    EXPECT_EQ(SafeArrayGetUBound(array, 2, &upper), DISP_E_BADINDEX);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
    EXPECT_EQ(com.LiveBstrs(), 1);
    EXPECT_EQ(com.LiveSafeArrays(), 1);
    SysFreeString(text);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    EXPECT_EQ(com.LiveBstrs(), 0);
    EXPECT_EQ(com.LiveSafeArrays(), 0);
}

TEST_F(ComTest, CreationNeedsTheApartmentAndAKnownClassAndInterface)
{
    IUnknown* object = reinterpret_cast<IUnknown*>(0x1);
    auto create = [&object](REFCLSID clsid, REFIID iid) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(&object));
    };
    EXPECT_EQ(create(CLSID_MbnInterfaceManager, IID_IMbnInterfaceManager), CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);

    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(create(IID_IMbnInterface, IID_IUnknown), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(create(CLSID_MbnInterfaceManager, IID_IMbnConnectionManager), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(machine().mbn().LiveObjects(), 0);  // the object made for the failed request is gone

    CoUninitialize();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(machine().com().UnbalancedUninitializeCalls(), 1);
}

using ConnectionPointTest = MbnClientTest;

TEST_F(ConnectionPointTest, ConnectionsHandOutCookiesAndHoldTheirSinksAsLongAsTheContainerLives)
{
    IConnectionPointContainer* container = nullptr;
    m_interfaceManager->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IMbnConnectionEvents, &point), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point, nullptr);
    ASSERT_EQ(container->FindConnectionPoint(IID_IMbnInterfaceManagerEvents, &point), S_OK);

    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(point->Advise(static_cast<IMbnInterfaceManagerEvents*>(m_sink), &first), S_OK);
    ASSERT_EQ(point->Advise(static_cast<IMbnInterfaceManagerEvents*>(m_sink), &second), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(m_sink->RefCount(), 3u);

    EXPECT_EQ(point->Unadvise(first), S_OK);
    EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_sink->RefCount(), 2u);
    // A failed Unadvise leaves the connection, and the sink's reference, in place.
    mbn().FailUnadvise(Mbn::EventsInterface::InterfaceManager, 1, RPC_E_DISCONNECTED);
    EXPECT_EQ(point->Unadvise(second), RPC_E_DISCONNECTED);
    EXPECT_EQ(mbn().AdvisedSinks(Mbn::EventsInterface::InterfaceManager), 1u);
    EXPECT_EQ(m_sink->RefCount(), 2u);

    // Releasing the last reference to the point and its container drops the connection.
    point->Release();
    container->Release();
    EXPECT_EQ(m_interfaceManager->Release(), 0u);
    m_interfaceManager = nullptr;
    EXPECT_EQ(m_sink->RefCount(), 1u);
    EXPECT_EQ(mbn().AdvisedSinks(Mbn::EventsInterface::InterfaceManager), 0u);
}
