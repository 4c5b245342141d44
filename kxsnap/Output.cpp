#include "kxsnap/Output.h"

#include <algorithm>

#include "kxsnap/AzureNames.h"
#include "kxsnap/JobFile.h"

namespace kxsnap {

using nlohmann::ordered_json;

std::string FormatTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size())
            widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string ShortTime(const std::string& iso) {
    if (iso.size() < 16)
        return iso;
    return iso.substr(0, 10) + " " + iso.substr(11, 5);
}

std::string StatusMeaning(int status) {
    switch (status) {
        case 0:
            return "new";
        case KXSO::SNAP_STATUS_PREPARED:
            return "prepared";
        case KXSO::SNAP_STATUS_PREPARE_FAILED:
            return "prepare failed";
        case KXSO::SNAP_STATUS_SNAP_CREATED:
            return "snapshot created";
        case KXSO::SNAP_STATUS_SNAP_FAILED:
            return "snapshot failed or waiting for completion";
        case KXSO::SNAP_STATUS_ATTACHED_NO_DEVICE:
            return "attached, device not found";
        case KXSO::SNAP_STATUS_MAP_FAILED:
            return "mount failed";
        case KXSO::SNAP_STATUS_MAPPED:
            return "mounted";
        case KXSO::SNAP_STATUS_UNMAPPED:
            return "unmounted";
        case KXSO::SNAP_STATUS_UNMAP_FAILED:
            return "unmount failed";
        case KXSO::SNAP_STATUS_DELETED:
            return "deleted";
        case KXSO::SNAP_STATUS_DELETE_FAILED:
            return "delete failed";
        case KXSO::SNAP_STATUS_REVERTED:
            return "reverted";
        case KXSO::SNAP_STATUS_REVERT_FAILED:
            return "revert failed";
        case KXSO::SNAP_STATUS_DELETED_EXTERNALLY:
            return "deleted outside kxsnap";
        default:
            return "status " + std::to_string(status);
    }
}

std::string DeviceColumn(const CatalogEntry& entry) {
    if ((entry.state == "mounted" || entry.state == "attached") &&
        !entry.record.mappedDevicePath.empty())
        return entry.record.mappedDevicePath;
    if (!entry.record.revertedDevicePath.empty())
        return "reverted to " + entry.record.revertedDevicePath;
    return "";
}

std::string FormatCatalogTable(const std::vector<CatalogEntry>& entries) {
    std::vector<std::vector<std::string>> rows{
        {"NAME", "ID", "SOURCE", "KIND", "TAKEN (UTC)", "STATE", "DEVICE"}};
    for (const auto& entry : entries) {
        std::string state = entry.state;
        if (entry.record.errorCode != 0)
            state += " (error " + std::to_string(entry.record.errorCode) + ")";
        if (entry.busy)
            state += " (busy: job " + std::to_string(entry.busy->jobId) + ", " +
                     entry.busy->command + ")";
        rows.push_back({entry.name, std::to_string(entry.snapId), entry.target,
                        KindName(entry.kind), ShortTime(entry.takenAt), state,
                        DeviceColumn(entry)});
    }
    return FormatTable(rows);
}

std::string StatusText(const CatalogEntry& entry) {
    // A snapshot's operations set their failure status before they start and
    // leave it on success: a backup that succeeded keeps "snapshot failed".
    bool backedUp = entry.record.status == KXSO::SNAP_STATUS_SNAP_FAILED ||
                    entry.record.status == KXSO::SNAP_STATUS_SNAP_CREATED;
    if (entry.state == "ready" && backedUp && entry.record.errorCode == 0)
        return "snapshot ready";
    return StatusMeaning(entry.record.status);
}

std::string FormatCatalogTsv(const std::vector<CatalogEntry>& entries) {
    std::string out = "name\tid\tsource\tkind\ttaken\tstate\tdevice\tazure_snapshot_id\n";
    auto clean = [](std::string text) {
        for (char& c : text) {
            if (c == '\t' || c == '\n' || c == '\r')
                c = ' ';
        }
        return text;
    };
    for (const auto& entry : entries) {
        out += clean(entry.name) + "\t" + std::to_string(entry.snapId) + "\t" +
               clean(entry.target) + "\t" + KindName(entry.kind) + "\t" + entry.takenAt + "\t" +
               clean(entry.state) + "\t" + clean(DeviceColumn(entry)) + "\t" +
               clean(AzureNamesOf(entry).snapshotId) + "\n";
    }
    return out;
}

