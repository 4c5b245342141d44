// The four NetApp Files metadata records (ids 6, 154, 161 and transient 102)
// come back from the host's catalogue, possibly written by another version or
// damaged. Each parser may refuse a record, never crash or throw.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"
#include "kxsnap/HostRecord.h"

namespace {

// Sets the operation the parsers judge completeness by.
class MetadataParsers : public KXSnapAzureNetApp {
public:
    explicit MetadataParsers(int16_t operation) { opType = operation; }
};

// The input holds up to four records separated by 0x1E (record separator);
// each is cut at its first NUL, as the host hands texts over.
std::vector<std::string> Records(const std::string& input) {
    std::vector<std::string> records;
    size_t start = 0;
    while (records.size() < 4) {
        const size_t end = input.find('\x1e', start);
        std::string record = input.substr(start, end == std::string::npos ? end : end - start);
        records.push_back(record.substr(0, record.find('\0')));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kxfuzz::Selected input = kxfuzz::Select(data, size, 2);
    const std::vector<std::string> records = Records(input.text);
    kxsnap::RecordData recordData;
    const int ids[] = {KXSO::METADATA_SNAPSHOT, KXSO::METADATA_CLOUD_LOCATION,
                       KXSO::METADATA_EXTENDED_DETAILS};
    for (size_t i = 0; i < records.size() && i < 3; ++i) {
        recordData.metadata[ids[i]] = records[i];
    }
    if (records.size() == 4) {
        recordData.transientMetadata[KXSO::METADATA_TRANSIENT] = records[3];
    }
    kxsnap::JobLog log;
    kxsnap::JobArrays arrays;
    kxsnap::HostRecord record(0, recordData, log, arrays);

    MetadataParsers parsers(input.choice == 0 ? KXSnapCloudConstants::KXSnapCloud_Op_Snap
                                            : KXSnapCloudConstants::KXSnapCloud_Op_Delete);
    AzureNetApp::KxSnapANFSnapObj snapObj;
    snapObj.snapInfo = &record;
    parsers.parseUUIDMetadata(snapObj);
    parsers.parseLocationMetadata(snapObj);
    parsers.parseExtendedDetailMetadata(snapObj);
    parsers.parseTransientMetadata(snapObj);
    return 0;
}
