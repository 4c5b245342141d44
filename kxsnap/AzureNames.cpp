#include "kxsnap/AzureNames.h"

#include <vector>

namespace kxsnap {

namespace {

std::string SnapshotMetadata(const CatalogEntry& entry) {
    auto found = entry.record.metadata.find(KXSO::METADATA_SNAPSHOT);
    return found == entry.record.metadata.end() ? "" : found->second;
}

// "snapURL:ID;sourceDiskURL:ID;sourceDiskName:NAME;sourceDiskSku:SKU;"
std::string DiskField(const std::string& text, const std::string& key) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        std::string item = text.substr(start, end - start);
        if (item.rfind(key + ":", 0) == 0)
            return item.substr(key.size() + 1);
        start = end + 1;
    }
    return "";
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

AzureNames DiskNames(const std::string& text) {
    AzureNames names;
    names.snapshotId = ResourceId(DiskField(text, "snapURL"));
    names.snapshotName = LastSegment(names.snapshotId);
    names.sourceId = ResourceId(DiskField(text, "sourceDiskURL"));
    names.sourceName = LastSegment(names.sourceId);
    return names;
}

// "subscription|group|account|pool|volume|snapshot|": the fields before each "|".
AzureNames NetAppNames(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(text.substr(start, bar - start));
    AzureNames names;
    if (fields.size() < 5)
        return names;
    names.sourceName = fields[4];
    names.sourceId = "/subscriptions/" + fields[0] + "/resourceGroups/" + fields[1] +
                     "/providers/Microsoft.NetApp/netAppAccounts/" + fields[2] + "/capacityPools/" +
                     fields[3] + "/volumes/" + fields[4];
    if (fields.size() > 5 && !fields[5].empty()) {
        names.snapshotName = fields[5];
        names.snapshotId = names.sourceId + "/snapshots/" + fields[5];
    }
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
