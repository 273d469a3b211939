#include "sim/shell.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/file_system.h"
#include "sim/machine.h"
#include "sim/service_database.h"

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

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A decimal number of at most nine digits (every process id and count the
// laptop uses fits).
std::optional<uint32_t> Number(const std::string& text)
{
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

// The program a command names, as cmd.exe finds it: without regard to case,
// with or without ".exe".
std::string ProgramName(const std::string& word)
{
    std::string name = ToLowerAscii(word);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) {
        name.resize(name.size() - 4);
    }
    return name;
}

std::string Joined(const std::vector<std::string>& arguments)
{
    std::string text;
    for (const std::string& argument : arguments) {
        text += (text.empty() ? "" : " ") + argument;
    }
    return text;
}

using Effect = Shell::Effect;

Effect Refused(const std::string& why)
{
    return Effect{Effect::Kind::Refused, 0, 0, why};
}

// taskkill /pid N /f: only the service's own process runs on the laptop, and
// without /f a service's process (it has no window) is not ended.
Effect Taskkill(const std::vector<std::string>& arguments, uint32_t serviceProcessId)
{
    std::optional<uint32_t> processId;
    bool force = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string option = ToLowerAscii(arguments[i]);
        if (option == "/pid" && i + 1 < arguments.size()) {
            processId = Number(arguments[++i]);
            if (!processId) {
                return Refused("\"" + Joined(arguments) + "\": not a process id");
            }
        } else if (option == "/f") {
            force = true;
        } else {
            return Refused("\"" + Joined(arguments) + "\": invalid argument \"" + arguments[i] + "\"");
        }
    }
    if (!processId) {
        return Refused("\"" + Joined(arguments) + "\": no /pid");
    }
    if (*processId == 0 || *processId != serviceProcessId) {
        return Refused("\"" + Joined(arguments) + "\": the process \"" + std::to_string(*processId) +
                       "\" not found (the service's process is " + std::to_string(serviceProcessId) + ")");
    }
    if (!force) {
        return Refused("\"" + Joined(arguments) + "\": the service's process can only be ended with /f");
    }
    return Effect{Effect::Kind::Kill, *processId, 0, ""};
}

// net start NAME: the name of an installed service, as one argument.
Effect NetStart(const std::vector<std::string>& arguments, const ServiceDatabase& services)
{
    if (arguments.size() != 3 || ToLowerAscii(arguments[1]) != "start") {
        return Refused("\"" + Joined(arguments) + "\": not a net start of one service");
    }
    if (!services.IsInstalled(arguments[2])) {
        return Refused("\"" + Joined(arguments) + "\": The service name is invalid.");
    }
    return Effect{Effect::Kind::Start, 0, 0, arguments[2]};
}

// ping [-n N] 127.0.0.1: the local machine answers at once; ping waits a
// second between echoes. The laptop has no other host to reach.
Effect Ping(const std::vector<std::string>& arguments)
{
    uint32_t count = 4;
    std::string host;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string option = ToLowerAscii(arguments[i]);
        if ((option == "-n" || option == "/n") && i + 1 < arguments.size()) {
            const std::optional<uint32_t> n = Number(arguments[++i]);
            if (!n || *n == 0 || *n > 3600) {
                return Refused("\"" + Joined(arguments) + "\": bad value for option -n");
            }
            count = *n;
        } else if (host.empty() && option[0] != '-' && option[0] != '/') {
            host = option;
        } else {
            return Refused("\"" + Joined(arguments) + "\": invalid argument \"" + arguments[i] + "\"");
        }
    }
    if (host != "127.0.0.1" && host != "localhost") {
        return Refused("\"" + Joined(arguments) + "\": the laptop reaches no host but itself");
    }
    return Effect{Effect::Kind::Wait, 0, (count - 1) * 1000 + 1, ""};
}

}  // namespace

