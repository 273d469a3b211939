// The Linux build's COM: BSTRs, SAFEARRAYs, apartments, object creation with
// injected failures, and connection points with real reference counts.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "com_guid_text.h"

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
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(SysStringByteLen(text), 5u * sizeof(OLECHAR));
    EXPECT_EQ(text[5], L'\0');

    const OLECHAR withNul[] = {L'a', L'\0', L'b'};
    BSTR counted = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(counted), 3u);
    EXPECT_EQ(counted[2], L'b');
    EXPECT_EQ(com().LiveBstrs(), 2);

    SysFreeString(text);
    SysFreeString(counted);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(com().LiveBstrs(), 0);
}

TEST_F(ComTest, ByteVectorBoundsAccessAndLocking)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 6);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(SafeArrayGetDim(array), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(array), 1u);
    LONG lower = -1;
    LONG upper = -1;
    EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 5);
    EXPECT_EQ(SafeArrayGetLBound(array, 2, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(array, 0, &upper), DISP_E_BADINDEX);

    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    std::memcpy(data, "\0\0\0\0OK", 6);
    // A locked array cannot be destroyed.
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
    EXPECT_EQ(ArrayBytes(array), std::string("\0\0\0\0OK", 6));
    EXPECT_EQ(com().LiveSafeArrays(), 1);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    EXPECT_EQ(com().LiveSafeArrays(), 0);
}

TEST_F(ComTest, ArraysWithOtherBoundsAndElementTypes)
{
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, -1}};  // leftmost dimension first
    SAFEARRAY* grid = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(grid, nullptr);
    LONG lower = 0;
    LONG upper = 0;
    SafeArrayGetLBound(grid, 1, &lower);
    SafeArrayGetUBound(grid, 1, &upper);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(upper, 3);
    SafeArrayGetLBound(grid, 2, &lower);
    SafeArrayGetUBound(grid, 2, &upper);
    EXPECT_EQ(lower, -1);
    EXPECT_EQ(upper, 0);
    LONG at[2] = {3, 0};
    LONG value = 42;
    EXPECT_EQ(SafeArrayPutElement(grid, at, &value), S_OK);
    LONG read = 0;
    EXPECT_EQ(SafeArrayGetElement(grid, at, &read), S_OK);
    EXPECT_EQ(read, 42);
    LONG outside[2] = {4, 0};
    EXPECT_EQ(SafeArrayPutElement(grid, outside, &value), DISP_E_BADINDEX);
    SafeArrayDestroy(grid);

    // Element owners: BSTRs are freed and objects released with the array.
    SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 2);
    BSTR text = SysAllocString(L"x");
    LONG index = 1;
    SafeArrayPutElement(strings, &index, text);
    SysFreeString(text);
    EXPECT_EQ(com().LiveBstrs(), 1);
    SafeArrayDestroy(strings);
    EXPECT_EQ(com().LiveBstrs(), 0);

    TestSink* sink = new TestSink;
    SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    index = 0;
    SafeArrayPutElement(objects, &index, static_cast<IMbnInterfaceEvents*>(sink));
    EXPECT_EQ(sink->RefCount(), 2u);
    SafeArrayDestroy(objects);
    EXPECT_EQ(sink->RefCount(), 1u);
    sink->Release();

    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, bounds), nullptr);
    EXPECT_EQ(com().LiveSafeArrays(), 0);
}

TEST_F(ComTest, ApartmentsAreCountedPerThread)
{
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(com().ThreadInitCount(), 2);
    EXPECT_EQ(com().MultithreadedApartmentUsers(), 1);

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
    EXPECT_EQ(CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                               reinterpret_cast<void**>(&object)),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoCreateInstance(IID_IMbnInterface, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnConnectionManager,
                               reinterpret_cast<void**>(&object)),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(machine().mbn().LiveObjects(), 0);  // the object made for the failed request is gone

    IMbnDeviceServicesManager* manager = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL, IID_IMbnDeviceServicesManager,
                               reinterpret_cast<void**>(&manager)),
              S_OK);
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(manager->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IUnknown* identity1 = nullptr;
    IUnknown* identity2 = nullptr;
    manager->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity1));
    container->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity2));
    EXPECT_EQ(identity1, identity2);
    identity1->Release();
    identity2->Release();
    container->Release();
    EXPECT_EQ(manager->Release(), 0u);
    EXPECT_EQ(machine().mbn().LiveObjects(), 0);
    CoUninitialize();
}

