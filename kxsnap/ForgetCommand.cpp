// kxsnap forget: drops catalogue rows without calling Azure. For a backup that
// failed before Azure had anything, or resources removed by other means,
// `delete` would need an Azure that may not be reachable or may have nothing
// to delete. The forgotten records are written to a job log, so that nothing
// kxsnap knew is lost without a trace.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "kxsnap/AzureNames.h"
#include "kxsnap/CommandSupport.h"
#include "kxsnap/Errors.h"
#include "kxsnap/JobFile.h"
#include "kxsnap/Output.h"

namespace kxsnap {

namespace {

// Why `forget` must leave the row, or "": a mounted snapshot (or one whose
// mount or unmount was interrupted) may still have a disk or clone in Azure
// that only the row leads back to; a job working on it would write the row
// again when it ends.
std::string RefusalReason(const CatalogEntry& entry) {
    if (entry.state == "mounted" || entry.state == "attached" || IsUnknownState(entry.state)) {
        return entry.name + " is " + entry.state +
               (entry.record.mappedDevicePath.empty() ? ""
                                                      : " at " + entry.record.mappedDevicePath) +
               "; unmount it first";
    }
    if (entry.busy) {
        return entry.name + " is busy: job " + std::to_string(entry.busy->jobId) + " (kxsnap " +
               entry.busy->command + ", process " + std::to_string(entry.busy->pid) +
               ") is working on it";
    }
    return "";
}

void RefuseToForget(const CatalogEntry& entry) {
    std::string reason = RefusalReason(entry);
    if (!reason.empty())
        throw RefusedError("cannot forget " + reason);
}

std::string WhatForgetLeaves(const CatalogEntry& entry) {
    std::string id = AzureNamesOf(entry).snapshotId;
    if (id.empty())
        return entry.name + " (" + entry.state + "): nothing of it is known in Azure";
    return entry.name + " (" + entry.state + "): the Azure snapshot " + id +
           " stays; kxsnap will no longer know it";
}

std::string LogPathTemplate(const Catalog& catalog) {
    std::filesystem::path folder = std::filesystem::path(catalog.Path()).parent_path();
    return ((folder.empty() ? std::filesystem::path(".") : folder) / "logs" / "job-{job}.log")
        .string();
}

void WriteForgottenRecords(const std::string& logPath, int64_t jobId,
                           const std::vector<CatalogEntry>& entries) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(logPath).parent_path(), ignored);
    std::ofstream log(logPath, std::ios::app);
    log << "job " << jobId << ": kxsnap forget; Azure was not called. The rows forgotten:\n";
    for (const auto& entry : entries) {
        nlohmann::ordered_json row = EntryToJson(entry, "");
        row["record"] = RecordToJson(entry.record);
        log << row.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    }
}

}  // namespace

int ForgetCommand(const GlobalOptions& options, const std::vector<std::string>& names,
                  bool confirmed) {
    Session session(ToSessionOptions(options));
    Catalog& catalog = session.catalog();
    std::vector<CatalogEntry> entries = catalog.Resolve(names);
    for (const auto& entry : entries)
        RefuseToForget(entry);
    if (!Confirm("forget", "Forget drops catalogue rows; Azure is not called:", entries,
                 WhatForgetLeaves, confirmed)) {
        std::cerr << "kxsnap: forget cancelled; nothing was changed" << std::endl;
        return 1;
    }
    catalog.CheckWritable();
    // Marks the rows busy and checks them again, as any job does: a command
    // that started meanwhile keeps them.
    std::vector<CatalogEntry> marked = entries;
    int64_t jobId =
        catalog.StartJob("forget", LogPathTemplate(catalog), marked, false, RefuseToForget);
    std::string logPath = LogPathTemplate(catalog);
    logPath.replace(logPath.find("{job}"), 5, std::to_string(jobId));
    WriteForgottenRecords(logPath, jobId, entries);
    std::vector<CatalogEntry> removed = marked;
    for (auto& entry : removed) {
        entry.lastJob = jobId;
        entry.record.status = KXSO::SNAP_STATUS_DELETED;
    }
    catalog.FinishJob(jobId, 0, removed, true);
    if (options.json) {
        nlohmann::ordered_json out;
        out["job"] = jobId;
        out["log"] = logPath;
        out["forgotten"] = nlohmann::ordered_json::array();
        for (const auto& entry : entries)
            out["forgotten"].push_back(EntryToJson(entry, logPath));
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    } else {
        for (const auto& entry : entries)
            std::cout << entry.name << ": forgotten"
                      << "\n";
        std::cout << "job " << jobId << " (forget): done, log " << logPath << std::endl;
    }
    return 0;
}

}  // namespace kxsnap
