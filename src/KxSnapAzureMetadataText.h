// The managed-disk snapshot's metadata text, stored with every snapshot on its
// host record: "snapURL:...;sourceDiskURL:...;sourceDiskName:...;sourceDiskSku:...;".
// Snapshots taken by earlier versions are read from it, so its form is
// byte-exact. The plug-in and kxsnap both read it through these functions.
#pragma once

#include <string>

#include "AzureRecords.h"

void FormatAzureSnapMetaData(const AzureSnapMetadata& metadata, std::string& text);

// Fills `metadata` from the text; false with the log line that says why.
bool ReadAzureSnapMetadataText(const std::string& text, AzureSnapMetadata& metadata,
                               std::string& problem);
