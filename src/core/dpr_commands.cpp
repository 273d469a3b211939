// The DPR vocabulary: the "sarcfg" query and set commands, and the reading of
// the modem's "+VCFG:" reply.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "config/config_model.h"
#include "core/split_string.h"
#include "core/state/halvex_service.h"
#include "logging/log_helper.h"

namespace {

const char* const kParse = "CHalvexService::parseResultAndCompare";

// printf-style into the zero-filled 128-byte command buffer. A command that
// does not fit would be cut, so it is refused: the result is empty.
std::string FormatCommand(const char* format, ...) HALVEX_PRINTF_FORMAT(1, 2);
std::string FormatCommand(const char* format, ...)
{
    char buffer[128] = {};
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) >= sizeof(buffer)) {
        return std::string();
    }
    return std::string(buffer);
}

bool IsBandedMode(const std::string& mode)
{
    return mode == "LTE" || mode == "WCDMA";
}

bool IsUnbandedMode(const std::string& mode)
{
    return mode == "GSM" || mode == "LTE_WCDMA";
}

// Leading white space, an optional sign, decimal digits up to the first other
// character; no digits give 0, values beyond 32 bits the nearest limit.
int32_t FieldToInt(const std::string& field)
{
    const long long value = std::strtoll(field.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

std::vector<std::string> splitString(std::string text, std::string delimiters)
{
    // Delimiters become the first one before the quotes go, so a quote in the set
    // cuts the text (unless it is the first delimiter, which then vanishes with the quotes).
    if (!delimiters.empty()) {
        for (char& c : text) {
            if (delimiters.find(c) != std::string::npos) {
                c = delimiters[0];
            }
        }
    }
    std::string unquoted;
    for (char c : text) {
        if (c != '"') {
            unquoted += c;
        }
    }
    if (delimiters.empty()) {
        return {unquoted};
    }
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t cut = unquoted.find(delimiters[0]); cut != std::string::npos;
         cut = unquoted.find(delimiters[0], start)) {
        fields.push_back(unquoted.substr(start, cut - start));
        start = cut + 1;
    }
    fields.push_back(unquoted.substr(start));
    return fields;
}

std::string CHalvexService::formatQueryCommand(const DprSetting& setting)
{
    if (IsBandedMode(setting.mode)) {
        return FormatCommand("at+vcfg=\"sarcfg\",\"%s\",%d\r\n", setting.mode.c_str(), setting.band);
    }
    if (IsUnbandedMode(setting.mode)) {
        return FormatCommand("at+vcfg=\"sarcfg\",\"%s\"\r\n", setting.mode.c_str());
    }
    return std::string();
}

std::string CHalvexService::formatConfigCommand(const DprSetting& setting)
{
    // The band comes last.
    if (IsBandedMode(setting.mode)) {
        return FormatCommand("at+vcfg=\"sarcfg\",\"%s\",%d,%d,%d,%d\r\n", setting.mode.c_str(), setting.maxpower,
                             setting.rowgrads, setting.columngrads, setting.band);
    }
    if (IsUnbandedMode(setting.mode)) {
        return FormatCommand("at+vcfg=\"sarcfg\",\"%s\",%d,%d,%d\r\n", setting.mode.c_str(), setting.maxpower,
                             setting.rowgrads, setting.columngrads);
    }
    return std::string();
}

bool CHalvexService::parseResultAndCompare(std::string reply, const DprSetting& setting)
{
    for (char& c : reply) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    static const std::string kPrefix = "+VCFG:";
    const size_t found = reply.find(kPrefix);
    if (found == std::string::npos) {
        LogHelper::Log(LOG_LEVEL_ERROR, kParse, "didn't find +VCFG:");
        return false;
    }
    // The rest of the +VCFG line; a CR before its LF stays in the last field.
    std::string line = reply.substr(found + kPrefix.size());
    line = line.substr(0, line.find('\n'));

    const std::vector<std::string> fields = splitString(line, ",");
    if (fields.size() != 5) {
        LogHelper::Log(LOG_LEVEL_ERROR, kParse, "format error. need 4 comma");
        return false;
    }
    // Field 0 is the keyword and the band is never in the reply.
    if (fields[1] == setting.mode && FieldToInt(fields[2]) == setting.maxpower &&
        FieldToInt(fields[3]) == setting.rowgrads && FieldToInt(fields[4]) == setting.columngrads) {
        return true;
    }
    LogHelper::Log(LOG_LEVEL_INFO, kParse,
                   "expect config dpr mode = %s band = %d maxpower = %d rowgrads = %d columngrads = %d>",
                   setting.mode.c_str(), setting.band, setting.maxpower, setting.rowgrads, setting.columngrads);
    LogHelper::Log(LOG_LEVEL_INFO, kParse, "WARNING! the dpr setting is not name. need to reconfig.");
    return false;
}
