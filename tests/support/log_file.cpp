#include "log_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "logging/log_helper.h"
#include "sim/machine.h"

namespace testsupport {

std::string LogFolder()
{
    return LogHelper::LogFolder();
}

std::vector<std::string> ShutdownAndReadLogLines()
{
    LogHelper::Shutdown();
    auto& fs = sim::Machine::Get().fileSystem();
    std::vector<std::string> lines;
    for (const auto& name : fs.List(LogFolder())) {
        std::ifstream in(fs.HostPath(LogFolder() + "\\" + name), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        std::string text = content.str();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                lines.push_back(text.substr(start));
                break;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
    }
    return lines;
}

std::vector<std::string> ShutdownAndReadLogPayloads()
{
    std::vector<std::string> payloads;
    const size_t stampLength = std::string("2024-03-03 08:15:42.123 ").size();
    for (const auto& line : ShutdownAndReadLogLines()) {
        payloads.push_back(line.size() >= stampLength ? line.substr(stampLength) : line);
    }
    return payloads;
}

std::vector<std::string> ShutdownAndReadLogMessages()
{
    std::vector<std::string> messages;
    for (const auto& payload : ShutdownAndReadLogPayloads()) {
        // "%08x " then the tag; level-5 lines have no thread id.
        bool tagged = payload.size() > 9 && payload[8] == ' ' &&
                      std::all_of(payload.begin(), payload.begin() + 8,
                                  [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
        messages.push_back(tagged ? payload.substr(9) : payload);
    }
    return messages;
}

bool AnyContains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

}  // namespace testsupport
