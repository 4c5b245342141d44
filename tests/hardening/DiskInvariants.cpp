#include "DiskInvariants.h"

#include <algorithm>

#include "platform/FXString.h"

namespace faultmatrix {
namespace {

using Problems = std::vector<std::string>;

std::string MetadataField(const std::string& text, const std::string& key) {
    const size_t start = text.find(key + ":");
    if (start == std::string::npos) {
        return "";
    }
    const size_t from = start + key.size() + 1;
    return text.substr(from, text.find(';', from) - from);
}

bool AnyError(const RunOutcome& run) {
    return std::any_of(run.records.begin(), run.records.end(),
                       [](const RecordView& r) { return r.errorCode != 0; });
}

// A record accounts for what it did when it either finished or says why not.
bool Accounts(const DiskRules& rules, const RecordView& record) {
    return record.status == rules.success || record.errorCode != 0;
}

std::string RecordName(size_t index) {
    return "record " + std::to_string(index);
}

void CheckResult(const DiskRules& rules, const RunOutcome& run, Problems& problems) {
    if (rules.results.count(run.result) == 0) {
        problems.push_back("result " + std::to_string(run.result) +
                           " is not one the operation gives");
    }
    if (rules.fixedResult) {
        return;
    }
    if (AnyError(run) && run.result == 0 && !rules.judgedByWhatRemains) {
        problems.push_back("result 0 although a record carries an error");
    }
    if (run.result != 0 && !AnyError(run)) {
        problems.push_back("result " + std::to_string(run.result) +
                           " but no record says what failed");
    }
}

void CheckRecords(const DiskRules& rules, const RunOutcome& run, Problems& problems) {
    const bool anyError = AnyError(run);
    for (size_t i = 0; i < run.records.size(); ++i) {
        const RecordView& record = run.records[i];
        if ((record.errorCode != 0) != !record.errorText.empty()) {
            problems.push_back(RecordName(i) + " has error code " +
                               std::to_string(record.errorCode) + " with message [" +
                               record.errorText + "]");
        }
        if (record.errorCode != 0 && rules.errorCodes.count(record.errorCode) == 0) {
            problems.push_back(RecordName(i) + " carries error code " +
                               std::to_string(record.errorCode) + ", not the operation's");
        }
        if (run.hostRefused || rules.fixedResult) {
            continue;  // a host that refuses statuses keeps whatever it had
        }
        if (run.result == 0 && record.status != rules.success && !rules.judgedByWhatRemains) {
            problems.push_back("result 0 but " + RecordName(i) + " has status " +
                               std::to_string(record.status));
        }
        // Records after the one that stopped the walk keep the up-front status.
        const bool untouched = anyError && record.status == rules.upFront;
        if (!Accounts(rules, record) && !untouched) {
            problems.push_back(RecordName(i) + " ended with status " +
                               std::to_string(record.status) + " and no error");
        }
    }
}

// The record a created or removed resource belongs to, or -1.
int Owner(const DiskRules& rules, const RunOutcome& run, const std::string& name) {
    for (size_t i = 0; i < run.records.size(); ++i) {
        const RecordView& record = run.records[i];
        const std::string source = MetadataField(record.metadata, "sourceDiskName");
        const bool owns = FXString::EqualsNoCase(record.snapName, name) ||
                          FXString::EqualsNoCase(record.snapName + "_CLONE", name) ||
                          (rules.creates == DiskCreates::RevertDisks && !source.empty() &&
                           FXString::FindString(name, source + "-", true) == 0);
        if (owns) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string Kind(const std::string& key) {
    return key.substr(0, key.find(':'));
}

std::string Name(const std::string& key) {
    return key.substr(key.find(':') + 1);
}

bool CreatesThis(const DiskRules& rules, const std::string& kind) {
    switch (rules.creates) {
        case DiskCreates::Snapshots:
            return kind == "snapshot";
        case DiskCreates::CloneDisks:
        case DiskCreates::RevertDisks:
            return kind == "disk" || kind == "attach";
        default:
            return false;
    }
}

void CheckCreated(const DiskRules& rules, const RunOutcome& run, Problems& problems) {
    for (const auto& [key, doc] : run.after) {
        if (run.before.count(key) != 0) {
            continue;
        }
        const std::string kind = Kind(key);
        const std::string name = Name(key);
        if (!CreatesThis(rules, kind)) {
            problems.push_back("created " + key + " although the operation creates no " + kind);
            continue;
        }
        const int owner = Owner(rules, run, name);
        if (owner < 0) {
            problems.push_back("created " + key + " that no record owns");
            continue;
        }
        const RecordView& record = run.records[owner];
        // Its own record accounts for it: done, attached without a device
        // (map), or an error that names it. A whole-call failure on another
        // record does not: the host would never learn the disk is there.
        const bool named = record.errorText.find(name) != std::string::npos;
        const bool attachedNoDevice =
            rules.creates == DiskCreates::CloneDisks && record.status == 9;
        if (record.status != rules.success && !attachedNoDevice && !named) {
            problems.push_back("left " + key + " behind for " + RecordName(owner) + " (status " +
                               std::to_string(record.status) + ", its error does not name it)");
        }
        // A disk whose attach failed is deleted again, unless its record
        // names it (kept while the update was unsettled, or as the data left
        // after the source disks were deleted); only attached ones stay.
        if (kind == "disk" && run.after.count("attach:" + name) == 0 && !named) {
            problems.push_back("left unattached disk " + name + " behind (" + RecordName(owner) +
                               " status " + std::to_string(record.status) + ")");
        }
    }
}

bool IsSourceDisk(const RunOutcome& run, const std::string& name) {
    return std::any_of(run.records.begin(), run.records.end(), [&](const RecordView& record) {
        return FXString::EqualsNoCase(MetadataField(record.metadata, "sourceDiskName"), name);
    });
}

bool MayRemove(const DiskRules& rules, const RunOutcome& run, const std::string& key) {
    const std::string kind = Kind(key);
    const std::string name = Name(key);
    // Revert detaches the source disks it replaces.
    if (rules.detachesSources && kind == "attach" && IsSourceDisk(run, name)) {
        return true;
    }
    const int owner = Owner(rules, run, name);
    if (owner < 0) {
        return false;
    }
    const RecordView& record = run.records[owner];
    if (rules.deletesSnapshots) {
        return kind == "snapshot" && FXString::EqualsNoCase(record.snapName, name);
    }
    if (rules.removesClones) {
        return kind == "disk" || kind == "attach";
    }
    return false;
}

bool MayChange(const DiskRules& rules, const RunOutcome& run, const std::string& key) {
    const std::string name = Name(key);
    if (Kind(key) != "disk") {
        return false;
    }
    // Detaching changes a disk's state and owner.
    if (rules.detachesSources && IsSourceDisk(run, name)) {
        return true;
    }
    for (const RecordView& record : run.records) {
        if (rules.removesClones && FXString::EqualsNoCase(record.snapName + "_CLONE", name)) {
            return true;
        }
    }
    return false;
}

void CheckRemovedAndChanged(const DiskRules& rules, const RunOutcome& run, Problems& problems) {
    for (const auto& [key, doc] : run.before) {
        auto after = run.after.find(key);
        if (after == run.after.end()) {
            if (!MayRemove(rules, run, key)) {
                problems.push_back("removed " + key);
            }
        } else if (after->second != doc && !MayChange(rules, run, key)) {
            problems.push_back("changed " + key + ": " + doc.dump() + " -> " +
                               after->second.dump());
        }
    }
}

// A record that says it is done must be right about it.
void CheckSuccessIsTrue(const DiskRules& rules, const RunOutcome& run, Problems& problems) {
    for (size_t i = 0; i < run.records.size(); ++i) {
        const RecordView& record = run.records[i];
        if (record.status != rules.success || run.hostRefused) {
            continue;
        }
        const std::string clone = record.snapName + "_CLONE";
        if (rules.creates == DiskCreates::Snapshots &&
            run.after.count("snapshot:" + record.snapName) == 0) {
            problems.push_back(RecordName(i) + " reports a snapshot that does not exist");
        }
        if (rules.deletesSnapshots && run.after.count("snapshot:" + record.snapName) != 0) {
            problems.push_back(RecordName(i) + " reports deleted a snapshot that still exists");
        }
        if (rules.creates == DiskCreates::CloneDisks &&
            (run.after.count("attach:" + clone) == 0 || record.mappedDevice.empty())) {
            problems.push_back(RecordName(i) + " reports mapped but " + clone +
                               " is not attached or no device was recorded");
        }
        if (rules.removesClones && run.after.count("attach:" + clone) != 0) {
            problems.push_back(RecordName(i) + " reports unmapped but " + clone +
                               " remains attached");
        } else if (rules.removesClones && run.after.count("disk:" + clone) != 0) {
            problems.push_back(RecordName(i) + " reports unmapped but " + clone +
                               " remains, detached");
        }
        if (rules.creates == DiskCreates::RevertDisks && record.revertedDevice.empty()) {
            problems.push_back(RecordName(i) + " reports reverted without a device");
        }
    }
}

}  // namespace

std::vector<std::string> CheckDiskRun(const DiskRules& rules, const RunOutcome& run) {
    Problems problems;
    CheckResult(rules, run, problems);
    CheckRecords(rules, run, problems);
    CheckCreated(rules, run, problems);
    CheckRemovedAndChanged(rules, run, problems);
    CheckSuccessIsTrue(rules, run, problems);
    return problems;
}

RecordView ViewOf(const kxsnap::RecordData& data) {
    RecordView view;
    view.status = data.status;
    view.errorCode = data.errorCode;
    view.errorText = data.errorText;
    view.snapName = data.snapName.value_or("");
    view.mappedDevice = data.mappedDevicePath;
    view.revertedDevice = data.revertedDevicePath;
    view.metadata = data.metadata.count(6) != 0 ? data.metadata.at(6) : "";
    return view;
}

}  // namespace faultmatrix
