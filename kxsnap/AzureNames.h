// The Azure side of a catalogue snapshot, read from the metadata the plug-in
// stored on its record: what a person looks for in the portal or the CLI.
#pragma once

#include <string>

#include "kxsnap/Catalog.h"

namespace kxsnap {

struct AzureNames {
    std::string snapshotName;  // the snapshot resource's name
    std::string snapshotId;    // its resource id
    std::string sourceName;    // the managed disk or the NetApp Files volume
    std::string sourceId;      // its resource id
};

// Empty fields where the plug-in has not (yet) written them, e.g. after a
// backup that failed at prepare.
AzureNames AzureNamesOf(const CatalogEntry& entry);

}  // namespace kxsnap
