// Delete: removes the Azure snapshots behind a list of snapshot records. A
// snapshot that no longer exists counts as deleted, so a delete can be
// repeated safely.
#include <string>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"

namespace {

// Without metadata only the snapshot's name is known; it can only be in the
// VM's own resource group, where this engine creates its snapshots.
bool DeleteByName(ManagedDiskCall& call, const std::string& snapName) {
    call.Log(KXSO::LOG_INFO,
             "Failed to retrieve Azure snapshot URL for [%s]. Look for snapshot in vm resource "
             "group [%s]",
             snapName.c_str(), call.instance().resourceGroupName.c_str());
    if (call.api().DeleteAzureSnapshot(snapName, call.instance()).IsError()) {
        call.Log(KXSO::LOG_INFO, "Failed to delete Azure snapshot [%s]", snapName.c_str());
        return false;
    }
    return true;
}

// A snapshot whose name the name check refuses was never created: snapshot
// creation runs the same check before it sends anything. Its metadata names
// it by that name, or holds no snapshot id at all when an older version
// wrote it; either way there is nothing to delete.
bool NeverCreated(const std::string& snapName, const std::string& text) {
    if (ValidateAzureResourceName(snapName).IsSuccess()) {
        return false;
    }
    AzureSnapMetadata metadata;
    if (!ParseAzureSnapMetaData(text, metadata)) {
        return false;
    }
    const std::string tail = "/" + snapName;
    const std::string& id = metadata.snapURL;
    return id.empty() ||
           (id.size() > tail.size() && id.compare(id.size() - tail.size(), tail.size(), tail) == 0);
}

bool DeleteByMetadata(ManagedDiskCall& call, KXSO::SnapInfo* record, const std::string& snapName,
                      const std::string& text) {
    call.Log(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    if (NeverCreated(snapName, text)) {
        call.Log(KXSO::LOG_INFO,
                 "Snapshot name [%s] is not a valid Azure name; no such snapshot was created",
                 snapName.c_str());
        return true;
    }
    AzureSnapMetadata metadata;
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        call.RecordFailure(record, "Failed to parse metadata for Azure snapshot " + snapName);
        return false;
    }
    const CUxError err = call.api().DeleteAzureDisk(metadata.snapURL);
    if (err) {
        call.message() << "Failed to delete Azure snapshot " << metadata.snapURL
                       << "error: " << ErrorText(err);
        call.RecordFailure(record);
        return false;
    }
    return true;
}

bool DeleteOneSnapshot(ManagedDiskCall& call, KXSO::SnapInfo* record) {
    std::string snapName;
    record->getSnapName(snapName);
    std::string text;
    const bool deleted = FetchSnapMetadata(record, text)
                             ? DeleteByMetadata(call, record, snapName, text)
                             : DeleteByName(call, snapName);
    if (!deleted) {
        return false;
    }
    record->setStatus(KXSO::SNAP_STATUS_DELETED);
    record->setMappedDevicePath("");
    call.Log(KXSO::LOG_INFO, "Deleted snapshot [%s]", snapName.c_str());
    return true;
}

}  // namespace

KXSO::ResultCode DeleteSnapsWork(ManagedDiskCall& call) {
    int deleted = 0;
    for (int16_t i = 0; i < call.count(); ++i) {
        if (DeleteOneSnapshot(call, call.devices()[i])) {
            ++deleted;
        }
    }
    if (deleted == call.count()) {
        return KXSO::RESULT_SUCCESS;
    }
    return deleted == 0 ? KXSO::RESULT_FAILURE : KXSO::RESULT_PARTIAL;
}
