#include "config/xml_helper.h"

#include <windows.h>

#include <tinyxml2.h>

#include <climits>
#include <cstring>

#include "config/config_model.h"
#include "logging/log_helper.h"
#include "portability/portability.h"

namespace {

constexpr const char* kFunction = "XMLHelper::ParseXMLContent";
constexpr const char* kConfigFileName = "\\DPRConfig.xml";

// The executable's folder followed by the file name. False when the
// executable's path does not fit the 256-character buffer (or cannot be read):
// such a path is not supported and the load then fails as for a missing file.
bool BuildConfigPath(std::string& path)
{
    char modulePath[256] = {};
    DWORD length = GetModuleFileNameA(nullptr, modulePath, static_cast<DWORD>(sizeof(modulePath)));
    modulePath[sizeof(modulePath) - 1] = '\0';
    bool complete = length != 0 && length < sizeof(modulePath);
    if (char* lastSlash = std::strrchr(modulePath, '\\')) {
        *lastSlash = '\0';
    }
    path = std::string(modulePath) + kConfigFileName;
    return complete;
}

bool IsScanfSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void ReadNumberAttribute(const tinyxml2::XMLElement* element, const char* name, int32_t& field)
{
    if (const char* text = element->Attribute(name)) {
        XMLHelper::ReadNumber(text, field);
    }
}

std::string AttributeOrEmpty(const tinyxml2::XMLElement* element, const char* name)
{
    const char* text = element->Attribute(name);
    return text ? std::string(text) : std::string();
}

// The service's reading: every gap is one error line of the log.
class LoggingListener : public ConfigReadListener {
public:
    void OnElement(ConfigLevel, const tinyxml2::XMLElement&) override {}
    void OnGap(int, const char* message) override { LogHelper::Log(LOG_LEVEL_ERROR, kFunction, "%s", message); }
};

}  // namespace

void XMLHelper::ReadNumber(const char* text, int32_t& value)
{
    const char* p = text;
    while (IsScanfSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return;  // nothing converted: the field keeps what it held
    }
    // Accumulate towards the sign's side so INT32_MIN is reachable; saturate.
    int64_t result = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        if (result < static_cast<int64_t>(INT32_MAX) + 1) {
            result = result * 10 + digit;
        }
    }
    if (negative) {
        result = -result;
    }
    if (result > INT32_MAX) {
        result = INT32_MAX;
    } else if (result < INT32_MIN) {
        result = INT32_MIN;
    }
    value = static_cast<int32_t>(result);
}

bool XMLHelper::ReadDocument(const tinyxml2::XMLDocument& document, std::vector<ModuleConfig>& list,
                             ConfigReadListener& listener)
{
    // A document without any element has no root: treated like a root without
    // a project.
    const tinyxml2::XMLElement* root = document.FirstChildElement();
    const tinyxml2::XMLElement* firstProject = root ? root->FirstChildElement("project") : nullptr;
    if (!firstProject) {
        listener.OnGap(root ? root->GetLineNum() : 1, "can not find project node");
        return false;
    }

    // Only the first element of each level must carry the level's name; every
    // later sibling is taken as an element of the same level.
    for (const tinyxml2::XMLElement* project = firstProject; project; project = project->NextSiblingElement()) {
        listener.OnElement(ConfigLevel::Project, *project);
        const char* projectName = project->Attribute("name");
        if (!projectName) {
            listener.OnGap(project->GetLineNum(), "can not find name attr");
            continue;
        }
        std::string method;
        std::string manufacturer;

        const tinyxml2::XMLElement* firstProcessor = project->FirstChildElement("processor");
        if (!firstProcessor) {
            listener.OnGap(project->GetLineNum(), "can not find processor child element");
            continue;
        }
        for (const tinyxml2::XMLElement* processor = firstProcessor; processor;
             processor = processor->NextSiblingElement()) {
            listener.OnElement(ConfigLevel::Processor, *processor);
            manufacturer = AttributeOrEmpty(processor, "manufacturer");

            const tinyxml2::XMLElement* firstModule = processor->FirstChildElement("module");
            if (!firstModule) {
                // The project's remaining processors are not read.
                listener.OnGap(processor->GetLineNum(), "can not find module child element");
                break;
            }
            for (const tinyxml2::XMLElement* module = firstModule; module; module = module->NextSiblingElement()) {
                listener.OnElement(ConfigLevel::Module, *module);
                std::vector<DprSetting> dprs;
                if (const char* moduleMethod = module->Attribute("method")) {
                    method = moduleMethod;  // carried over to later modules of the project
                }

                const tinyxml2::XMLElement* firstDpr = module->FirstChildElement("dpr");
                if (!firstDpr) {
                    // The processor's remaining modules are not read.
                    listener.OnGap(module->GetLineNum(), "can not find dpr child element");
                    break;
                }
                for (const tinyxml2::XMLElement* dpr = firstDpr; dpr; dpr = dpr->NextSiblingElement()) {
                    listener.OnElement(ConfigLevel::Dpr, *dpr);
                    DprSetting setting;
                    setting.line = dpr->GetLineNum();
                    setting.mode = AttributeOrEmpty(dpr, "mode");
                    ReadNumberAttribute(dpr, "band", setting.band);
                    ReadNumberAttribute(dpr, "maxpower", setting.maxpower);
                    ReadNumberAttribute(dpr, "rowgrads", setting.rowgrads);
                    ReadNumberAttribute(dpr, "columngrads", setting.columngrads);
                    dprs.push_back(std::move(setting));
                }

                ModuleConfig entry;
                entry.projectName = projectName;
                entry.method = method;
                entry.manufacturer = manufacturer;
                entry.dprs = std::move(dprs);
                entry.processorLine = processor->GetLineNum();
                entry.line = module->GetLineNum();
                list.push_back(std::move(entry));
            }
        }
    }

    return true;
}

bool XMLHelper::ParseXMLContent()
{
    std::vector<ModuleConfig>& list = ProjectConfigList();
    list.clear();
    list.shrink_to_fit();

    std::string path;
    bool pathComplete = BuildConfigPath(path);

    tinyxml2::XMLDocument document;
    tinyxml2::XMLError error = pathComplete ? document.LoadFile(NativePath(path).c_str())
                                            : tinyxml2::XML_ERROR_FILE_NOT_FOUND;
    if (error != tinyxml2::XML_SUCCESS) {
        LogHelper::Log(LOG_LEVEL_ERROR, kFunction, "load xml file %s failed", path.c_str());
        LogHelper::Log(LOG_LEVEL_ERROR, kFunction, "xml file errorid: %s failed",
                       tinyxml2::XMLDocument::ErrorIDToName(error));
        return false;
    }

    LoggingListener listener;
    if (!ReadDocument(document, list, listener)) {
        return false;
    }
    LogHelper::Log(LOG_LEVEL_INFO, kFunction, "xml size = %d", static_cast<int>(list.size()));
    return true;
}
