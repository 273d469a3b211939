#include "step_names.h"

namespace halvex_sim {
namespace {

const char* StatusName(OperStatus status)
{
    return status == OperStatus::Up ? "up" : status == OperStatus::Dormant ? "dormant" : "down";
}

}  // namespace

std::string StepName(const Step& step)
{
    using K = Step::Kind;
    switch (step.kind) {
    case K::Start: return "<start/>";
    case K::Settle: return "<settle/>";
    case K::Wait: return "<wait ms=\"" + std::to_string(step.ms) + "\"/>";
    case K::Suspend: return "<suspend/>";
    case K::Resume: return "<resume/>";
    case K::Power: return "<power event=\"" + std::to_string(step.powerEvent) + "\"/>";
    case K::Unplug: return "<unplug/>";
    case K::Plug: return "<plug/>";
    case K::ModemState: return std::string("<modem-state state=\"") + StatusName(step.modemState) + "\"/>";
    case K::Pause: return "<pause/>";
    case K::Continue: return "<continue/>";
    case K::Crash: return "<crash/>";
    case K::ModemSar: return "<modem-sar> " + RowKey(step.sar);
    case K::Fault: return "<fault/>";
    case K::Stop: return "<stop/>";
    }
    return "?";
}

}  // namespace halvex_sim
