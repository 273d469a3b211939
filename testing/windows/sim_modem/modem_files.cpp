#include "modem_files.h"

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "sim/modem_tk42n.h"

namespace sim_modem {

namespace {

std::string Trim(const std::string& text)
{
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return std::string();
    }
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool ToNumber(const std::string& text, long long low, long long high, long long& value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' && value >= low && value <= high;
}

// Calls `line(number, text)` for each line that is neither blank nor a comment;
// stops at the first false.
template <class Line>
bool ForEachLine(const std::string& text, Line line)
{
    std::istringstream lines(text);
    std::string raw;
    for (int number = 1; std::getline(lines, raw); ++number) {
        const std::string content = Trim(raw);
        if (content.empty() || content[0] == '#') {
            continue;
        }
        if (!line(number, content)) {
            return false;
        }
    }
    return true;
}

std::string LineError(int number, const std::string& what)
{
    return "line " + std::to_string(number) + ": " + what;
}

bool IsInterfaceId(const std::string& id)
{
    static const char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (id.size() != sizeof(kShape) - 1) {
        return false;
    }
    for (size_t i = 0; i < id.size(); ++i) {
        const bool hex = std::isxdigit(static_cast<unsigned char>(id[i])) != 0;
        if (kShape[i] == 'X' ? !hex : id[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

std::string LocalStamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return stamp;
}

}  // namespace

bool ParseSettings(const std::string& text, Settings& settings, std::string& error)
{
    return ForEachLine(text, [&](int number, const std::string& line) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            error = LineError(number, "expected key=value");
            return false;
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        long long number_value = 0;
        if (key == "interface" && IsInterfaceId(value)) {
            settings.interfaceId = value;
        } else if (key == "state" && (value == "up" || value == "dormant")) {
            settings.operStatus = value == "up" ? 1 : 5;
        } else if (key == "latency-ms" && ToNumber(value, 0, 600000, number_value)) {
            settings.latencyMs = static_cast<uint32_t>(number_value);
        } else if (key == "removal-ms" && ToNumber(value, 0, 600000, number_value)) {
            settings.removalMs = static_cast<uint32_t>(number_value);
        } else if (key == "away-ms" && value == "never") {
            settings.awayMs = sim::MobileBroadband::kStaysAway;
        } else if (key == "away-ms" && ToNumber(value, 0, 600000, number_value)) {
            settings.awayMs = static_cast<uint32_t>(number_value);
        } else {
            error = LineError(number, "unknown key or bad value in \"" + line + "\"");
            return false;
        }
        return true;
    });
}

bool ParseTable(const std::string& text, SarTable& table, std::string& error)
{
    return ForEachLine(text, [&](int number, const std::string& line) {
        std::istringstream fields(line);
        std::string mode;
        std::string band;
        std::string values[3];
        std::string extra;
        fields >> mode >> band >> values[0] >> values[1] >> values[2];
        if (!fields || (fields >> extra) || !sim::Tk42nModem::IsKnownMode(mode)) {
            error = LineError(number, "expected MODE BAND MAXPOWER ROWGRADS COLUMNGRADS, found \"" + line + "\"");
            return false;
        }
        long long parsed[4] = {};
        if (!ToNumber(band, 0, INT32_MAX, parsed[0]) || (!sim::Tk42nModem::IsBandedMode(mode) && parsed[0] != 0)) {
            error = LineError(number, "bad band \"" + band + "\" for " + mode);
            return false;
        }
        for (int i = 0; i < 3; ++i) {
            if (!ToNumber(values[i], INT32_MIN, INT32_MAX, parsed[i + 1])) {
                error = LineError(number, "bad number \"" + values[i] + "\"");
                return false;
            }
        }
        table[{mode, static_cast<int32_t>(parsed[0])}] = sim::SarValues{
            static_cast<int32_t>(parsed[1]), static_cast<int32_t>(parsed[2]), static_cast<int32_t>(parsed[3])};
        return true;
    });
}

std::string FormatTable(const SarTable& table)
{
    std::string text = "# MODE BAND MAXPOWER ROWGRADS COLUMNGRADS (written by the simulated modem)\r\n";
    for (const auto& [key, values] : table) {
        text += key.first + " " + std::to_string(key.second) + " " + std::to_string(values.maxpower) + " " +
                std::to_string(values.rowgrads) + " " + std::to_string(values.columngrads) + "\r\n";
    }
    return text;
}

std::string Escape(const std::string& text)
{
    std::string escaped;
    for (unsigned char c : text) {
        if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\\') {
            escaped += "\\\\";
        } else if (c < 0x20 || c > 0x7E) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            escaped += hex;
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

Transcript::Transcript(const std::wstring& path) : m_file(_wfopen(path.c_str(), L"ab")) {}

Transcript::~Transcript()
{
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

void Transcript::Write(const std::string& event, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file == nullptr) {
        return;
    }
    std::string line = LocalStamp() + " " + std::to_string(GetCurrentProcessId()) + " " + event;
    if (!text.empty()) {
        line += " " + Escape(text);
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
}

void Transcript::Write(const sim::MobileBroadband::Activity& activity)
{
    using Kind = sim::MobileBroadband::Activity::Kind;
    const sim::MobileBroadband::TranscriptEntry& entry = activity.command;
    switch (activity.kind) {
    case Kind::SessionOpened:
        Write("open");
        return;
    case Kind::SessionClosed:
        Write("close");
        return;
    case Kind::Left:
        Write("left");
        return;
    case Kind::Returned:
        Write("returned");
        return;
    case Kind::Command:
        break;
    }
    if (!entry.accepted) {
        char result[16];
        std::snprintf(result, sizeof(result), "0x%08lX", static_cast<unsigned long>(entry.callResult));
        Write("refused", std::to_string(entry.commandId) + " " + result + " " + entry.command);
    } else if (entry.commandId == sim::MobileBroadband::kAtCommandId) {
        Write(">", entry.command);
        Write("<", entry.reply);
    } else if (entry.commandId == sim::MobileBroadband::kRebootCommandId && entry.command == "00 11") {
        Write("reboot");
    } else {
        Write("command", std::to_string(entry.commandId) + " " + entry.command);
    }
}

bool ReadFileText(const std::wstring& path, std::string& text)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return false;
    }
    text.clear();
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        text.append(buffer, got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool ReplaceFileText(const std::wstring& path, const std::string& text)
{
    const std::wstring temporary = path + L".new";
    FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed && MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace sim_modem
