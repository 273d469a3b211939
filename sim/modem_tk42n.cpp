#include "sim/modem_tk42n.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace sim {

namespace {

struct Argument {
    bool quoted = false;
    std::string text;
};

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

std::string Trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Splits "a","b",1,2 into its arguments; false on an unterminated quote or
// text around a quoted value.
bool ParseArguments(const std::string& text, std::vector<Argument>& arguments)
{
    size_t pos = 0;
    while (true) {
        size_t comma = pos;
        bool inQuotes = false;
        while (comma < text.size() && (inQuotes || text[comma] != ',')) {
            if (text[comma] == '"') {
                inQuotes = !inQuotes;
            }
            ++comma;
        }
        if (inQuotes) {
            return false;
        }
        const std::string piece = Trim(text.substr(pos, comma - pos));
        Argument argument;
        if (!piece.empty() && piece.front() == '"') {
            if (piece.size() < 2 || piece.back() != '"' || piece.find('"', 1) != piece.size() - 1) {
                return false;
            }
            argument.quoted = true;
            argument.text = piece.substr(1, piece.size() - 2);
        } else {
            if (piece.find('"') != std::string::npos) {
                return false;
            }
            argument.text = piece;
        }
        arguments.push_back(argument);
        if (comma >= text.size()) {
            return true;
        }
        pos = comma + 1;
    }
}

bool ToInt(const Argument& argument, int32_t& value)
{
    const std::string& text = argument.text;
    if (argument.quoted || text.empty()) {
        return false;
    }
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    for (size_t j = i; j < text.size(); ++j) {
        if (!std::isdigit(static_cast<unsigned char>(text[j]))) {
            return false;
        }
    }
    if (text.size() - i > 11) {
        return false;
    }
    const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(parsed);
    return true;
}

const char kOk[] = "\r\nOK\r\n";
const char kError[] = "\r\nERROR\r\n";

std::string QueryLine(const std::string& mode, const SarValues& values)
{
    return "\r\n+VCFG: \"sarcfg\",\"" + mode + "\"," + std::to_string(values.maxpower) + "," +
           std::to_string(values.rowgrads) + "," + std::to_string(values.columngrads) + "\r\n\r\nOK\r\n";
}

}  // namespace

bool Tk42nModem::IsKnownMode(const std::string& mode)
{
    return mode == "LTE" || mode == "WCDMA" || mode == "GSM" || mode == "LTE_WCDMA";
}

bool Tk42nModem::IsBandedMode(const std::string& mode)
{
    return mode == "LTE" || mode == "WCDMA";
}

void Tk42nModem::SetSar(const std::string& mode, int32_t band, SarValues values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_table[{mode, IsBandedMode(mode) ? band : 0}] = values;
}

SarValues Tk42nModem::Sar(const std::string& mode, int32_t band) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_table.find({mode, IsBandedMode(mode) ? band : 0});
    return it == m_table.end() ? kFactoryValues : it->second;
}

std::map<std::pair<std::string, int32_t>, SarValues> Tk42nModem::WrittenEntries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_table;
}

std::string Tk42nModem::Execute(const std::string& command)
{
    std::string reply;
    std::function<void(const std::string&)> listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reply = Answer(command);
        listener = m_commandListener;
    }
    if (listener) {
        listener(command);
    }
    return reply;
}

void Tk42nModem::SetCommandListener(std::function<void(const std::string& command)> listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commandListener = std::move(listener);
}

