#include "config/dpr_method.h"

DprMethod MethodOf(const std::string& method)
{
    if (method == "all band") {
        return DprMethod::AllBand;
    }
    return method == "single band" ? DprMethod::SingleBand : DprMethod::Unknown;
}

bool ModeTakenUp(DprMethod method, const std::string& mode)
{
    switch (method) {
    case DprMethod::AllBand: return mode == "GSM" || mode == "LTE_WCDMA";
    case DprMethod::SingleBand: return mode == "GSM" || IsBandedMode(mode);
    default: return false;
    }
}

bool IsKnownMode(const std::string& mode)
{
    return mode == "GSM" || mode == "LTE_WCDMA" || IsBandedMode(mode);
}

bool IsBandedMode(const std::string& mode)
{
    return mode == "LTE" || mode == "WCDMA";
}
