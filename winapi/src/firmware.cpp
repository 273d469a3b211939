#include <windows.h>

#include <cstring>

#include "sim/firmware.h"
#include "sim/machine.h"

UINT GetSystemFirmwareTable(DWORD firmwareTableProviderSignature, DWORD firmwareTableID,
                            PVOID firmwareTableBuffer, DWORD bufferSize)
{
    bool sizeQuery = firmwareTableBuffer == nullptr || bufferSize == 0;
    std::vector<uint8_t> table;
    if (!sim::Machine::Get().firmware().ReadTable(firmwareTableProviderSignature, firmwareTableID, table,
                                                  sizeQuery) ||
        table.empty()) {
        SetLastError(ERROR_NOT_FOUND);
        return 0;
    }
    if (sizeQuery || bufferSize < table.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return static_cast<UINT>(table.size());
    }
    std::memcpy(firmwareTableBuffer, table.data(), table.size());
    SetLastError(ERROR_SUCCESS);
    return static_cast<UINT>(table.size());
}
