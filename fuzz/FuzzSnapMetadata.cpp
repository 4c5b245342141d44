// The managed-disk snapshot metadata text comes back from the host's
// catalogue (as a C string), possibly written by another version: parsing must never crash,
// and whatever parses must survive a format/parse round trip unchanged.
#include "FuzzInput.h"
#include "KxSnapAzureUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AzureSnapMetadata parsed;
    if (!ParseAzureSnapMetaData(kxfuzz::AsCString(data, size), parsed)) {
        return 0;
    }
    std::string formatted;
    FormatAzureSnapMetaData(parsed, formatted);
    AzureSnapMetadata reparsed;
    kxfuzz::Require(ParseAzureSnapMetaData(formatted, reparsed));
    kxfuzz::Require(reparsed.snapURL == parsed.snapURL &&
                    reparsed.sourceDiskURL == parsed.sourceDiskURL &&
                    reparsed.sourceDiskName == parsed.sourceDiskName &&
                    reparsed.sourceDiskSku == parsed.sourceDiskSku);
    return 0;
}
