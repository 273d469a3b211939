#include "mbn/mbn_state_names.h"

const char* ReadyStateName(int32_t state)
{
    switch (state) {
    case 0: return "MBN_READY_STATE_OFF";
    case 1: return "MBN_READY_STATE_INITIALIZED";
    case 2: return "MBN_READY_STATE_SIM_NOT_INSERTED";
    case 5: return "MBN_READY_STATE_NOT_ACTIVATED";
    default: return "Don't Care";
    }
}

const char* RegisterStateName(int32_t state)
{
    switch (state) {
    case 0: return "MBN_REGISTER_STATE_NONE";
    case 1: return "MBN_REGISTER_STATE_DEREGISTERED";
    case 2: return "MBN_REGISTER_STATE_SEARCHING";
    case 3: return "MBN_REGISTER_STATE_HOME";
    case 4: return "MBN_REGISTER_STATE_ROAMING";
    case 5: return "MBN_REGISTER_STATE_PARTNER";
    case 6: return "MBN_REGISTER_STATE_DENIED";
    default: return "UNKNOWN";
    }
}

const char* ActivationStateName(int32_t state)
{
    switch (state) {
    case 0: return "MBN_ACTIVATION_STATE_NONE";
    case 1: return "MBN_ACTIVATION_STATE_ACTIVATED";
    case 2: return "MBN_ACTIVATION_STATE_ACTIVATING";
    case 3: return "MBN_ACTIVATION_STATE_DEACTIVATED";
    case 4: return "MBN_ACTIVATION_STATE_DEACTIVATING";
    default: return "UNKNOWN";
    }
}
