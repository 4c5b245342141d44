// How kxsnap shows snapshots and job outcomes: aligned tables and short
// sentences for people, JSON documents for scripts.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kxsnap/Session.h"

namespace kxsnap {

// A plain text table: the first row is the heading; columns are padded to
// their widest cell.
std::string FormatTable(const std::vector<std::vector<std::string>>& rows);

// The catalogue listing: name, id, source, kind, when taken, state, device.
std::string FormatCatalogTable(const std::vector<CatalogEntry>& entries);

// What a record's status number means, in words.
std::string StatusMeaning(int status);

// The device or export path a person should look at: the mapped path while
// mounted, the reverted device after a revert, else "".
std::string DeviceColumn(const CatalogEntry& entry);

// A snapshot's state in words: StatusMeaning, except that a successful
// backup reads "snapshot ready".
std::string StatusText(const CatalogEntry& entry);

// The listing for scripts that read columns: a heading line, then one line
// per snapshot, fields separated by tabs.
std::string FormatCatalogTsv(const std::vector<CatalogEntry>& entries);

// `kxsnap show`: one "Field: value" line each.
std::string FormatShow(const CatalogEntry& entry, const std::string& logPath);

// The documented JSON of one snapshot (kxsnap(1), JSON OUTPUT); `logPath` is
// the log of its last job.
nlohmann::ordered_json EntryToJson(const CatalogEntry& entry, const std::string& logPath);
nlohmann::ordered_json ReportsToJson(const std::vector<JobReport>& reports);

// The failures a job left on its records, one line each, for standard error.
std::vector<std::string> FailureLines(const JobReport& report);

// "Taken 2026-12-06 16:01" from the stored ISO time.
std::string ShortTime(const std::string& iso);

}  // namespace kxsnap
