#include "mbn/mbn_payload.h"

#include <cstring>
#include <vector>

SAFEARRAY* CreateByteArray(const uint8_t* bytes, size_t count)
{
    SAFEARRAYBOUND bound;
    bound.cElements = static_cast<ULONG>(count);
    bound.lLbound = 0;
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (array == nullptr) {
        return nullptr;
    }
    if (count == 0) {
        return array;
    }
    void* raw = nullptr;
    if (FAILED(SafeArrayAccessData(array, &raw)) || raw == nullptr) {
        SafeArrayDestroy(array);
        return nullptr;
    }
    std::memcpy(raw, bytes, count);
    SafeArrayUnaccessData(array);
    return array;
}

SAFEARRAY* CreateAtCommandArray(const char* command, size_t length)
{
    std::vector<uint8_t> payload(4 + length, 0);
    if (length != 0) {
        std::memcpy(payload.data() + 4, command, length);
    }
    return CreateByteArray(payload.data(), payload.size());
}

namespace {

// Number of bytes covered by the first dimension's element count.
size_t FirstDimensionBytes(SAFEARRAY* data)
{
    if (data == nullptr || data->cDims == 0 || data->cbElements == 0) {
        return 0;
    }
    return static_cast<size_t>(data->rgsabound[0].cElements);
}

}  // namespace

std::string ReplyTextFromArray(SAFEARRAY* data, size_t maxLength)
{
    std::string text;
    const size_t count = FirstDimensionBytes(data);
    if (count == 0) {
        return text;
    }
    void* raw = nullptr;
    if (FAILED(SafeArrayAccessData(data, &raw)) || raw == nullptr) {
        return text;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(raw);
    for (size_t i = 0; i < count && text.size() < maxLength; ++i) {
        if (bytes[i] != 0) {
            text.push_back(static_cast<char>(bytes[i]));
        }
    }
    SafeArrayUnaccessData(data);
    return text;
}

bool FirstInt32FromArray(SAFEARRAY* data, int32_t& value)
{
    if (data == nullptr || data->cDims == 0 ||
        static_cast<size_t>(data->rgsabound[0].cElements) * data->cbElements < sizeof(int32_t)) {
        return false;
    }
    void* raw = nullptr;
    if (FAILED(SafeArrayAccessData(data, &raw)) || raw == nullptr) {
        return false;
    }
    std::memcpy(&value, raw, sizeof(int32_t));
    SafeArrayUnaccessData(data);
    return true;
}
