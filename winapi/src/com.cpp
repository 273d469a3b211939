// COM and OLE Automation of the Linux build: apartments and object creation
// over the simulated machine's COM runtime, BSTRs and SAFEARRAYs.
#include <objbase.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "com_guid_text.h"
#include "sim/machine.h"

std::string GuidToText(REFGUID guid)
{
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool GuidFromText(const std::string& text, GUID& guid)
{
    static const char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (text.size() != sizeof(kShape) - 1) {
        return false;
    }
    unsigned char bytes[16];
    size_t nibble = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (kShape[i] != 'X') {
            if (c != kShape[i]) {
                return false;
            }
            continue;
        }
        int value;
        if (c >= '0' && c <= '9') {
            value = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            value = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            value = c - 'A' + 10;
        } else {
            return false;
        }
        if (nibble % 2 == 0) {
            bytes[nibble / 2] = static_cast<unsigned char>(value << 4);
        } else {
            bytes[nibble / 2] = static_cast<unsigned char>(bytes[nibble / 2] | value);
        }
        ++nibble;
    }
    guid.Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) | DWORD(bytes[3]);
    guid.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return true;
}

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
    case VT_BSTR:
    case VT_UNKNOWN:
        return sizeof(void*);
    default:
        return 0;
    }
}

// Bounds of natural dimension d (0 = leftmost) are stored at rgsabound[cDims-1-d].
SAFEARRAYBOUND& Bound(SAFEARRAY* psa, UINT naturalDim)
{
    return *(psa->rgsabound + (psa->cDims - 1 - naturalDim));
}

size_t ElementCount(SAFEARRAY* psa)
{
    size_t count = 1;
    for (UINT d = 0; d < psa->cDims; ++d) {
        count *= Bound(psa, d).cElements;
    }
    return count;
}

// The element at `indices`, or null when they are out of bounds.
char* ElementSlot(SAFEARRAY* psa, const LONG* indices)
{
    size_t stride = 1;
    size_t offset = 0;
    for (UINT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& bound = Bound(psa, d);
        const long long relative = static_cast<long long>(indices[d]) - bound.lLbound;
        if (relative < 0 || relative >= static_cast<long long>(bound.cElements)) {
            return nullptr;
        }
        offset += static_cast<size_t>(relative) * stride;
        stride *= bound.cElements;
    }
    return static_cast<char*>(psa->pvData) + offset * psa->cbElements;
}

// A copy of an element's BSTR (null stays null); false when out of memory.
bool CopyBstr(BSTR source, BSTR& copy)
{
    copy = source == nullptr ? nullptr : SysAllocStringLen(source, SysStringLen(source));
    return source == nullptr || copy != nullptr;
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
    if (vt == VT_BSTR) {
        psa->fFeatures |= FADF_BSTR;
    } else if (vt == VT_UNKNOWN) {
        psa->fFeatures |= FADF_UNKNOWN;
    }
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
    ArrayBlock* block = BlockOf(psa);
    const size_t count = ElementCount(psa);
    if (block->vt == VT_BSTR) {
        BSTR* items = static_cast<BSTR*>(psa->pvData);
        for (size_t i = 0; i < count; ++i) {
            SysFreeString(items[i]);
        }
    } else if (block->vt == VT_UNKNOWN) {
        IUnknown** items = static_cast<IUnknown**>(psa->pvData);
        for (size_t i = 0; i < count; ++i) {
            if (items[i] != nullptr) {
                items[i]->Release();
            }
        }
    }
    std::free(psa->pvData);
    std::free(block);
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

UINT SafeArrayGetElemsize(SAFEARRAY* psa)
{
    return psa == nullptr ? 0 : psa->cbElements;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt)
{
    if (psa == nullptr || pvt == nullptr) {
        return E_INVALIDARG;
    }
    *pvt = BlockOf(psa)->vt;
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv)
{
    if (psa == nullptr || rgIndices == nullptr) {
        return E_INVALIDARG;
    }
    char* slot = ElementSlot(psa, rgIndices);
    if (slot == nullptr) {
        return DISP_E_BADINDEX;
    }
    const VARTYPE vt = BlockOf(psa)->vt;
    if (vt == VT_BSTR) {
        BSTR copy = nullptr;
        if (!CopyBstr(static_cast<BSTR>(pv), copy)) {
            return E_OUTOFMEMORY;
        }
        BSTR* target = reinterpret_cast<BSTR*>(slot);
        SysFreeString(*target);
        *target = copy;
    } else if (vt == VT_UNKNOWN) {
        IUnknown* object = static_cast<IUnknown*>(pv);
        if (object != nullptr) {
            object->AddRef();
        }
        IUnknown** target = reinterpret_cast<IUnknown**>(slot);
        if (*target != nullptr) {
            (*target)->Release();
        }
        *target = object;
    } else {
        if (pv == nullptr) {
            return E_INVALIDARG;
        }
        std::memcpy(slot, pv, psa->cbElements);
    }
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv)
{
    if (psa == nullptr || rgIndices == nullptr || pv == nullptr) {
        return E_INVALIDARG;
    }
    char* slot = ElementSlot(psa, rgIndices);
    if (slot == nullptr) {
        return DISP_E_BADINDEX;
    }
    const VARTYPE vt = BlockOf(psa)->vt;
    if (vt == VT_BSTR) {
        BSTR copy = nullptr;
        if (!CopyBstr(*reinterpret_cast<BSTR*>(slot), copy)) {
            return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(pv) = copy;
    } else if (vt == VT_UNKNOWN) {
        IUnknown* object = *reinterpret_cast<IUnknown**>(slot);
        if (object != nullptr) {
            object->AddRef();
        }
        *static_cast<IUnknown**>(pv) = object;
    } else {
        std::memcpy(pv, slot, psa->cbElements);
    }
    return S_OK;
}
