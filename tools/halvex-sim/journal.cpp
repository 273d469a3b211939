#include "journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace halvex_sim {
namespace {

// Fields are tab-separated; tabs, line ends and backslashes inside them are escaped.
std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

std::vector<std::string> SplitUnescaped(const std::string& line)
{
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            parts.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            parts.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

}  // namespace

JournalWriter::JournalWriter(const std::string& path)
    : m_fd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644))
{
    if (m_fd < 0) {
        throw std::runtime_error("cannot open the journal " + path);
    }
}

JournalWriter::~JournalWriter()
{
    close(m_fd);
}

void JournalWriter::Append(const std::string& kind, const std::vector<std::string>& fields)
{
    std::string line = Escape(kind);
    for (const std::string& field : fields) {
        line += '\t' + Escape(field);
    }
    line += '\n';
    std::lock_guard<std::mutex> lock(m_mutex);
    // O_APPEND and one write per record: records never interleave.
    if (write(m_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        throw std::runtime_error("cannot write the journal");
    }
}

std::vector<JournalRecord> ReadJournal(const std::string& path)
{
    std::vector<JournalRecord> records;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> parts = SplitUnescaped(line);
        JournalRecord record;
        record.kind = parts.front();
        record.fields.assign(parts.begin() + 1, parts.end());
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace halvex_sim
