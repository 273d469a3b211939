// The waits and retry counts of a bring-up and its DPR check: how long one
// check may take and how often it starts again on its own. The simulator's
// soak bounds a settle with them.
#pragma once

#include <cstdint>

namespace BringUpLimits {

constexpr uint32_t kInitializedWaitMs = 200;  // an initialized manager: a short wait before the lookup
constexpr uint32_t kInitRetryWaitMs = 1000;
constexpr int kMaxInitAttempts = 17;
constexpr uint32_t kLookupRetryWaitMs = 1500;
constexpr int kMaxEmptyLookups = 12;
constexpr uint32_t kDormantWaitMs = 1000;
constexpr int kMaxDormantReadings = 17;
constexpr uint32_t kOpenRetryWaitMs = 1000;
constexpr int32_t kMaxOpenRetries = 21;       // re-posts; the counter outlives runs
constexpr int32_t kMaxQuerySendRetries = 30;  // re-posts; reset only by a sent query
constexpr uint32_t kQueryRetryWaitMs = 500;

}  // namespace BringUpLimits
