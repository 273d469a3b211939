#include "verdict.h"

#include <algorithm>

#include "config/dpr_method.h"
#include "run_result.h"

namespace halvex_sim {
namespace {

SarRow RowOf(const DprSetting& setting)
{
    return SarRow{setting.mode, IsBandedMode(setting.mode) ? std::optional<int32_t>(setting.band) : std::nullopt,
                  setting.maxpower, setting.rowgrads, setting.columngrads};
}

// The row the modem holds for the key's mode and band: written, or the factory values.
SarRow Held(const std::vector<SarRow>& table, const SarRow& key)
{
    auto it = std::find_if(table.begin(), table.end(),
                           [&](const SarRow& row) { return row.mode == key.mode && row.band == key.band; });
    return it == table.end() ? FactoryRow(key) : *it;
}

bool SameValues(const SarRow& a, const SarRow& b)
{
    return a.maxpower == b.maxpower && a.rowgrads == b.rowgrads && a.columngrads == b.columngrads;
}

}  // namespace

Verdict JudgeRun(const LaptopAnalysis& laptop, const std::vector<SarRow>& before, const std::vector<SarRow>& after)
{
    Verdict verdict;
    verdict.name = "not-configured";
    if (!laptop.entryFound) {
        verdict.reason = "no entry fits: " + laptop.why;
        return verdict;
    }
    const ModuleConfig& entry = laptop.entry;
    const DprMethod method = MethodOf(entry.method);
    verdict.wanted = entry.dprs.size();
    for (const DprSetting& setting : entry.dprs) {
        RowVerdict row;
        row.line = setting.line;
        row.wanted = RowOf(setting);
        if (!ModeTakenUp(method, setting.mode)) {
            verdict.skipped.push_back(row);
            continue;
        }
        row.alreadyRight = SameValues(Held(before, row.wanted), row.wanted);
        row.found = Held(after, row.wanted);
        row.held = SameValues(row.found, row.wanted);
        verdict.applied.push_back(row);
    }
    if (method == DprMethod::Unknown) {
        verdict.reason = "method \"" + entry.method + "\" is unknown: the service writes nothing";
        return verdict;
    }
    if (verdict.applied.empty()) {
        verdict.reason = "the method \"" + entry.method + "\" applies none of the entry's rows";
        return verdict;
    }
    for (const RowVerdict& row : verdict.applied) {
        if (!row.held) {
            verdict.reason = "the modem's final table lacks " + RowKey(row.wanted) + " from line " +
                             std::to_string(row.line);
            return verdict;
        }
    }
    const bool rewritten = std::any_of(verdict.applied.begin(), verdict.applied.end(),
                                       [](const RowVerdict& row) { return !row.alreadyRight; });
    verdict.name = rewritten ? "configured" : "already-right";
    verdict.reason = rewritten ? "the modem's final table holds every applied row"
                               : "the modem held every applied row before the run";
    return verdict;
}

}  // namespace halvex_sim
