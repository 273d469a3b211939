// The simulated modem's files beside the server's DLL, through which the
// check under Wine sets it up and reads what it did:
//  - sim-modem.ini (read when the server is first used): `key=value` lines,
//    `#` comments; interface (the GUID in braces), state (up or dormant),
//    latency-ms (each command's answer time), removal-ms and away-ms (a
//    reboot's departure and absence; away-ms=never: it does not come back);
//  - sim-modem-table.txt: the SAR table, the modem's non-volatile memory,
//    `MODE BAND MAXPOWER ROWGRADS COLUMNGRADS` a line (BAND 0 for GSM and
//    LTE_WCDMA); read at the first use and written again after every change,
//    so the next service process meets the modem as the last one left it;
//  - sim-modem-transcript.txt: appended, one line per event with its local
//    time and process id: `open`, `close`, `> AT text`, `< reply`, `refused`,
//    `reboot`, `left`, `returned`, `error` (control characters as \r \n \xNN).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "sim/mbn_sim.h"

namespace sim_modem {

struct Settings {
    std::string interfaceId = sim::MobileBroadband::kDefaultInterfaceId;
    uint32_t operStatus = 1;  // IfOperStatusUp; 5 is dormant
    uint32_t latencyMs = 0;
    uint32_t removalMs = 20;
    uint32_t awayMs = 2000;  // sim::MobileBroadband::kStaysAway: never back
};

using SarTable = std::map<std::pair<std::string, int32_t>, sim::SarValues>;

// Parsers of the two input files; false with `error` naming the line.
bool ParseSettings(const std::string& text, Settings& settings, std::string& error);
bool ParseTable(const std::string& text, SarTable& table, std::string& error);
std::string FormatTable(const SarTable& table);

// Control characters and bytes above 0x7E as escapes, so one event is one line.
std::string Escape(const std::string& text);

// The transcript: lines appended and flushed one at a time.
class Transcript {
public:
    explicit Transcript(const std::wstring& path);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void Write(const std::string& event, const std::string& text = std::string());
    // One line for what the modem did.
    void Write(const sim::MobileBroadband::Activity& activity);

private:
    std::mutex m_mutex;
    FILE* m_file = nullptr;
};

// A whole file's bytes; false when it cannot be read.
bool ReadFileText(const std::wstring& path, std::string& text);
// Replaces the file in one step (written beside it, then moved over it).
bool ReplaceFileText(const std::wstring& path, const std::string& text);

}  // namespace sim_modem
