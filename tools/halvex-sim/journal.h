// The run's journal: an append-only file of records that the service processes
// write and the parent reads once they have ended. Each record is one line,
// written with one system call, so a process that dies keeps what it wrote.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace halvex_sim {

struct JournalRecord {
    std::string kind;
    std::vector<std::string> fields;
    std::string Field(size_t index) const { return index < fields.size() ? fields[index] : std::string(); }
};

class JournalWriter {
public:
    explicit JournalWriter(const std::string& path);
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    void Append(const std::string& kind, const std::vector<std::string>& fields = {});

private:
    std::mutex m_mutex;
    int m_fd = -1;
};

std::vector<JournalRecord> ReadJournal(const std::string& path);

}  // namespace halvex_sim
