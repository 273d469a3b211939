// The Linux build's COM: BSTRs, SAFEARRAYs, apartments, object creation and
// connection points with real reference counts.
#include <cstring>
#include <thread>

#include "mbn_fixture.h"

namespace {

class ComTest : public MachineTest {
protected:
    sim::ComRuntime& com() { return machine().com(); }
};

TEST_F(ComTest, StringsAndArraysAreCountedAndALockedArrayStays)
{
    const OLECHAR withNul[] = {L'a', L'\0', L'b'};
    BSTR counted = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(counted), 3u);
    EXPECT_EQ(counted[3], L'\0');

    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 6);
    LONG upper = -1;
    EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
    EXPECT_EQ(upper, 5);
    EXPECT_EQ(SafeArrayGetUBound(array, 2, &upper), DISP_E_BADINDEX);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    std::memcpy(data, "\0\0\0\0OK", 6);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    EXPECT_EQ(std::string(static_cast<char*>(data), 6), std::string("\0\0\0\0OK", 6));
    SafeArrayUnaccessData(array);
    EXPECT_EQ(com().LiveBstrs(), 1);
    EXPECT_EQ(com().LiveSafeArrays(), 1);
    SysFreeString(counted);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    EXPECT_EQ(com().LiveBstrs(), 0);
    EXPECT_EQ(com().LiveSafeArrays(), 0);
}

TEST_F(ComTest, ApartmentsAreCountedPerThread)
{
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);

    // Another thread is implicitly in the process's multithreaded apartment.
    HRESULT created = E_FAIL;
    std::thread other([&created] {
        IMbnInterfaceManager* manager = nullptr;
        created = CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                                   reinterpret_cast<void**>(&manager));
        if (manager != nullptr) {
            manager->Release();
        }
    });
    other.join();
    EXPECT_EQ(created, S_OK);

    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(com().MultithreadedApartmentUsers(), 0);
    CoUninitialize();
    EXPECT_EQ(com().UnbalancedUninitializeCalls(), 1);
}

TEST_F(ComTest, CreationNeedsAnApartmentAndHonoursTheRequestedInterface)
{
    IUnknown* object = reinterpret_cast<IUnknown*>(0x1);
    auto create = [&object](REFCLSID clsid, REFIID iid) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(&object));
    };
    EXPECT_EQ(create(CLSID_MbnInterfaceManager, IID_IMbnInterfaceManager), CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(create(IID_IMbnInterface, IID_IUnknown), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(create(CLSID_MbnInterfaceManager, IID_IMbnConnectionManager), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(machine().mbn().LiveObjects(), 0);  // the object made for the failed request is gone

    CoUninitialize();
}

TEST_F(ComTest, ConnectionPointsHandOutCookiesAndHoldTheirSinks)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    using Events = sim::MobileBroadband::EventsInterface;
    sim::MobileBroadband& mbn = machine().mbn();
    IMbnInterfaceManager* manager = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                               reinterpret_cast<void**>(&manager)),
              S_OK);
    IConnectionPointContainer* container = nullptr;
    manager->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IMbnConnectionEvents, &point), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point, nullptr);
    ASSERT_EQ(container->FindConnectionPoint(IID_IMbnInterfaceManagerEvents, &point), S_OK);

    TestSink* sink = new TestSink;
    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(point->Advise(static_cast<IMbnInterfaceManagerEvents*>(sink), &first), S_OK);
    ASSERT_EQ(point->Advise(static_cast<IMbnInterfaceManagerEvents*>(sink), &second), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(sink->RefCount(), 3u);

    EXPECT_EQ(point->Unadvise(first), S_OK);
    EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(sink->RefCount(), 2u);
    // A failed Unadvise leaves the connection, and the sink's reference, in place.
    mbn.FailUnadvise(Events::InterfaceManager, 1, RPC_E_DISCONNECTED);
    EXPECT_EQ(point->Unadvise(second), RPC_E_DISCONNECTED);
    EXPECT_EQ(mbn.AdvisedSinks(Events::InterfaceManager), 1u);
    EXPECT_EQ(sink->RefCount(), 2u);

    // A connection point lives as long as its container: releasing the last
    // reference to both drops the remaining connection.
    point->Release();
    container->Release();
    EXPECT_EQ(manager->Release(), 0u);
    EXPECT_EQ(sink->RefCount(), 1u);
    EXPECT_EQ(mbn.AdvisedSinks(Events::InterfaceManager), 0u);
    sink->Release();
    CoUninitialize();
}

}  // namespace
