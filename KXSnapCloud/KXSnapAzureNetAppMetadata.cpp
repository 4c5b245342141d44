// The four metadata records the engine keeps with every snapshot on the host
// record: written at prepare, completed after the snapshot, read back by every
// later operation. Snapshots taken by earlier versions are read from these
// texts, so their form is byte-exact: each field followed by "|".
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapAzureNetAppMetadataText.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"

using AnfMetadataText::CompleteLastField;
using AnfMetadataText::SplitFields;
using AnfMetadataText::TakeField;
using AzureNetApp::KxSnapANFSnapObj;
using KXSnapCloudConstants::KXSnapCloud_Op_Delete;
using KXSnapCloudConstants::KXSnapCloud_Op_PostSnap;
using KXSnapCloudConstants::KXSnapCloud_Op_Reconcile;
using KXSnapCloudConstants::KXSnapCloud_Op_Snap;

namespace {

// Error codes of the metadata records.
constexpr int kMetadataUnreadable = 6;
constexpr int kMetadataFieldMissing = 8;
constexpr int kMetadataEmpty = 16;

}  // namespace

bool KXSnapAzureNetApp::generateUUID(KxSnapANFSnapObj& snapObj) {
    std::string uuid;
    uint64_t reserved = 0;
    if (snapObj.snapInfo == nullptr || !snapObj.snapInfo->generateSnapUuid("-", &reserved, uuid) ||
        uuid.empty()) {
        resetError();
        error << "Failed to get snap uuid for device [" << snapObj.deviceName << "]";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return false;
    }
    snapObj.snapName = uuid;
    return true;
}

bool KXSnapAzureNetApp::setSnapMetadata(KxSnapANFSnapObj& snapObj) {
    const AzureNetApp::AzureNetAppSnapshotInfo& info = snapObj.snapshotInfo;
    KXSO::SnapInfo* record = snapObj.snapInfo;
    logLine(KXSO::LOG_DETAIL, "Setting snap metadata...");
    // The snapshot name and id do not exist yet: their fields stay empty
    // until the snapshot is known.
    const std::string uuidRecord = info.subscriptionId + "|" + info.resourceGroupName + "|" +
                                   info.netappAccountName + "|" + info.capacityPoolName + "|" +
                                   info.volumeName + "|" + "|";
    if (record->setSnapMetadata(KXSO::METADATA_SNAPSHOT, uuidRecord) != 0) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Snap uuid metadata [%s]", uuidRecord.c_str());

    const std::string locationRecord = info.location + "|";
    if (record->setSnapMetadata(KXSO::METADATA_CLOUD_LOCATION, locationRecord) != 0) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Snap cloud location metadata [%s]", locationRecord.c_str());

    const std::string extendedRecord = info.fileSystemId + "|" + "|";
    if (record->setSnapMetadata(KXSO::METADATA_EXTENDED_DETAILS, extendedRecord) != 0) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "ANF extended details metadata [%s]", extendedRecord.c_str());

    const std::string transientRecord = info.rawPath + "|";
    if (record->setSnapTransientMetadata(KXSO::METADATA_TRANSIENT, transientRecord) != 0) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Snap transient metadata [%s]", transientRecord.c_str());
    logLine(KXSO::LOG_DETAIL, "Setting snap metadata... - done");
    return true;
}

