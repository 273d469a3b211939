// Loading DPRConfig.xml, the file beside the service's executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_model.h"

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

// The levels of the file's grammar below the root.
enum class ConfigLevel { Project, Processor, Module, Dpr };

// What a reading meets, for callers that want more than the list: every
// element it takes as an element of a level, and every gap it passes over
// with the message the service logs for it.
class ConfigReadListener {
public:
    virtual ~ConfigReadListener() = default;
    virtual void OnElement(ConfigLevel level, const tinyxml2::XMLElement& element) = 0;
    virtual void OnGap(int line, const char* message) = 0;
};

class XMLHelper {
public:
    // Loads the file and rebuilds ProjectConfigList from it. True when the
    // document's root holds a "project" element (even if every project was then
    // passed over); false when the file cannot be loaded or holds none.
    static bool ParseXMLContent();

    // Builds the list from a loaded document, as ParseXMLContent does. False
    // when the document's root holds no "project" element.
    static bool ReadDocument(const tinyxml2::XMLDocument& document, std::vector<ModuleConfig>& list,
                             ConfigReadListener& listener);

    // Reads a number attribute the way "%d" does: leading white space, an
    // optional sign, then decimal digits up to the first other character.
    // Leaves value untouched when the text has no digit after the optional
    // sign; saturates at the limits of the 32-bit range.
    static void ReadNumber(const char* text, int32_t& value);
};
