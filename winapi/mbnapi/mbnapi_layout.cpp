// Compile-time checks of the Mobile Broadband declarations, built in both
// builds: enumerations are 32-bit and the ids carry their published values.
#include "mbnapi.h"

static_assert(sizeof(MBN_READY_STATE) == 4, "32-bit enumeration");
static_assert(sizeof(MBN_REGISTER_STATE) == 4, "32-bit enumeration");
static_assert(sizeof(MBN_ACTIVATION_STATE) == 4, "32-bit enumeration");
static_assert(sizeof(MBN_DEVICE_SERVICES_INTERFACE_STATE) == 4, "32-bit enumeration");
static_assert(sizeof(ULONG) == 4, "ULONG is 32-bit");
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
static_assert(CLSID_MbnDeviceServicesManager.Data1 == 0x2269DAA3, "class id");
static_assert(IID_IMbnDeviceServicesEvents.Data4[7] == 0x42, "events id");
static_assert(MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL == 1, "interface state");
