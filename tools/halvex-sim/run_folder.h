// The folder a run keeps its laptop in: the modem's memory, the files, the
// journal. It outlives the run so that the report's log and dump paths stay
// valid; a new run removes the folders of runs that ended more than a day ago.
#pragma once

#include <chrono>
#include <string>

namespace halvex_sim {

class RunFolder {
public:
    // Creates a new folder under $TMPDIR (or /tmp) and marks it in use for as
    // long as this object lives (child processes share the mark).
    RunFolder();
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    int m_inUse = -1;
};

// Removes the run folders under `parent` that no run holds and that have not
// changed for `age`. Anything else there is left alone.
void RemoveStaleRunFolders(const std::string& parent, std::chrono::hours age);

}  // namespace halvex_sim
