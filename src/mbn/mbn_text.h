// Conversions between the service's narrow text and COM strings. Interface ids
// are plain ASCII; any other character is shown as '?'.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

// The narrow text of a COM string; an absent string gives the empty text.
std::string NarrowFromBstr(const OLECHAR* text);

// A new BSTR holding the text (free it with SysFreeString); null when the
// allocation fails.
BSTR AllocBstrFromNarrow(const std::string& text);
