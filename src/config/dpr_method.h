// The methods and modes of the configuration entries: which rows a method
// queries and writes. Texts are compared exactly (case kept, no trimming).
#pragma once

#include <string>

enum class DprMethod { AllBand, SingleBand, Unknown };

// "all band", "single band", or Unknown for any other text.
DprMethod MethodOf(const std::string& method);

// "all band" takes up the combined LTE/WCDMA table and GSM, "single band" the
// per-band LTE and WCDMA tables and GSM; every other mode is skipped.
bool ModeTakenUp(DprMethod method, const std::string& mode);

// "LTE", "WCDMA", "GSM" or "LTE_WCDMA".
bool IsKnownMode(const std::string& mode);

// The modes whose query and set commands carry the band.
bool IsBandedMode(const std::string& mode);
