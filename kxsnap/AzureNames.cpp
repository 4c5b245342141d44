#include "kxsnap/AzureNames.h"

#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppMetadataText.h"
#include "KxSnapAzureMetadataText.h"

namespace kxsnap {

namespace {

std::string SnapshotMetadata(const CatalogEntry& entry) {
    auto found = entry.record.metadata.find(KXSO::METADATA_SNAPSHOT);
    return found == entry.record.metadata.end() ? "" : found->second;
}

std::string LastSegment(const std::string& id) {
    size_t slash = id.rfind('/');
    return slash == std::string::npos ? id : id.substr(slash + 1);
}

// The plug-in stores ids as Azure gave them in its URL paths, at times
// without the leading "/" that a resource id has.
std::string ResourceId(const std::string& stored) {
    return stored.empty() || stored.front() == '/' ? stored : "/" + stored;
}

// Both texts are the plug-in's stored data: read with its own parsers.
AzureNames DiskNames(const std::string& text) {
    AzureSnapMetadata metadata;
    std::string problem;
    if (!ReadAzureSnapMetadataText(text, metadata, problem))
        return {};
    AzureNames names;
    names.snapshotId = ResourceId(metadata.snapURL);
    names.snapshotName = LastSegment(names.snapshotId);
    names.sourceId = ResourceId(metadata.sourceDiskURL);
    names.sourceName = LastSegment(names.sourceId);
    return names;
}

// "subscription|group|account|pool|volume|snapshot|"
AzureNames NetAppNames(const std::string& text) {
    using namespace AnfMetadataText;
    const std::vector<std::string> fields = SplitFields(text);
    AzureNames names;
    if (fields.size() <= kVolumeField)
        return names;
    names.sourceName = fields[kVolumeField];
    names.sourceId = "/subscriptions/" + fields[kSubscriptionField] + "/resourceGroups/" +
                     fields[kResourceGroupField] + "/providers/Microsoft.NetApp/netAppAccounts/" +
                     fields[kAccountField] + "/capacityPools/" + fields[kCapacityPoolField] +
                     "/volumes/" + fields[kVolumeField];
    if (TakeField(fields, kSnapshotNameField, names.snapshotName))
        names.snapshotId = names.sourceId + "/snapshots/" + names.snapshotName;
    return names;
}

}  // namespace

AzureNames AzureNamesOf(const CatalogEntry& entry) {
    std::string text = SnapshotMetadata(entry);
    if (text.empty())
        return {};
    return entry.kind == SnapKind::kNetAppFiles ? NetAppNames(text) : DiskNames(text);
}

}  // namespace kxsnap
