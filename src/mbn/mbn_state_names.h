// Texts of the Mobile Broadband state values, as they appear in the log.
#pragma once

#include <cstdint>

const char* ReadyStateName(int32_t state);
const char* RegisterStateName(int32_t state);
const char* ActivationStateName(int32_t state);
