// Telling the TK42-N modem's network adapter from others by the USB ids in its
// device instance id, found through the network class key of the registry.
#pragma once

namespace CommonUtil {

// True when the adapter's device instance id carries the vendor id 4B6E and one
// of the product ids 0E81, 0E82, 0E83.
bool IsVarnickMbnDevcie(const char* adapterName);

// 1 and *instanceId set to a copy (malloc, released with free) of the
// upper-cased "DeviceInstanceID" of the first class subkey whose
// "NetCfgInstanceId" contains cfgId and whose "DeviceInstanceID" can be read;
// 0 and *instanceId null otherwise.
int GetVarnickMbnInstViaCfgId(const char* cfgId, char** instanceId);

}  // namespace CommonUtil