std::optional<std::vector<std::vector<std::string>>> CmdCommands(const std::string& parameters,
                                                                 std::string& problem)
{
    size_t at = 0;
    while (at < parameters.size() && IsBlank(parameters[at])) {
        ++at;
    }
    const bool slashC = at + 1 < parameters.size() && parameters[at] == '/' &&
                        std::tolower(static_cast<unsigned char>(parameters[at + 1])) == 'c' &&
                        (at + 2 == parameters.size() || IsBlank(parameters[at + 2]));
    if (!slashC) {
        problem = "cmd.exe without /C runs no command";
        return std::nullopt;
    }
    std::vector<std::vector<std::string>> commands(1);
    std::string argument;
    bool inArgument = false;
    bool quoted = false;        // inside double quotes
    bool wasQuoted = false;     // the argument has quotes (so it is no handle number)
    bool redirectTarget = false;  // the next argument is the target of a redirection
    auto endArgument = [&] {
        if (inArgument) {
            if (redirectTarget) {
                redirectTarget = false;
            } else {
                commands.back().push_back(argument);
            }
        }
        argument.clear();
        inArgument = false;
        wasQuoted = false;
    };
    for (size_t i = at + 2; i < parameters.size(); ++i) {
        const char c = parameters[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else {
                argument += c;
            }
            continue;
        }
        const char next = i + 1 < parameters.size() ? parameters[i + 1] : '\0';
        if (c == '"') {
            quoted = true;
            inArgument = true;
            wasQuoted = true;
        } else if (c == '^') {
            if (next != '\0') {
                argument += next;
                inArgument = true;
                ++i;
            }
        } else if (IsBlank(c)) {
            endArgument();
        } else if (c == '&' || c == '|') {
            if (c == '|' || next == '&') {
                problem = std::string("\"") + c + (next == c ? std::string(1, c) : "") +
                          "\" is not run by this reading of cmd.exe";
                return std::nullopt;
            }
            endArgument();
            if (redirectTarget) {
                problem = "a redirection without a target";
                return std::nullopt;
            }
            commands.emplace_back();
        } else if (c == '>' || c == '<') {
            // A single digit right before the operator names the handle redirected.
            const bool handle = inArgument && !wasQuoted && argument.size() == 1 &&
                                std::isdigit(static_cast<unsigned char>(argument[0]));
            if (handle) {
                argument.clear();
                inArgument = false;
            } else {
                endArgument();
            }
            if (c == '>' && next == '>') {
                ++i;
            }
            if (i + 1 < parameters.size() && parameters[i + 1] == '&') {
                // ">&1": onto another handle, no target word.
                i += 2;
            } else {
                redirectTarget = true;
            }
        } else {
            argument += c;
            inArgument = true;
        }
    }
    endArgument();
    if (redirectTarget) {
        problem = "a redirection without a target";
        return std::nullopt;
    }
    for (const auto& command : commands) {
        if (command.empty()) {
            problem = "an empty command next to \"&\"";
            return std::nullopt;
        }
    }
    return commands;
}

std::vector<Shell::Effect> Shell::Effects(const Launch& launch, uint32_t serviceProcessId,
                                          const ServiceDatabase& services)
{
    std::string file = ToLowerAscii(launch.file);
    file = file.substr(file.find_last_of("\\/") + 1);
    if (file != "cmd.exe" && file != "cmd") {
        return {Refused("\"" + launch.file + "\" is not cmd.exe: nothing runs")};
    }
    std::string problem;
    const auto commands = CmdCommands(launch.parameters, problem);
    if (!commands) {
        return {Refused(problem + ": nothing runs")};
    }
    // Each command runs whatever the one before it did, as `&` asks.
    std::vector<Effect> effects;
    for (const std::vector<std::string>& arguments : *commands) {
        const std::string program = ProgramName(arguments[0]);
        if (program == "taskkill") {
            effects.push_back(Taskkill(arguments, serviceProcessId));
        } else if (program == "net") {
            effects.push_back(NetStart(arguments, services));
        } else if (program == "ping") {
            effects.push_back(Ping(arguments));
        } else {
            effects.push_back(Refused("\"" + Joined(arguments) + "\": not a command the laptop runs"));
        }
    }
    return effects;
}

bool Shell::Kills(const std::vector<Effect>& effects, uint32_t processId)
{
    for (const Effect& effect : effects) {
        if (effect.kind == Effect::Kind::Kill && effect.processId == processId) {
            return true;
        }
    }
    return false;
}

bool Shell::StartsService(const std::vector<Effect>& effects)
{
    for (const Effect& effect : effects) {
        if (effect.kind == Effect::Kind::Start) {
            return true;
        }
    }
    return false;
}

uint32_t Shell::WaitMs(const std::vector<Effect>& effects)
{
    uint32_t ms = 0;
    for (const Effect& effect : effects) {
        if (effect.kind == Effect::Kind::Wait) {
            ms += effect.ms;
        }
    }
    return ms;
}

std::string Shell::Describe(const std::vector<Effect>& effects)
{
    std::string text;
    for (const Effect& effect : effects) {
        text += text.empty() ? "" : "; ";
        switch (effect.kind) {
        case Effect::Kind::Kill: text += "ended process " + std::to_string(effect.processId); break;
        case Effect::Kind::Wait: text += "waited " + std::to_string(effect.ms) + " ms"; break;
        case Effect::Kind::Start: text += "started \"" + effect.text + "\""; break;
        case Effect::Kind::Refused: text += "refused " + effect.text; break;
        }
    }
    return text;
}

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
