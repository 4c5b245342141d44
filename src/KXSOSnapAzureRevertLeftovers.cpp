#include "KXSOSnapAzureRevertLeftovers.h"

#include "KXSOSnapAzureWorkSupport.h"
#include "platform/FXString.h"

namespace {

std::string TrimmedId(const std::string& id) {
    return FXString::Trim(id, "/");
}

// A revert names its disk after the source disk ("<source>-<time>", or the
// source's own name when it deletes the source) or, without a source name,
// after the snapshot ("<snapshot>_<time>"). Only such disks can be leftovers;
// the others are not worth a request.
bool HasRevertName(const std::string& diskName, const AzureSnapMetadata& metadata) {
    if (!metadata.sourceDiskName.empty()) {
        return diskName == metadata.sourceDiskName ||
               FXString::StartsWith(diskName, metadata.sourceDiskName + "-");
    }
    return FXString::StartsWith(diskName, LastSegment(metadata.snapURL) + "_");
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::vector<int> RevertLeftovers::Find(const AzureSnapMetadata& metadata,
                                       const AzureDiskSnapShotInfo& snapshot) {
    std::vector<int> luns;
    for (const AzureDiskInfo& disk : call_.instance().disks) {
        if (disk.lun < 0 ||
            FXString::EqualsNoCase(TrimmedId(disk.id), TrimmedId(metadata.sourceDiskURL)) ||
            !HasRevertName(LastSegment(disk.id), metadata) ||
            !MadeByRevertOf(disk, metadata, snapshot)) {
            continue;
        }
        call_.Log(KXSO::LOG_INFO,
                  "Found disk [%s] at lunid [%d] left by an interrupted revert of [%s]; it is "
                  "replaced like the source disk",
                  disk.id.c_str(), disk.lun, metadata.sourceDiskURL.c_str());
        luns.push_back(disk.lun);
    }
    return luns;
}

// The tags a revert writes: the disk was created from this snapshot, by a
// revert, in place of a disk of the metadata's source name.
bool RevertLeftovers::MadeByRevertOf(const AzureDiskInfo& disk, const AzureSnapMetadata& metadata,
                                     const AzureDiskSnapShotInfo& snapshot) {
    const AzureResourceInfo* resource = TagsOf(disk);
    if (resource == nullptr) {
        return false;
    }
    const auto created = resource->tags.find(AZURE_TAG_DISK_CREATED);
    const auto reverted = resource->tags.find(AZURE_TAG_DISK_REVERTED);
    return created != resource->tags.end() && reverted != resource->tags.end() &&
           EndsWith(created->second, "from snapshot " + snapshot.name) &&
           EndsWith(reverted->second, "original disk name [" + metadata.sourceDiskName + "]");
}

const AzureResourceInfo* RevertLeftovers::TagsOf(const AzureDiskInfo& disk) {
    const auto known = tags_.find(disk.id);
    if (known != tags_.end()) {
        return &known->second;
    }
    if (unreadable_.count(disk.id) != 0) {
        return nullptr;
    }
    AzureResourceInfo resource;
    bool createdByKX = false;
    const CUxError err = call_.api().GetAzureResourceInfo(disk.id, resource, createdByKX);
    if (err) {
        // Unread tags leave the disk alone: it may belong to someone else.
        call_.Log(KXSO::LOG_ERROR, "Failed to read the tags of disk [%s]: %s", disk.id.c_str(),
                  ErrorText(err).c_str());
        unreadable_.insert(disk.id);
        return nullptr;
    }
    return &tags_.emplace(disk.id, resource).first->second;
}
