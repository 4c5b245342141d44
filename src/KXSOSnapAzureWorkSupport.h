// Steps that several managed-disk drivers share: reading a record's snapshot
// metadata, checking that it names this VM's own resources, and the text form
// of an error as it goes into a record's message.
#pragma once

#include <string>

#include "AzureRecords.h"
#include "KXSOSnapAzureFrame.h"
#include "platform/CUxError.h"

// Files a record that has no array yet under the array chosen for snapshots
// while the context was set up.
void AssociateRecordWithArray(ManagedDiskCall& call, KXSO::SnapInfo* record);

// Prepare and snapshot start alike: associate the record with the array,
// then find its source device's LUN and the Azure disk at that LUN. False,
// with the failure on the record, when any step fails.
bool FindSourceDiskOfRecord(ManagedDiskCall& call, KXSO::SnapInfo* record, std::string& devicePath,
                            int& lun, AzureDiskInfo& disk);

// The record's snapshot metadata text (id 6); false when the host has none.
bool FetchSnapMetadata(KXSO::SnapInfo* record, std::string& text);

// Parses the metadata text into a fresh record and checks its shape: the
// snapshot it names is a Compute snapshot and the source disk, when named, a
// Compute disk. Anything else (a disk in the snapshot's place, say) would
// have a delete or revert act on a resource that is not a snapshot, so it is
// refused like unparsable text. The subscription is not checked: snapshots
// may live in another subscription than the VM.
bool ParseAndCheckSnapMetadata(ManagedDiskCall& call, const std::string& text,
                               AzureSnapMetadata& metadata);
// The same check of parsed metadata, without a word in the log.
bool IsSnapMetadataSound(const AzureSnapMetadata& metadata);

// The error's text as it goes into a record's message.
std::string ErrorText(const CUxError& error);

// The part of a resource id after its last '/'.
std::string LastSegment(const std::string& id);

// The data disk of this VM whose name equals `name` exactly; null when none.
const AzureDiskInfo* FindDataDiskByName(const AzureInstanceInfo& instance, const std::string& name);

// Stores the record's final status. A host that refuses it has not learned
// the outcome (the disk attached, the device found): the record fails
// instead, with `outcome` in its message, so that a disk this call attached
// is always named on a record and the call does not report success.
bool StoreFinalStatus(ManagedDiskCall& call, KXSO::SnapInfo* record, int status,
                      const std::string& outcome);
