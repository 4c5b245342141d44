// The everyday subcommands: backup, list, mount, unmount, revert, delete and
// reconcile, each a plug-in job on catalogue snapshots.
#include <functional>
#include <iostream>

#include <unistd.h>

#include "KXSnapCloud/KXSnapAzureNetAppMetadataText.h"
#include "KxSnapAzureMetadataText.h"
#include "kxsnap/CommandLine.h"
#include "kxsnap/CommandSupport.h"
#include "kxsnap/Commands.h"
#include "kxsnap/Errors.h"
#include "kxsnap/InUse.h"
#include "kxsnap/Output.h"
#include "kxsnap/Session.h"

namespace kxsnap {

namespace {

// Runs a subcommand body. kxsnap's own errors (UsageError, EnvironmentError)
// go on to main, which reports them as one line or, with --json, as JSON.
int Guarded(const std::function<int()>& body) {
    return body();
}

// Prints what each job did: `describe` gives the line for one snapshot.
// `earlier` are jobs the same command ran first (the unmount of delete
// --force), printed as text when they ended: JSON gives all in one document.
int Report(const GlobalOptions& options, const std::vector<JobReport>& reports,
           const std::function<std::string(const CatalogEntry&)>& describe,
           const std::vector<JobReport>& earlier = {}) {
    std::vector<JobReport> all = earlier;
    all.insert(all.end(), reports.begin(), reports.end());
    if (options.json) {
        std::cout << ReportsToJson(all).dump(2, ' ', false,
                                             nlohmann::json::error_handler_t::replace)
                  << std::endl;
    } else {
        for (const auto& report : reports) {
            for (const auto& entry : report.entries)
                std::cout << describe(entry) << "\n";
            std::cout << "job " << report.jobId << " (" << KindName(report.kind) << "): "
                      << (report.result == 0 ? "done" : "result " + std::to_string(report.result))
                      << ", log " << report.logPath << std::endl;
        }
    }
    for (const auto& report : reports) {
        for (const auto& line : FailureLines(report))
            std::cerr << "kxsnap: " << line << std::endl;
    }
    return CombinedResult(all);
}

// The first jobs of a command that runs more: as text they are printed now;
// as JSON with the last (Report's `earlier`).
std::vector<JobReport> ReportFirst(
    const GlobalOptions& options, std::vector<JobReport> reports,
    const std::function<std::string(const CatalogEntry&)>& describe) {
    if (!options.json) {
        Report(options, reports, describe);
        return reports;
    }
    for (const auto& report : reports) {
        for (const auto& line : FailureLines(report))
            std::cerr << "kxsnap: " << line << std::endl;
    }
    return reports;
}

int RunOnNamed(const GlobalOptions& options, Command command, const std::vector<std::string>& names,
               const std::function<std::string(const CatalogEntry&)>& describe,
               const Catalog::EntryCheck& check) {
    return Guarded([&] {
        Session session(ToSessionOptions(options));
        std::vector<CatalogEntry> entries = session.catalog().Resolve(names);
        return Report(options, session.Run(command, entries, check), describe);
    });
}

bool IsMounted(const CatalogEntry& entry) {
    return entry.state == "mounted" || entry.state == "attached" || IsUnknownState(entry.state);
}

// What on this machine still uses the disk or clone export a snapshot is
// mounted as, "" when nothing does.
std::string CloneUse(const CatalogEntry& entry) {
    const std::string& mapped = entry.record.mappedDevicePath;
    return entry.kind == SnapKind::kNetAppFiles ? ExportUse(mapped) : BlockDeviceUse(mapped);
}

// A device is taken away only when nothing uses it, or when told to.
void RefuseWhileInUse(const CatalogEntry& entry, const std::string& use, const char* doing,
                      bool force) {
    if (!use.empty() && !force) {
        throw RefusedError("not " + std::string(doing) + " " + entry.name + ": " + use +
                           "; unmount it first, or give --force");
    }
}

// After an interrupted mount or unmount nobody knows what is attached: only
// unmount (or reconcile) may touch the snapshot until it is resolved.
void RefuseWhileUnknown(const CatalogEntry& entry, const char* doing) {
    if (IsUnknownState(entry.state)) {
        throw RefusedError("not " + std::string(doing) + " " + entry.name + ": its state is " +
                           entry.state + "; run kxsnap unmount " + entry.name + " first");
    }
}

// The snapshot's metadata record as the plug-in stored it, or "".
std::string SnapshotRecord(const CatalogEntry& entry) {
    auto found = entry.record.metadata.find(KXSO::METADATA_SNAPSHOT);
    return found == entry.record.metadata.end() ? "" : found->second;
}

// Read with the plug-in's own parsers: the texts are its stored data.
std::string SourceDiskName(const CatalogEntry& entry) {
    AzureSnapMetadata metadata;
    std::string problem;
    if (!ReadAzureSnapMetadataText(SnapshotRecord(entry), metadata, problem))
        return "";
    return metadata.sourceDiskURL.substr(metadata.sourceDiskURL.rfind('/') + 1);
}

std::string NetAppVolume(const CatalogEntry& entry) {
    std::string volume;
    AnfMetadataText::TakeField(AnfMetadataText::SplitFields(SnapshotRecord(entry)),
                               AnfMetadataText::kVolumeField, volume);
    return volume;
}

std::string WhatRevertReplaces(const CatalogEntry& entry) {
    if (entry.kind == SnapKind::kNetAppFiles) {
        std::string volume = NetAppVolume(entry);
        return "the NetApp Files volume " + (volume.empty() ? "" : volume + " ") + "mounted as " +
               entry.target + " is rolled back to " + entry.name + " (taken " +
               ShortTime(entry.takenAt) + " UTC); everything written since is lost";
    }
    std::string disk = SourceDiskName(entry);
    return "the Azure disk " + (disk.empty() ? "" : disk + " ") + "behind " + entry.target +
           " is detached and replaced by a new disk made from " + entry.name + " (taken " +
           ShortTime(entry.takenAt) + " UTC)";
}

std::string WhatUnmountDeletes(const CatalogEntry& entry) {
    std::string what = entry.kind == SnapKind::kNetAppFiles ? "the clone volume " : "the disk ";
    if (!entry.record.mappedDevicePath.empty())
        what += entry.record.mappedDevicePath + " ";
    return what + "made from " + entry.name + " is deleted, with everything written to it";
}

}  // namespace

int BackupCommand(const GlobalOptions& options, const std::vector<std::string>& targets) {
    return Guarded([&] {
        // Checked here, before a row is written or Azure is asked: one bad
        // target must not sink the others.
        CheckedTargets checked = CheckTargets(targets);
        if (checked.usable.empty() && options.json) {
            // Nothing to run: the refusals are the answer a script reads.
            std::string refused;
            for (const auto& line : checked.refused)
                refused += (refused.empty() ? "" : "; ") + line;
            return ReportError(true, kExitUsage, "not backed up: " + refused);
        }
        for (const auto& line : checked.refused)
            std::cerr << "kxsnap: not backed up: " << line << std::endl;
        for (const auto& line : checked.merged)
            std::cerr << "kxsnap: " << line << std::endl;
        if (checked.usable.empty())
            return kExitUsage;
        Session session(ToSessionOptions(options));
        std::vector<CatalogEntry> entries = session.NewSnapshots(checked.usable);
        int result = Report(options, session.Run(Command::kBackup, entries), [](const auto& entry) {
            return entry.name + "  " + entry.target + "  " + entry.state;
        });
        return checked.refused.empty() ? result : kExitUsage;
    });
}

int MountCommand(const GlobalOptions& options, const std::vector<std::string>& names) {
    return RunOnNamed(
        options, Command::kMount, names,
        [](const CatalogEntry& entry) {
            if (entry.state == "mounted")
                return entry.name + " -> " + entry.record.mappedDevicePath;
            return entry.name + ": not mounted (" + StatusMeaning(entry.record.status) + ")";
        },
        [](const CatalogEntry& entry) { RefuseWhileUnknown(entry, "mounting"); });
}

int UnmountCommand(const GlobalOptions& options, const std::vector<std::string>& names,
                   bool confirmed) {
    return Guarded([&] {
        Session session(ToSessionOptions(options));
        std::vector<CatalogEntry> entries = session.catalog().Resolve(names);
        if (!Confirm("unmount", "Unmount deletes what mount made:", entries, WhatUnmountDeletes,
                     confirmed)) {
            std::cerr << "kxsnap: unmount cancelled; nothing was changed" << std::endl;
            return 1;
        }
        auto check = [&options](const CatalogEntry& entry) {
            RefuseWhileInUse(entry, CloneUse(entry), "unmounting", options.force);
        };
        return Report(
            options, session.Run(Command::kUnmount, entries, check), [](const auto& entry) {
                return entry.name + ": " +
                       (entry.state == "ready" ? std::string("unmounted")
                                               : "still " + entry.state + " (" +
                                                     StatusMeaning(entry.record.status) + ")");
            });
    });
}

int RevertCommand(const GlobalOptions& options, const std::vector<std::string>& names,
                  bool confirmed) {
    return Guarded([&] {
        Session session(ToSessionOptions(options));
        std::vector<CatalogEntry> entries = session.catalog().Resolve(names);
        if (!Confirm("revert", "Revert replaces live data:", entries, WhatRevertReplaces,
                     confirmed)) {
            std::cerr << "kxsnap: revert cancelled; nothing was changed" << std::endl;
            return 1;
        }
        auto check = [&options](const CatalogEntry& entry) {
            if (entry.state != InterruptedState("revert"))
                RefuseWhileUnknown(entry, "reverting");
            // The NetApp Files volume is the mounted export itself; a managed
            // disk is detached from under whatever uses it.
            if (entry.kind == SnapKind::kManagedDisk)
                RefuseWhileInUse(entry, BlockDeviceUse(entry.record.sourceDevicePath.value_or("")),
                                 "reverting", options.force);
        };
        return Report(
            options, session.Run(Command::kRevert, entries, check), [](const auto& entry) {
                if (entry.record.status != KXSO::SNAP_STATUS_REVERTED)
                    return entry.name + ": not reverted (" + StatusMeaning(entry.record.status) +
                           ")";
                std::string device = entry.record.revertedDevicePath;
                return entry.name + ": reverted" +
                       (device.empty() ? std::string() : ", " + entry.target + " is now " + device);
            });
    });
}

namespace {

// A NetApp Files row without its snapshot record: the backup stopped before
// the plug-in wrote where the snapshot is, so a delete has nothing to act on.
// (A backup still running is refused as busy instead.)
bool NothingToDelete(const CatalogEntry& entry) {
    return entry.kind == SnapKind::kNetAppFiles && entry.record.metadata.empty() && !entry.busy;
}

std::string DescribeDelete(const CatalogEntry& entry) {
    return entry.name + ": " +
           (entry.record.status == KXSO::SNAP_STATUS_DELETED
                ? std::string("deleted")
                : "not deleted (" + StatusMeaning(entry.record.status) + ")");
}

// delete --force: unmounts what is mounted (or unknown) first, as unmount
// would, never from under a file system.
std::vector<JobReport> UnmountBeforeDelete(const GlobalOptions& options, Session& session,
                                           const std::vector<CatalogEntry>& entries) {
    std::vector<CatalogEntry> mounted;
    for (const auto& entry : entries) {
        if (IsMounted(entry))
            mounted.push_back(entry);
    }
    if (mounted.empty())
        return {};
    auto check = [](const CatalogEntry& entry) {
        RefuseWhileInUse(entry, CloneUse(entry), "unmounting", false);
    };
    return ReportFirst(options, session.Run(Command::kUnmount, mounted, check),
                       [](const CatalogEntry& entry) {
                           return entry.name + ": " +
                                  (entry.state == "ready" ? "unmounted" : "still " + entry.state);
                       });
}

}  // namespace

int DeleteCommand(const GlobalOptions& options, const std::vector<std::string>& names) {
    return Guarded([&] {
        Session session(ToSessionOptions(options));
        std::vector<CatalogEntry> named = session.catalog().Resolve(names);
        std::vector<CatalogEntry> entries;
        int kept = 0;
        for (const auto& entry : named) {
            if (NothingToDelete(entry)) {
                std::cerr << "kxsnap: " << entry.name
                          << ": kept: nothing was recorded to find it in Azure by (the backup "
                             "stopped first); nothing was deleted"
                          << std::endl;
                ++kept;
            } else {
                entries.push_back(entry);
            }
        }
        if (entries.empty())
            return int(KXSO::RESULT_FAILURE);
        std::vector<JobReport> unmounted;
        if (options.force) {
            unmounted = UnmountBeforeDelete(options, session, entries);
            int result = CombinedResult(unmounted);
            if (result != 0) {
                if (options.json)
                    Report(options, {}, DescribeDelete, unmounted);
                return result;
            }
        }
        auto check = [](const CatalogEntry& entry) {
            if (IsMounted(entry)) {
                throw RefusedError("not deleting " + entry.name + ": it is " + entry.state +
                                   "; unmount it first, or give --force to unmount and delete");
            }
        };
        int result = Report(options, session.Run(Command::kDelete, entries, check), DescribeDelete,
                            unmounted);
        return kept == 0 ? result : int(KXSO::RESULT_FAILURE);
    });
}

int ReconcileCommand(const GlobalOptions& options) {
    return Guarded([&] {
        Session session(ToSessionOptions(options));
        std::vector<CatalogEntry> all = session.catalog().All();
        // Interrupted mounts and unmounts are resolved the way unmount would.
        std::vector<CatalogEntry> unknown;
        for (const auto& entry : all) {
            if (IsUnknownState(entry.state))
                unknown.push_back(entry);
        }
        std::vector<JobReport> resolved;
        if (!unknown.empty()) {
            resolved = ReportFirst(options, session.Run(Command::kUnmount, unknown),
                                   [](const CatalogEntry& entry) {
                                       return entry.name + ": " +
                                              (entry.state == "ready" ? "resolved: unmounted"
                                                                      : "still " + entry.state);
                                   });
            all = session.catalog().All();
        }
        std::vector<CatalogEntry> netapp;
        size_t disks = 0;
        for (auto& entry : all) {
            if (entry.kind == SnapKind::kNetAppFiles)
                netapp.push_back(entry);
            else
                ++disks;
        }
        // The managed-disk path has no reconciliation (it answers failure and
        // changes nothing), so asking it would only report a false failure.
        if (disks != 0 && !options.json) {
            std::cout << disks << " managed-disk snapshot(s) skipped: the plug-in reconciles "
                      << "NetApp Files snapshots only" << std::endl;
        }
        if (netapp.empty()) {
            if (options.json)
                std::cout << ReportsToJson(resolved).dump(2) << std::endl;
            else
                std::cout << "No NetApp Files snapshots to reconcile" << std::endl;
            return CombinedResult(resolved);
        }
        return Report(
            options, session.Run(Command::kReconcile, netapp),
            [](const auto& entry) {
                return entry.name + ": " +
                       (entry.state == "gone" ? std::string("deleted outside kxsnap")
                                              : std::string("present"));
            },
            resolved);
    });
}

}  // namespace kxsnap
