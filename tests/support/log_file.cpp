#include "log_file.h"

#include <algorithm>
#include <cctype>

#include "logging/log_helper.h"
#include "sim/machine.h"

namespace testsupport {

std::string LogFolder()
{
    return LogHelper::LogFolder();
}

std::vector<std::string> ShutdownAndReadLogPayloads()
{
    LogHelper::Shutdown();
    auto& fs = sim::Machine::Get().fileSystem();
    const size_t stampLength = std::string("2024-03-03 08:15:42.123 ").size();
    std::vector<std::string> payloads;
    for (const auto& name : fs.List(LogFolder())) {
        std::string text = fs.ReadFile(LogFolder() + "\\" + name);
        for (size_t start = 0, end; start < text.size(); start = end + 2) {
            end = std::min(text.find("\r\n", start), text.size());
            std::string line = text.substr(start, end - start);
            payloads.push_back(line.size() >= stampLength ? line.substr(stampLength) : line);
        }
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
