// The cloud metadata text (id 160, "<vendor id>|<service-engine id>") comes
// back from the host's catalogue on every operation after prepare, possibly
// written by another version or damaged. The controller may refuse it, never
// crash or throw; what it accepts must survive the Azure utility's formatter
// unchanged, and identification must succeed exactly when every record names
// a known vendor.
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "KXSnapCloud/KXSnapCloudAzureUtil.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"
#include "KXSnapCloud/KXSnapCloudController.h"
#include "kxsnap/HostRecord.h"

namespace {

using KXSnapCloudConstants::KXSnapCloud_Metadata_Id;
using KXSnapCloudConstants::KXSnapCloud_Provider_Azure;

// Every operation that identifies its records from what prepare stored.
constexpr short kLaterOperations[] = {
    KXSnapCloudConstants::KXSnapCloud_Op_Delete,   KXSnapCloudConstants::KXSnapCloud_Op_Map,
    KXSnapCloudConstants::KXSnapCloud_Op_Unmap,    KXSnapCloudConstants::KXSnapCloud_Op_Revert,
    KXSnapCloudConstants::KXSnapCloud_Op_Snap,     KXSnapCloudConstants::KXSnapCloud_Op_Reconcile,
    KXSnapCloudConstants::KXSnapCloud_Op_PostSnap,
};
constexpr unsigned kOperationCount = sizeof(kLaterOperations) / sizeof(kLaterOperations[0]);
constexpr size_t kMaxRecords = 3;
// Outputs the parser must either leave alone or reset to 0.
constexpr int kUntouched = -77;

// The first byte picks the operation and whether the host lost the last
// record's metadata; the rest holds up to three metadata texts separated by
// 0x1E (record separator), each cut at its first NUL as the host hands it over.
struct CloudInput {
    short operation = 0;
    bool lastRecordMissing = false;
    std::vector<std::string> texts;
};

CloudInput Decode(const uint8_t* data, size_t size) {
    const kxfuzz::Selected selected = kxfuzz::Select(data, size, kOperationCount * 2);
    CloudInput input;
    input.operation = kLaterOperations[selected.choice % kOperationCount];
    input.lastRecordMissing = selected.choice >= kOperationCount;
    size_t start = 0;
    while (input.texts.size() < kMaxRecords) {
        const size_t end = selected.text.find('\x1e', start);
        const std::string text =
            selected.text.substr(start, end == std::string::npos ? end : end - start);
        input.texts.push_back(text.substr(0, text.find('\0')));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return input;
}

// Records without a snap-engine id, so identification has to read the metadata.
struct Records {
    kxsnap::JobLog log{false};
    kxsnap::JobArrays arrays;
    std::vector<std::unique_ptr<kxsnap::HostRecord>> owned;
    std::vector<KXSO::SnapInfo*> devices;

    void Add(const std::string* cloudMetadata) {
        kxsnap::RecordData data;
        data.snapId = static_cast<int64_t>(owned.size()) + 1;
        if (cloudMetadata != nullptr) {
            data.metadata[KXSnapCloud_Metadata_Id] = *cloudMetadata;
        }
        owned.push_back(std::make_unique<kxsnap::HostRecord>(static_cast<int>(owned.size()), data,
                                                             log, arrays));
        devices.push_back(owned.back().get());
    }
};

struct ParsedIds {
    bool accepted = false;
    int vendor = kUntouched;
    int serviceEngine = kUntouched;
};

ParsedIds Parse(KXSnapCloudController& controller, KXSO::SnapInfo* device) {
    ParsedIds ids;
    ids.accepted = controller.getCloudMetadataFromDevice(device, ids.vendor, ids.serviceEngine);
    if (ids.accepted) {
        kxfuzz::Require(ids.vendor > 0 && ids.serviceEngine > 0);
    } else {
        // A refused text either leaves the outputs alone or reports both as 0.
        const bool untouched = ids.vendor == kUntouched && ids.serviceEngine == kUntouched;
        const bool zeroed = ids.vendor == 0 && ids.serviceEngine == 0;
        kxfuzz::Require(untouched || zeroed);
    }
    return ids;
}

// The Azure utility writes the vendor as 100 whatever the record said; the
// service engine must come back as it went in.
void RequireRoundTrip(KXSnapCloudController& controller, KXSO::KXOSUtil* hostUtil,
                      int serviceEngine) {
    Records fresh;
    fresh.Add(nullptr);
    KXSnapCloudAzureUtil azureUtil(hostUtil);
    kxfuzz::Require(azureUtil.addCloudMetadataToDevice(fresh.devices[0], serviceEngine));
    const ParsedIds reparsed = Parse(controller, fresh.devices[0]);
    kxfuzz::Require(reparsed.accepted && reparsed.vendor == KXSnapCloud_Provider_Azure &&
                    reparsed.serviceEngine == serviceEngine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CloudInput input = Decode(data, size);
    Records records;
    for (size_t i = 0; i < input.texts.size(); ++i) {
        const bool missing = input.lastRecordMissing && i + 1 == input.texts.size();
        records.Add(missing ? nullptr : &input.texts[i]);
    }
    kxsnap::HostUtil hostUtil(1);

    KXSnapCloudController controller({KXSnapCloud_Provider_Azure});
    kxfuzz::Require(controller.initializeCloudController(records.devices.data(),
                                                         static_cast<short>(records.devices.size()),
                                                         &hostUtil, input.operation));
    bool everyRecordKnown = true;
    for (KXSO::SnapInfo* device : records.devices) {
        const ParsedIds ids = Parse(controller, device);
        if (ids.accepted) {
            RequireRoundTrip(controller, &hostUtil, ids.serviceEngine);
        }
        everyRecordKnown =
            everyRecordKnown && ids.accepted && ids.vendor == KXSnapCloud_Provider_Azure;
    }
    // Only Azure has a vendor utility, and filing a record never fails.
    kxfuzz::Require(controller.identifyCloudVendorServices() == everyRecordKnown);
    return 0;
}
