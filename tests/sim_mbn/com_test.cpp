// The Linux build's COM: BSTRs, SAFEARRAYs, apartments, object creation and
// connection points with real reference counts.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "machine_fixture.h"
#include "test_sink.h"

namespace {

class ComTest : public MachineTest {
protected:
    sim::ComRuntime& com() { return machine().com(); }
};

TEST_F(ComTest, BstrKeepsItsLengthAndEmbeddedNulsAndIsFreed)
{
    BSTR text = SysAllocString(L"modem");
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(SysStringByteLen(text), 5u * sizeof(OLECHAR));
    const OLECHAR withNul[] = {L'a', L'\0', L'b'};
    BSTR counted = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(counted), 3u);
    EXPECT_EQ(counted[2], L'b');
    EXPECT_EQ(counted[3], L'\0');
    EXPECT_EQ(com().LiveBstrs(), 2);
    SysFreeString(text);
    SysFreeString(counted);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(com().LiveBstrs(), 0);
}

TEST_F(ComTest, ArraysKeepTheirBoundsAndRefuseDestructionWhileLocked)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 6);
    LONG lower = -1;
    LONG upper = -1;
    EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 5);
    EXPECT_EQ(SafeArrayGetLBound(array, 2, &lower), DISP_E_BADINDEX);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    std::memcpy(data, "\0\0\0\0OK", 6);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
    EXPECT_EQ(ArrayBytes(array), std::string("\0\0\0\0OK", 6));
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);

    // Dimension 1 is the leftmost one given, though stored last.
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, -1}};
    SAFEARRAY* grid = SafeArrayCreate(VT_I4, 2, bounds);
    SafeArrayGetUBound(grid, 1, &upper);
    EXPECT_EQ(upper, 3);
    SafeArrayGetLBound(grid, 2, &lower);
    EXPECT_EQ(lower, -1);
    EXPECT_EQ(grid->rgsabound[0].lLbound, -1);
    SafeArrayDestroy(grid);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, bounds), nullptr);
    EXPECT_EQ(com().LiveSafeArrays(), 0);
}

TEST_F(ComTest, ApartmentsAreCountedPerThread)
{
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(com().ThreadInitCount(), 2);

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

    ASSERT_EQ(create(CLSID_MbnDeviceServicesManager, IID_IMbnDeviceServicesManager), S_OK);
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IUnknown* identity = nullptr;
    container->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, object);
    identity->Release();
    container->Release();
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(machine().mbn().LiveObjects(), 0);
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
    EXPECT_EQ(mbn.AdviseCalls(Events::InterfaceManager), 2);
    EXPECT_EQ(mbn.UnadviseCalls(Events::InterfaceManager), 1);
    sink->Release();
    CoUninitialize();
}

}  // namespace
