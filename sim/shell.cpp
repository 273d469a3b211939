#include "sim/shell.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/file_system.h"

namespace sim {

namespace {

// One launch per line, fields separated by tabs; '%', tab and line breaks
// inside a text are written as %25, %09, %0A and %0D.
std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            char code[4];
            std::snprintf(code, sizeof(code), "%%%02X", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string Shell::RecordPath() const
{
    return m_files.Root() + "/shell-launches.txt";
}

bool Shell::Start(const Launch& launch, uint32_t& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure != 0) {
        error = m_failure;
        return false;
    }
    std::ofstream record(RecordPath(), std::ios::app);
    record << Escape(launch.verb) << '\t' << Escape(launch.file) << '\t' << Escape(launch.parameters) << '\t'
           << Escape(launch.directory) << '\t' << launch.show << '\t' << launch.mask << '\t' << launch.elapsedMs << '\n';
    return true;
}

void Shell::FailLaunches(uint32_t error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failure = error;
}

std::vector<Shell::Launch> Shell::Launches() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Launch> launches;
    std::ifstream record(RecordPath());
    std::string line;
    while (std::getline(record, line)) {
        std::istringstream fields(line);
        std::string verb, file, parameters, directory, show, mask, elapsed;
        std::getline(fields, verb, '\t');
        std::getline(fields, file, '\t');
        std::getline(fields, parameters, '\t');
        std::getline(fields, directory, '\t');
        std::getline(fields, show, '\t');
        std::getline(fields, mask, '\t');
        std::getline(fields, elapsed, '\t');
        launches.push_back(Launch{Unescape(verb), Unescape(file), Unescape(parameters), Unescape(directory),
                                  std::stoi(show), static_cast<uint32_t>(std::stoul(mask)), std::stoull(elapsed)});
    }
    return launches;
}

void Shell::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failure = 0;
    std::remove(RecordPath().c_str());
}

}  // namespace sim
