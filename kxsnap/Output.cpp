#include "kxsnap/Output.h"

#include <algorithm>

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

ordered_json EntryToJson(const CatalogEntry& entry) {
    ordered_json out;
    out["name"] = entry.name;
    out["id"] = entry.snapId;
    out["uuid"] = entry.uuid;
    out["kind"] = KindName(entry.kind);
    out["source"] = entry.target;
    out["taken"] = entry.takenAt;
    out["state"] = entry.state;
    out["status"] = entry.record.status;
    out["statusText"] = StatusMeaning(entry.record.status);
    out["backupJob"] = entry.backupJob;
    out["lastJob"] = entry.lastJob;
    if (entry.busy) {
        out["busy"] = {
            {"job", entry.busy->jobId}, {"command", entry.busy->command}, {"pid", entry.busy->pid}};
    }
    out["record"] = RecordToJson(entry.record);
    return out;
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
            snapshots.push_back(EntryToJson(entry));
        job["snapshots"] = snapshots;
        job["log"] = report.logPath;
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
    if (lines.empty() && report.result != 0) {
        std::string operation =
            report.results.empty() ? "the plug-in" : report.results.back().operation;
        lines.push_back(operation + " answered " + std::to_string(report.result) +
                        " without an error on any record; see " + report.logPath);
    }
    return lines;
}

}  // namespace kxsnap
