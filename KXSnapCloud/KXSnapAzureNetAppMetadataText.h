// The texts of the metadata records the NetApp Files engine keeps with every
// snapshot: each field followed by "|". Snapshots taken by earlier versions
// are read from them, so their form is byte-exact. The engine and kxsnap both
// read them through these functions.
#pragma once

#include <string>
#include <vector>

namespace AnfMetadataText {

// The fields of the snapshot record:
// "subscription|resource group|account|capacity pool|volume|snapshot name|".
enum SnapshotRecordField : size_t {
    kSubscriptionField = 0,
    kResourceGroupField = 1,
    kAccountField = 2,
    kCapacityPoolField = 3,
    kVolumeField = 4,
    kSnapshotNameField = 5,
};

// The fields of a record: the texts before each "|". Text after the last "|"
// is no field: a writer that stopped half-way left it.
std::vector<std::string> SplitFields(const std::string& record);

// Field `index` when present and non-empty.
bool TakeField(const std::vector<std::string>& fields, size_t index, std::string& value);

// Puts `value` into the last field of `record` (the one closed by its final
// "|"). The field is empty when prepare wrote the record; a value already
// there (the phase ran before) is replaced, never extended.
bool CompleteLastField(std::string& record, const std::string& value);

}  // namespace AnfMetadataText