bool KXSnapAzureNetApp::updateSnapMetadataWithSnapInfo(KxSnapANFSnapObj& snapObj) {
    KXSO::SnapInfo* record = snapObj.snapInfo;
    std::string uuidRecord;
    if (!record->getSnapMetadata(KXSO::METADATA_SNAPSHOT, uuidRecord)) {
        replaceError(kMetadataUnreadable, "Failed to get snap uuid metadata, failing operation");
        logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
        return false;
    }
    if (!CompleteLastField(uuidRecord, snapObj.snapName) ||
        record->setSnapMetadata(KXSO::METADATA_SNAPSHOT, uuidRecord) != 0) {
        replaceError(kMetadataUnreadable,
                     "Failed to store snap uuid metadata [" + uuidRecord + "], failing operation");
        logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Snap uuid metadata [%s]", uuidRecord.c_str());

    std::string extendedRecord;
    if (!record->getSnapMetadata(KXSO::METADATA_EXTENDED_DETAILS, extendedRecord)) {
        replaceError(kMetadataUnreadable,
                     "Failed to get ANF extended metadata, failing operation.");
        logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
        return false;
    }
    if (!CompleteLastField(extendedRecord, snapObj.snapshotInfo.snapshotId) ||
        record->setSnapMetadata(KXSO::METADATA_EXTENDED_DETAILS, extendedRecord) != 0) {
        replaceError(kMetadataUnreadable, "Failed to store ANF extended metadata [" +
                                              extendedRecord + "], failing operation");
        logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "ANF extended metadata [%s]", extendedRecord.c_str());
    return true;
}

bool KXSnapAzureNetApp::fillSnapObjFromMetadata() {
    logLine(KXSO::LOG_DETAIL, "Getting snap metadata...");
    bool dropped = false;
    for (auto entry = snapObjs.begin(); entry != snapObjs.end();) {
        KxSnapANFSnapObj& snapObj = *entry->second;
        const char* failure = nullptr;
        logLine(KXSO::LOG_DETAIL, "Getting details from snap uuid metadata...");
        if (!parseUUIDMetadata(snapObj)) {
            failure = "Failed to parse snap uuid metadata";
        }
        if (failure == nullptr) {
            logLine(KXSO::LOG_DETAIL, "Getting details from snap cloud location metadata...");
            if (!parseLocationMetadata(snapObj)) {
                failure = "Failed to parse snap cloud location metadata";
            }
        }
        if (failure == nullptr) {
            logLine(KXSO::LOG_DETAIL, "Getting details from ANF extended details metadata...");
            if (!parseExtendedDetailMetadata(snapObj)) {
                failure = "Failed to parse ANF extended details metadata";
            }
        }
        if (failure == nullptr && opType == KXSnapCloud_Op_Snap) {
            logLine(KXSO::LOG_DETAIL, "Getting details from snap transient metadata...");
            if (!parseTransientMetadata(snapObj)) {
                failure = "Failed to parse snap transient metadata";
            }
        }
        if (failure == nullptr) {
            ++entry;
            continue;
        }
        logLine(KXSO::LOG_ERROR, "%s", failure);
        // The record whose metadata is unusable says why.
        setErrorDetailsForSnapObj(snapObj);
        if (opType != KXSnapCloud_Op_Delete) {
            return false;
        }
        // One damaged record must not keep the job's other snapshots from
        // being deleted: it fails alone (keeping its failure status) and
        // the delete goes on without it.
        logLine(KXSO::LOG_ERROR, "Snapshot num [%ld] will not be deleted - continuing",
                static_cast<long>(snapObj.snapNum));
        entry = snapObjs.erase(entry);
        dropped = true;
    }
    // With every record failed there is nothing left to delete.
    return !dropped || !snapObjs.empty();
}

bool KXSnapAzureNetApp::toleratesIncompleteMetadata() const {
    return opType == KXSnapCloud_Op_Delete || opType == KXSnapCloud_Op_Reconcile;
}

bool KXSnapAzureNetApp::readMetadataRecord(KxSnapANFSnapObj& snapObj, int id, std::string& record) {
    record.clear();
    if (snapObj.snapInfo != nullptr && snapObj.snapInfo->getSnapMetadata(id, record)) {
        return true;
    }
    // A snapshot whose prepare failed after the cloud framework tagged it has
    // no records at all; delete must still be able to retire it.
    return toleratesIncompleteMetadata();
}

bool KXSnapAzureNetApp::parseUUIDMetadata(KxSnapANFSnapObj& snapObj) {
    constexpr const char* kFailed = "Getting details from snap uuid metadata failed. %d:%s";
    std::string record;
    if (!readMetadataRecord(snapObj, KXSO::METADATA_SNAPSHOT, record)) {
        replaceError(kMetadataUnreadable, "Failed to get snap uuid metadata and hence failing");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    if (record.empty()) {
        if (opType == KXSnapCloud_Op_Delete) {
            logLine(KXSO::LOG_INFO,
                    "Missing snap uuid metadata for delete operation - snap marked as deleted");
            snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_DELETED);
            return true;
        }
        if (opType == KXSnapCloud_Op_Reconcile) {
            // Without a snapshot name reconcile counts the snapshot as skipped.
            logLine(KXSO::LOG_INFO,
                    "Missing snap uuid metadata for reconcile operation - snap will be skipped");
            return true;
        }
        replaceError(kMetadataEmpty,
                     "Empty snap uuid metadata found - may be prepare itself failed");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }

    const std::vector<std::string> fields = SplitFields(record);
    AzureNetApp::AzureNetAppSnapshotInfo& info = snapObj.snapshotInfo;
    struct Coordinate {
        std::string* target;
        const char* missing;
    };
    const Coordinate coordinates[] = {
        {&info.subscriptionId, "ANF subscription id not found in snap uuid metadata ["},
        {&info.resourceGroupName, "ANF resource group name not found in snap uuid metadata ["},
        {&info.netappAccountName, "ANF NetApp account name not found in snap uuid metadata ["},
        {&info.capacityPoolName, "ANF capacity pool name not found in snap uuid metadata ["},
        {&info.volumeName, "ANF volume name not found in snap uuid metadata ["},
    };
    for (size_t i = 0; i < sizeof coordinates / sizeof coordinates[0]; ++i) {
        if (!TakeField(fields, i, *coordinates[i].target)) {
            replaceError(kMetadataFieldMissing, coordinates[i].missing + record + "]");
            logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
            return false;
        }
    }
    if (TakeField(fields, AnfMetadataText::kSnapshotNameField, snapObj.snapName)) {
        info.snapshotName = snapObj.snapName;
    } else if (opType == KXSnapCloud_Op_Delete) {
        logLine(KXSO::LOG_ERROR,
                "Snapshot name not found in snap uuid metadata... however proceeding further");
    } else if (opType != KXSnapCloud_Op_Snap && opType != KXSnapCloud_Op_PostSnap &&
               opType != KXSnapCloud_Op_Reconcile) {
        replaceError(kMetadataFieldMissing,
                     "Snapshot name not found in snap uuid metadata [" + record + "]");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    logLine(KXSO::LOG_DETAIL,
            "From snap uuid metadata - ANF subscription id [%s] resource group name [%s] netapp "
            "account name [%s] capacity pool name [%s] volume name [%s] snap name [%s]",
            info.subscriptionId.c_str(), info.resourceGroupName.c_str(),
            info.netappAccountName.c_str(), info.capacityPoolName.c_str(), info.volumeName.c_str(),
            snapObj.snapName.c_str());
    return true;
}

bool KXSnapAzureNetApp::parseLocationMetadata(KxSnapANFSnapObj& snapObj) {
    constexpr const char* kFailed =
        "Getting details from snap cloud location metadata failed. %d:%s";
    std::string record;
    if (!readMetadataRecord(snapObj, KXSO::METADATA_CLOUD_LOCATION, record)) {
        replaceError(kMetadataUnreadable,
                     "Failed to get snap cloud location metadata and hence failing");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    if (record.empty()) {
        if (toleratesIncompleteMetadata()) {
            logLine(KXSO::LOG_INFO, "Missing cloud location metadata for %s operation - continuing",
                    opType == KXSnapCloud_Op_Delete ? "delete" : "reconcile");
            return true;
        }
        replaceError(kMetadataEmpty,
                     "Empty snap cloud location metadata found - may be prepare itself failed");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    if (!TakeField(SplitFields(record), 0, snapObj.snapshotInfo.location)) {
        replaceError(kMetadataFieldMissing,
                     "ANF location not found in snap cloud location metadata [" + record + "]");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "From snap cloud location metadata - ANF location [%s]",
            snapObj.snapshotInfo.location.c_str());
    return true;
}

bool KXSnapAzureNetApp::parseExtendedDetailMetadata(KxSnapANFSnapObj& snapObj) {
    constexpr const char* kFailed =
        "Getting details from ANF extended details metadata failed. %d:%s";
    std::string record;
    if (!readMetadataRecord(snapObj, KXSO::METADATA_EXTENDED_DETAILS, record)) {
        replaceError(kMetadataUnreadable, "Failed to get snap uuid metadata and hence failing");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    if (record.empty()) {
        if (toleratesIncompleteMetadata()) {
            logLine(KXSO::LOG_INFO, "Missing extended vol info metadata for %s operation",
                    opType == KXSnapCloud_Op_Delete ? "delete" : "reconcile");
            return true;
        }
        replaceError(kMetadataEmpty,
                     "Empty snap uuid metadata found - may be prepare itself failed");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    const std::vector<std::string> fields = SplitFields(record);
    AzureNetApp::AzureNetAppSnapshotInfo& info = snapObj.snapshotInfo;
    if (!TakeField(fields, 0, info.fileSystemId)) {
        replaceError(kMetadataFieldMissing,
                     "ANF fileSystemId not found in extended vol info metadata [" + record + "]");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    if (!TakeField(fields, 1, info.snapshotId)) {
        if (opType == KXSnapCloud_Op_Delete) {
            logLine(KXSO::LOG_INFO,
                    "SnapshotId not found in extended vol info metadata... however proceeding "
                    "further");
        } else if (opType != KXSnapCloud_Op_Snap && opType != KXSnapCloud_Op_PostSnap &&
                   opType != KXSnapCloud_Op_Reconcile) {
            replaceError(kMetadataFieldMissing,
                         "SnapshotId not found in extended vol info metadata [" + record + "]");
            logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
            return false;
        }
    }
    logLine(KXSO::LOG_DETAIL,
            "From extended vol info metadata - fileSystemId [%s] snapshotId [%s] ",
            info.fileSystemId.c_str(), info.snapshotId.c_str());
    return true;
}

bool KXSnapAzureNetApp::parseTransientMetadata(KxSnapANFSnapObj& snapObj) {
    constexpr const char* kFailed = "Getting details from snap transient metadata failed. %d:%s";
    std::string record;
    if (!readMetadataRecord(snapObj, KXSO::METADATA_TRANSIENT, record)) {
        replaceError(kMetadataUnreadable,
                     "Failed to get snap transient metadata and hence failing");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    if (record.empty()) {
        replaceError(kMetadataEmpty,
                     "Empty snap transient metadata found - may be prepare itself failed");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    // The volume's resource id lets snapshot creation address it directly.
    if (!TakeField(SplitFields(record), 0, snapObj.snapshotInfo.rawPath)) {
        replaceError(kMetadataFieldMissing,
                     "ANF volume path not found in snap transient metadata [" + record + "]");
        logLine(KXSO::LOG_ERROR, kFailed, lastError, error.str().c_str());
        return false;
    }
    return true;
}
