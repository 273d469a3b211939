// Loading DPRConfig.xml, the file beside the service's executable.
#pragma once

#include <cstdint>
#include <string>

class XMLHelper {
public:
    // Loads the file and rebuilds ProjectConfigList from it. True when the
    // document's root holds a "project" element (even if every project was then
    // passed over); false when the file cannot be loaded or holds none.
    static bool ParseXMLContent();

    // Reads a number attribute the way "%d" does: leading white space, an
    // optional sign, then decimal digits up to the first other character.
    // Leaves value untouched when the text has no digit after the optional
    // sign; saturates at the limits of the 32-bit range.
    static void ReadNumber(const char* text, int32_t& value);
};
