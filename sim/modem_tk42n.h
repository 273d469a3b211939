// The TK42-N LTE modem as the vendor device service reaches it: a SAR
// configuration table per radio mode (and per band for "LTE" and "WCDMA")
// that survives reboots, an AT command engine for the service's vocabulary,
// the DPR pin commands it has been given, and reply faults.
//
// Execute() takes one command text exactly as sent (ending in CR LF) and
// returns the reply text, CR LF framed, without the zero-byte header the
// transport adds:
//   at+vcfg="sarcfg","LTE",<band>\r\n / at+vcfg="sarcfg","GSM"\r\n
//       -> \r\n+VCFG: "sarcfg","<MODE>",<maxpower>,<rowgrads>,<columngrads>\r\n\r\nOK\r\n
//   at+vcfg="sarcfg","LTE",<mp>,<rg>,<cg>,<band>\r\n / ...,"GSM",<mp>,<rg>,<cg>\r\n
//       -> stores the values, \r\nOK\r\n
//   at+vcfg="rf/sar/gpioctl",<a>,<b>\r\n and at+vsar=<a>,<b>\r\n -> recorded, \r\nOK\r\n
//   anything else (unknown mode, wrong number of values, no CR) -> \r\nERROR\r\n
// The command name and the "sarcfg" keyword are matched without regard to
// case; modes are matched exactly.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct SarValues {
    int32_t maxpower = 0;
    int32_t rowgrads = 0;
    int32_t columngrads = 0;
    bool operator==(const SarValues& other) const
    {
        return maxpower == other.maxpower && rowgrads == other.rowgrads && columngrads == other.columngrads;
    }
    bool operator!=(const SarValues& other) const { return !(*this == other); }
};

// How a reply is spoiled.
enum class ReplyFault {
    LowerCase,             // the whole reply in lower case
    ExtraQuotesAndBlanks,  // +VCFG values in double quotes with blanks around them
    Garbage,               // bytes that are no answer at all
    Oversized,             // the reply followed by filler lines, longer than 1023 bytes
    Scripted,              // the reply replaced by a text the test gives (ScriptReply)
};

class Tk42nModem {
public:
    static constexpr SarValues kFactoryValues{24, 0, 0};

    Tk42nModem() = default;

    // "LTE", "WCDMA", "GSM" and "LTE_WCDMA"; the first two are kept per band.
    static bool IsKnownMode(const std::string& mode);
    static bool IsBandedMode(const std::string& mode);

    // The table (the band is ignored for modes without bands). Entries never
    // written hold kFactoryValues.
    void SetSar(const std::string& mode, int32_t band, SarValues values);
    SarValues Sar(const std::string& mode, int32_t band = 0) const;
    // The entries written so far, by mode and band (0 for modes without bands).
    std::map<std::pair<std::string, int32_t>, SarValues> WrittenEntries() const;

    // One AT command; see the header comment.
    std::string Execute(const std::string& command);
    // Called after every executed command, outside the modem's lock, on the
    // thread that sent it; an empty listener clears it.
    void SetCommandListener(std::function<void(const std::string& command)> listener);

    // The pin commands received, as sent without their CR LF, in order.
    std::vector<std::string> PinCommands() const;
    // Number of accepted "sarcfg" set commands.
    int SetCommandCount() const;

    // The next `times` replies (times < 0: all) to commands containing `match`
    // are `reply` instead; the commands are still carried out.
    void ScriptReply(const std::string& match, const std::string& reply, int times = -1);

    // The next `times` replies (times < 0: all) to commands containing `match`
    // (empty: every command) are spoiled; Oversized makes replies at least
    // `length` bytes long. Faults are tried in the order they were added.
    void InjectReplyFault(ReplyFault fault, const std::string& match = "", int times = -1, size_t length = 1500);

    // A reboot keeps the table and the recorded pin commands.
    void Reboot();
    uint32_t BootCount() const;

    // Back to the factory state.
    void Reset();

private:
    struct FaultEntry {
        ReplyFault fault;
        std::string match;
        int times;
        size_t length;
        std::string script;
    };
    std::string Answer(const std::string& command);
    std::string Spoil(const std::string& command, std::string reply, bool isQuery, const std::string& mode,
                      const SarValues& values);

    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, int32_t>, SarValues> m_table;
    std::vector<std::string> m_pinCommands;
    std::vector<FaultEntry> m_faults;
    std::function<void(const std::string&)> m_commandListener;
    int m_setCount = 0;
    uint32_t m_bootCount = 1;
};

}  // namespace sim
