// Update files come from whoever fills the UPD_Files folder: the header check must
// take any bytes at all.
#include "exchange/Upgrade.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    UpdateFileHeader header;
    if (ReadUpdateHeader(bytes, &header)) {
        // A valid header never claims more than the record holds.
        if (header.length < 2 || header.length > updateHeaderMaxLength)
            __builtin_trap();
        if (IsSensorFirmware(header) && UpdateFileVersion(header) < 0)
            __builtin_trap();
    }
    return 0;
}
