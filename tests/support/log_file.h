// Reading back what the service logged in the simulated laptop.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Windows path of the log folder ("C:\\ProgramData\\Varnick Wireless Inc\\DPR Service").
std::string LogFolder();

// Shuts the logging down (so every queued line is written), then returns the
// lines of every log file in the folder, oldest name first, without their CR LF
// ends and without the leading "YYYY-MM-DD HH:MM:SS.mmm " stamp.
std::vector<std::string> ShutdownAndReadLogPayloads();

// The payloads with the thread id removed as well: "e :   text", "i :   text",
// "h :   Function, text", "h : + Function". Bare (level 5) lines stay as they are.
std::vector<std::string> ShutdownAndReadLogMessages();

// True when some message of the list contains the text.
bool AnyContains(const std::vector<std::string>& lines, const std::string& text);

}  // namespace testsupport
