// Byte arrays exchanged with the AT device service.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <string>

// A one-dimensional VT_UI1 array, lower bound 0, holding the bytes; null when
// it cannot be created. Free it with SafeArrayDestroy.
SAFEARRAY* CreateByteArray(const uint8_t* bytes, size_t count);

// The AT payload: four zero bytes, then the command bytes (no terminating NUL).
SAFEARRAY* CreateAtCommandArray(const char* command, size_t length);

// The reply text of a completion's data: every byte over the element count of
// the first dimension that is not 0x00, in order, cut at maxLength characters.
// An absent or unreadable array gives the empty text.
std::string ReplyTextFromArray(SAFEARRAY* data, size_t maxLength);

// The first 32-bit value of the data; false when the array is absent or holds
// fewer than four bytes in its first dimension.
bool FirstInt32FromArray(SAFEARRAY* data, int32_t& value);
