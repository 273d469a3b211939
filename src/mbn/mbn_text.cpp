#include "mbn/mbn_text.h"

std::string NarrowFromBstr(const OLECHAR* text)
{
    std::string result;
    if (text == nullptr) {
        return result;
    }
    for (const OLECHAR* p = text; *p != 0; ++p) {
        const unsigned long code = static_cast<unsigned long>(*p);
        result.push_back(code < 0x80 ? static_cast<char>(code) : '?');
    }
    return result;
}

BSTR AllocBstrFromNarrow(const std::string& text)
{
    std::basic_string<OLECHAR> wide;
    wide.reserve(text.size());
    for (unsigned char c : text) {
        wide.push_back(static_cast<OLECHAR>(c));
    }
    return SysAllocString(wide.c_str());
}
