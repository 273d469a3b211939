// GUID <-> registry-style text ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case),
// for the Linux build's COM library and the simulated Mobile Broadband API.
#pragma once

#include <string>

#include "unknwn.h"

std::string GuidToText(REFGUID guid);
// false when the text is not a GUID in braces (letters in either case are accepted).
bool GuidFromText(const std::string& text, GUID& guid);