// Runs one command under m_mutex.
std::string Tk42nModem::Answer(const std::string& command)
{
    std::string body = command;
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) {
        body.resize(body.size() - 2);
    } else if (!body.empty() && body.back() == '\r') {
        body.pop_back();
    } else {
        return Spoil(command, kError, false, "", {});
    }
    if (body.find_first_of("\r\n") != std::string::npos) {
        return Spoil(command, kError, false, "", {});
    }

    std::vector<Argument> args;
    if (StartsWithNoCase(body, "AT+VCFG=") && ParseArguments(body.substr(8), args) && args.size() >= 2 &&
        args[0].quoted) {
        const std::string keyword = Lower(args[0].text);
        if (keyword == "sarcfg" && args[1].quoted && IsKnownMode(args[1].text)) {
            const std::string& mode = args[1].text;
            const bool banded = IsBandedMode(mode);
            const size_t queryCount = banded ? 3 : 2;
            const size_t setCount = banded ? 6 : 5;
            if (args.size() == queryCount) {
                int32_t band = 0;
                if (banded && !ToInt(args[2], band)) {
                    return Spoil(command, kError, false, "", {});
                }
                auto it = m_table.find({mode, band});
                const SarValues values = it == m_table.end() ? kFactoryValues : it->second;
                return Spoil(command, QueryLine(mode, values), true, mode, values);
            }
            if (args.size() == setCount) {
                SarValues values;
                int32_t band = 0;
                if (!ToInt(args[2], values.maxpower) || !ToInt(args[3], values.rowgrads) ||
                    !ToInt(args[4], values.columngrads) || (banded && !ToInt(args[5], band))) {
                    return Spoil(command, kError, false, "", {});
                }
                m_table[{mode, band}] = values;
                ++m_setCount;
                return Spoil(command, kOk, false, "", {});
            }
        } else if (keyword == "rf/sar/gpioctl" && args.size() == 3) {
            int32_t a = 0;
            int32_t b = 0;
            if (ToInt(args[1], a) && ToInt(args[2], b)) {
                m_pinCommands.push_back(body);
                return Spoil(command, kOk, false, "", {});
            }
        }
    } else if (StartsWithNoCase(body, "AT+VSAR=")) {
        args.clear();
        int32_t a = 0;
        int32_t b = 0;
        if (ParseArguments(body.substr(8), args) && args.size() == 2 && ToInt(args[0], a) && ToInt(args[1], b)) {
            m_pinCommands.push_back(body);
            return Spoil(command, kOk, false, "", {});
        }
    }
    return Spoil(command, kError, false, "", {});
}

std::string Tk42nModem::Spoil(const std::string& command, std::string reply, bool isQuery, const std::string& mode,
                              const SarValues& values)
{
    for (FaultEntry& entry : m_faults) {
        if (entry.times == 0 || (!entry.match.empty() && command.find(entry.match) == std::string::npos)) {
            continue;
        }
        if (entry.times > 0) {
            --entry.times;
        }
        switch (entry.fault) {
        case ReplyFault::LowerCase:
            return Lower(reply);
        case ReplyFault::ExtraQuotesAndBlanks:
            if (!isQuery) {
                return reply;
            }
            return "\r\n+VCFG:  \"sarcfg\" ,\"" + mode + "\", \"" + std::to_string(values.maxpower) + "\" , \"" +
                   std::to_string(values.rowgrads) + "\",  \"" + std::to_string(values.columngrads) +
                   "\"  \r\n\r\nOK\r\n";
        case ReplyFault::Scripted:
            return entry.script;
        case ReplyFault::Garbage:
            return "\r\n\x7F\x1B[0m#\xFE\xED+VCF\x01G;?\xC3\x28~\r\n";
        case ReplyFault::Oversized: {
            static const char kFiller[] = "\r\n+VDBG: 0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ";
            if (reply.size() < entry.length) {
                while (reply.size() < entry.length) {
                    reply += kFiller;
                }
                reply.resize(entry.length);
            }
            return reply;
        }
        }
    }
    return reply;
}

std::vector<std::string> Tk42nModem::PinCommands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pinCommands;
}

int Tk42nModem::SetCommandCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_setCount;
}

void Tk42nModem::InjectReplyFault(ReplyFault fault, const std::string& match, int times, size_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back(FaultEntry{fault, match, times, length, std::string()});
}

void Tk42nModem::ScriptReply(const std::string& match, const std::string& reply, int times)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back(FaultEntry{ReplyFault::Scripted, match, times, 0, reply});
}

void Tk42nModem::Reboot()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_bootCount;
}

uint32_t Tk42nModem::BootCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootCount;
}

void Tk42nModem::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_table.clear();
    m_pinCommands.clear();
    m_faults.clear();
    m_commandListener = nullptr;
    m_setCount = 0;
    m_bootCount = 1;
}

}  // namespace sim
