// COM and OLE Automation of the Linux build: apartments and object creation
// over the simulated machine's COM runtime, BSTRs and SAFEARRAYs.
#include <objbase.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/machine.h"

namespace {

// A class id in the registry's form, upper case with braces.
std::string GuidToText(REFGUID guid)
{
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

}  // namespace

// ---- apartments and object creation ----

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    if (pvReserved != nullptr) {
        return E_INVALIDARG;
    }
    return sim::Machine::Get().com().InitializeThread(dwCoInit);
}

void CoUninitialize()
{
    sim::Machine::Get().com().UninitializeThread();
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    if ((dwClsContext & CLSCTX_ALL) == 0) {
        return E_INVALIDARG;
    }
    sim::ComRuntime& com = sim::Machine::Get().com();
    if (!com.CanCreateObjects()) {
        return CO_E_NOTINITIALIZED;
    }
    sim::ComRuntime::Factory factory;
    HRESULT hr = com.BeginCreate(GuidToText(rclsid), factory);
    if (FAILED(hr)) {
        return hr;
    }
    IUnknown* object = factory();
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// ---- BSTR: a 32-bit byte length, the characters, a NUL character ----

namespace {

constexpr size_t kBstrHeader = sizeof(uint32_t) > alignof(OLECHAR) ? sizeof(uint32_t) : alignof(OLECHAR);

uint32_t* BstrHeader(BSTR text)
{
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - kBstrHeader);
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    const size_t bytes = kBstrHeader + (static_cast<size_t>(length) + 1) * sizeof(OLECHAR);
    char* block = static_cast<char*>(std::calloc(1, bytes));
    if (block == nullptr) {
        return nullptr;
    }
    *reinterpret_cast<uint32_t*>(block) = static_cast<uint32_t>(length * sizeof(OLECHAR));
    BSTR result = reinterpret_cast<BSTR>(block + kBstrHeader);
    if (text != nullptr && length > 0) {
        std::memcpy(result, text, length * sizeof(OLECHAR));
    }
    result[length] = 0;
    sim::Machine::Get().com().CountBstr(+1);
    return result;
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void SysFreeString(BSTR text)
{
    if (text == nullptr) {
        return;
    }
    std::free(BstrHeader(text));
    sim::Machine::Get().com().CountBstr(-1);
}

UINT SysStringByteLen(BSTR text)
{
    return text == nullptr ? 0 : *BstrHeader(text);
}

UINT SysStringLen(BSTR text)
{
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

// ---- SAFEARRAY ----

namespace {

// What we allocate: the element type in front of the descriptor, then the
// descriptor with room for all its bounds.
struct ArrayBlock {
    VARTYPE vt;
    SAFEARRAY array;
};

ArrayBlock* BlockOf(SAFEARRAY* psa)
{
    return reinterpret_cast<ArrayBlock*>(reinterpret_cast<char*>(psa) - offsetof(ArrayBlock, array));
}

// Plain-data element types only: nothing the service sends or receives owns
// its elements.
ULONG ElementSize(VARTYPE vt)
{
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
        return 2;
    case VT_I4:
    case VT_UI4:
        return 4;
    default:
        return 0;
    }
}

// Bounds of natural dimension d (0 = leftmost) are stored at rgsabound[cDims-1-d].
SAFEARRAYBOUND& Bound(SAFEARRAY* psa, UINT naturalDim)
{
    return *(psa->rgsabound + (psa->cDims - 1 - naturalDim));
}

// The bounds of dimension nDim (counted from 1) for the bound getters.
HRESULT DimensionBound(SAFEARRAY* psa, UINT nDim, const LONG* out, const SAFEARRAYBOUND** bound)
{
    if (psa == nullptr || out == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim < 1 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    *bound = &Bound(psa, nDim - 1);
    return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound)
{
    const ULONG elementSize = ElementSize(vt);
    if (cDims == 0 || cDims > 0xFFFF || rgsabound == nullptr || elementSize == 0) {
        return nullptr;
    }
    size_t count = 1;
    for (UINT d = 0; d < cDims; ++d) {
        const size_t elements = rgsabound[d].cElements;
        if (elements != 0 && count > static_cast<size_t>(0x7FFFFFFF) / elements) {
            return nullptr;
        }
        count *= elements;
    }
    if (count * elementSize > static_cast<size_t>(0x7FFFFFFF)) {
        return nullptr;
    }
    const size_t descriptorBytes = sizeof(ArrayBlock) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<ArrayBlock*>(std::calloc(1, descriptorBytes));
    if (block == nullptr) {
        return nullptr;
    }
    // At least one byte, so that an empty array still hands out a usable pointer.
    void* data = std::calloc(count == 0 ? 1 : count, elementSize);
    if (data == nullptr) {
        std::free(block);
        return nullptr;
    }
    block->vt = vt;
    SAFEARRAY* psa = &block->array;
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = FADF_HAVEVARTYPE;
    psa->cbElements = elementSize;
    psa->cLocks = 0;
    psa->pvData = data;
    for (UINT d = 0; d < cDims; ++d) {
        Bound(psa, d) = rgsabound[d];
    }
    sim::Machine::Get().com().CountSafeArray(+1);
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements)
{
    SAFEARRAYBOUND bound;
    bound.cElements = cElements;
    bound.lLbound = lLbound;
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa)
{
    if (psa == nullptr) {
        return S_OK;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    std::free(psa->pvData);
    std::free(BlockOf(psa));
    sim::Machine::Get().com().CountSafeArray(-1);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData)
{
    if (psa == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    ++psa->cLocks;
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa)
{
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->cLocks == 0) {
        return E_UNEXPECTED;
    }
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound)
{
    const SAFEARRAYBOUND* bound = nullptr;
    const HRESULT hr = DimensionBound(psa, nDim, plLbound, &bound);
    if (SUCCEEDED(hr)) {
        *plLbound = bound->lLbound;
    }
    return hr;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound)
{
    const SAFEARRAYBOUND* bound = nullptr;
    const HRESULT hr = DimensionBound(psa, nDim, plUbound, &bound);
    if (SUCCEEDED(hr)) {
        *plUbound = static_cast<LONG>(static_cast<long long>(bound->lLbound) + bound->cElements - 1);
    }
    return hr;
}

UINT SafeArrayGetDim(SAFEARRAY* psa)
{
    return psa == nullptr ? 0 : psa->cDims;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt)
{
    if (psa == nullptr || pvt == nullptr) {
        return E_INVALIDARG;
    }
    *pvt = BlockOf(psa)->vt;
    return S_OK;
}