TEST_F(ComTest, ClassCreationFailsTheGivenNumberOfTimesPerClass)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto& mbn = machine().mbn();
    mbn.FailClassCreation(sim::MobileBroadband::ManagerClass::ConnectionManager, 2, E_OUTOFMEMORY);
    auto create = [](REFCLSID clsid, REFIID iid) {
        IUnknown* object = nullptr;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(&object));
        if (object != nullptr) {
            object->Release();
        }
        return hr;
    };
    EXPECT_EQ(create(CLSID_MbnConnectionManager, IID_IMbnConnectionManager), E_OUTOFMEMORY);
    EXPECT_EQ(create(CLSID_MbnInterfaceManager, IID_IMbnInterfaceManager), S_OK);  // other classes unaffected
    EXPECT_EQ(create(CLSID_MbnConnectionManager, IID_IMbnConnectionManager), E_OUTOFMEMORY);
    EXPECT_EQ(create(CLSID_MbnConnectionManager, IID_IMbnConnectionManager), S_OK);
    EXPECT_EQ(com().CreationAttempts(sim::MobileBroadband::kClsidConnectionManager), 3);

    mbn.FailClassCreation(sim::MobileBroadband::ManagerClass::DeviceServicesManager, -1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(create(CLSID_MbnDeviceServicesManager, IID_IMbnDeviceServicesManager), REGDB_E_CLASSNOTREG);
    }
    mbn.ClearFaults();
    EXPECT_EQ(create(CLSID_MbnDeviceServicesManager, IID_IMbnDeviceServicesManager), S_OK);
    CoUninitialize();
}

TEST_F(ComTest, ConnectionPointsHandOutCookiesAndHoldTheirSinks)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    using Events = sim::MobileBroadband::EventsInterface;
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
    IID iid = IID_NULL;
    point->GetConnectionInterface(&iid);
    EXPECT_TRUE(iid == IID_IMbnInterfaceManagerEvents);

    TestSink* sink = new TestSink;
    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(point->Advise(static_cast<IMbnInterfaceEvents*>(sink), &first), S_OK);
    ASSERT_EQ(point->Advise(static_cast<IMbnInterfaceEvents*>(sink), &second), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(sink->RefCount(), 3u);
    EXPECT_EQ(machine().mbn().AdvisedSinks(Events::InterfaceManager), 2u);

    EXPECT_EQ(point->Unadvise(first), S_OK);
    EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(sink->RefCount(), 2u);

    // A connection point lives as long as its container: releasing the last
    // reference to both drops the remaining connection.
    point->Release();
    container->Release();
    EXPECT_EQ(manager->Release(), 0u);
    EXPECT_EQ(sink->RefCount(), 1u);
    EXPECT_EQ(machine().mbn().AdvisedSinks(Events::InterfaceManager), 0u);
    EXPECT_EQ(machine().mbn().AdviseCalls(Events::InterfaceManager), 2);
    EXPECT_EQ(machine().mbn().UnadviseCalls(Events::InterfaceManager), 1);
    sink->Release();
    EXPECT_EQ(machine().mbn().LiveObjects(), 0);
    CoUninitialize();
}

TEST_F(ComTest, GuidTextRoundTrip)
{
    GUID parsed{};
    ASSERT_TRUE(GuidFromText("{5b3c90a2-7E41-4D8A-9C06-2F7D1B84E6A3}", parsed));
    EXPECT_EQ(GuidToText(parsed), "{5B3C90A2-7E41-4D8A-9C06-2F7D1B84E6A3}");
    EXPECT_EQ(GuidToText(CLSID_MbnDeviceServicesManager), sim::MobileBroadband::kClsidDeviceServicesManager);
    EXPECT_FALSE(GuidFromText("5B3C90A2-7E41-4D8A-9C06-2F7D1B84E6A3", parsed));
    EXPECT_FALSE(GuidFromText("{5B3C90A2-7E41-4D8A-9C06-2F7D1B84E6AG}", parsed));
    EXPECT_FALSE(IsEqualGUID(IID_IMbnInterface, IID_IMbnConnection));
}

}  // namespace