ordered_json EntryToJson(const CatalogEntry& entry, const std::string& logPath) {
    // The shape scripts rely on (kxsnap(1), JSON OUTPUT): add members, never
    // rename or remove them.
    ordered_json out;
    out["name"] = entry.name;
    out["id"] = entry.snapId;
    out["uuid"] = entry.uuid;
    out["kind"] = KindName(entry.kind);
    out["source"] = entry.target;
    out["sourceDevice"] =
        entry.kind == SnapKind::kManagedDisk ? entry.record.sourceDevicePath.value_or("") : "";
    out["taken"] = entry.takenAt;
    out["state"] = entry.state;
    out["status"] = {{"code", entry.record.status}, {"text", StatusText(entry)}};
    if (entry.record.errorCode != 0)
        out["error"] = {{"code", entry.record.errorCode}, {"text", entry.record.errorText}};
    else
        out["error"] = nullptr;
    bool mapped = entry.state == "mounted" || entry.state == "attached";
    out["device"] = mapped ? entry.record.mappedDevicePath : "";
    out["revertedDevice"] = entry.record.revertedDevicePath;
    AzureNames azure = AzureNamesOf(entry);
    out["azure"] = {{"snapshotName", azure.snapshotName},
                    {"snapshotId", azure.snapshotId},
                    {"sourceName", azure.sourceName},
                    {"sourceId", azure.sourceId}};
    out["backupJob"] = entry.backupJob;
    out["lastJob"] = entry.lastJob;
    out["log"] = logPath;
    // Only while a job works on the snapshot.
    if (entry.busy) {
        out["busy"] = {
            {"job", entry.busy->jobId}, {"command", entry.busy->command}, {"pid", entry.busy->pid}};
    }
    return out;
}

std::string FormatShow(const CatalogEntry& entry, const std::string& logPath) {
    AzureNames azure = AzureNamesOf(entry);
    auto orNone = [](const std::string& text) { return text.empty() ? "-" : text; };
    std::string status = StatusText(entry);
    std::string state = status == entry.state ? status : entry.state + " (" + status + ")";
    std::vector<std::vector<std::string>> rows{
        {"Name:", entry.name},
        {"Id:", std::to_string(entry.snapId)},
        {"UUID:", entry.uuid},
        {"Kind:", KindName(entry.kind)},
        {"Source:", entry.target},
        {"Taken (UTC):", entry.takenAt},
        {"State:", state},
        {"Device:", orNone(DeviceColumn(entry))},
        {"Azure snapshot:", orNone(azure.snapshotName)},
        {"Azure snapshot id:", orNone(azure.snapshotId)},
        {entry.kind == SnapKind::kNetAppFiles ? "Azure volume:" : "Azure disk:",
         orNone(azure.sourceName)},
        {entry.kind == SnapKind::kNetAppFiles ? "Azure volume id:" : "Azure disk id:",
         orNone(azure.sourceId)},
        {"Backup job:", std::to_string(entry.backupJob)},
        {"Last job:", std::to_string(entry.lastJob)},
        {"Log:", orNone(logPath)},
    };
    if (entry.record.errorCode != 0) {
        rows.insert(rows.begin() + 7, {"Error:", entry.record.errorText + " [error " +
                                                     std::to_string(entry.record.errorCode) + "]"});
    }
    return FormatTable(rows);
}

ordered_json ReportsToJson(const std::vector<JobReport>& reports) {
    ordered_json jobs = ordered_json::array();
    for (const auto& report : reports) {
        ordered_json job;
        job["job"] = report.jobId;
        job["command"] = CommandName(report.command);
        job["kind"] = KindName(report.kind);
        job["result"] = report.result;
        ordered_json results = ordered_json::array();
        for (const auto& result : report.results)
            results.push_back({{"operation", result.operation}, {"result", result.result}});
        job["operations"] = results;
        ordered_json snapshots = ordered_json::array();
        for (const auto& entry : report.entries)
            snapshots.push_back(EntryToJson(entry, report.logPath));
        job["snapshots"] = snapshots;
        job["log"] = report.logPath;
        if (!report.cause.empty())
            job["cause"] = report.cause;
        jobs.push_back(job);
    }
    ordered_json out;
    out["result"] = CombinedResult(reports);
    out["jobs"] = jobs;
    return out;
}

std::vector<std::string> FailureLines(const JobReport& report) {
    std::vector<std::string> lines;
    for (const auto& entry : report.entries) {
        if (entry.record.errorCode == 0)
            continue;
        lines.push_back(entry.name + " (" + entry.target + "): " + entry.record.errorText +
                        " [error " + std::to_string(entry.record.errorCode) + "]");
    }
    // What the plug-in's message leaves out (which endpoint, what happened
    // on the wire) is in the job's log; say it once, with where to read more.
    if (!report.cause.empty() && !lines.empty())
        lines.push_back(report.cause + " (job " + std::to_string(report.jobId) + ", see " +
                        report.logPath + ")");
    if (lines.empty() && report.result != 0) {
        std::string operation =
            report.results.empty() ? "the plug-in" : report.results.back().operation;
        lines.push_back(operation + " answered " + std::to_string(report.result) +
                        " without an error on any record; see " + report.logPath);
    }
    return lines;
}

}  // namespace kxsnap
