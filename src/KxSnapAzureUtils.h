// Free functions of the managed-disk engine: the snapshot metadata text and
// the naming rules (KxSnapAzureUtilsMetadata.cpp), the checks on names that
// reach a resource URL (KxSnapAzureUtilsNames.cpp), and the mapping between
// Azure LUNs and Linux SCSI block devices (KxSnapAzureUtilsDevices.cpp).
// None keeps state; none throws.
#pragma once

#include <string>
#include <vector>

#include "AzureRecords.h"
#include "KxSnapAzureMetadataText.h"
#include "kxso/KXSOSnapInfo.h"
#include "platform/CUxError.h"

// --- Snapshot metadata and naming ----------------------------------------
// The metadata text is stored data: snapshots taken today are deleted, mapped
// and reverted from it years later, so its form never changes.
bool ParseAzureSnapMetaData(const std::string& text, AzureSnapMetadata& metadata);
CUxError ValidateAzureDiskName(const std::string& name);
void GetRevertedDiskName(const AzureSnapMetadata& metadata, bool reuseSourceName,
                         AzureDiskSnapShotInfo& snapshot);
void GetSnapshotCloneName(KXSO::SnapInfo* record, std::string& name);
void GetSnapshotCloneType(const AzureSnapMetadata& metadata, std::string& diskType,
                          bool unused = false);
std::string GetArrayNameFromReg();
bool GetAzureArrayAccessInfo(const AzureInstanceInfo& instance, AzureAccessInfo& access,
                             std::string& arrayName);
bool GetLunidForMappedDiskResource(const AzureInstanceInfo& instance,
                                   const std::string& diskResourceId, int& lun,
                                   std::string& detail);

// --- Names that reach a URL ------------------------------------------------
// A resource name taken from the host or from metadata must address exactly
// one resource: no '/', '?', '#', '%', whitespace, control characters, and not
// "." or "..". Fails with code 774 before any request is sent.
CUxError ValidateAzureResourceName(const std::string& name);
// The same rule for every '/'-separated segment of a resource path (empty
// segments, as in a leading '/', are allowed).
CUxError ValidateAzureResourcePath(const std::string& path);

// --- SCSI LUN to Linux device mapping ---------------------------------------
void WaitForDevicesToSettle();
bool FetchAllDiskNamesList(std::vector<std::string>& names);
bool DiscoverMappedDiskNames(const std::vector<std::string>& before,
                             std::vector<std::string>& found);
bool GetLunidForScsiDiskName(const std::string& deviceName, int& lun, std::string& detail);
// The same against a list of disks FetchAllDiskNamesList gave, so that a
// call looking up many devices settles the devices once, not once per device.
bool GetLunidForScsiDiskName(const std::string& deviceName, int& lun, std::string& detail,
                             const std::vector<std::string>& disks);
bool GetScsiDiskNameForLunid(const std::vector<std::string>& candidates, const int lun,
                             std::string& deviceName, std::string& detail);
bool GetScsiDiskNameForLunid2(const std::vector<std::string>& candidates, const int lun,
                              std::string& deviceName, std::string& detail);
// The same without settling the devices first: for a call that settled them
// once for all the LUNs it looks up.
bool FindSettledDiskNameForLunid(int lun, std::string& deviceName);
