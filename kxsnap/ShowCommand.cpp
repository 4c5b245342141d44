// kxsnap list and kxsnap show: what the catalogue knows, for people (table,
// "Field: value" lines) and for scripts (JSON of a documented shape, TSV).
#include <iostream>
#include <map>
#include <regex>

#include "kxsnap/CommandSupport.h"
#include "kxsnap/Errors.h"
#include "kxsnap/Output.h"

namespace kxsnap {

namespace {

// Reading creates, migrates and writes nothing.
SessionOptions ReadOnly(const GlobalOptions& options) {
    SessionOptions session = ToSessionOptions(options);
    session.readOnly = true;
    return session;
}

std::map<int64_t, std::string> LogPaths(Catalog& catalog) {
    std::map<int64_t, std::string> paths;
    for (const auto& job : catalog.Jobs())
        paths[job.jobId] = job.logPath;
    return paths;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// "2026-12-06", "2026-12-06T16:00" or "2026-12-06 16:00:05Z" as the prefix of
// a stored ISO time, which then compares as text.
std::string SinceBound(const std::string& given) {
    static const std::regex kForm(R"(\d{4}-\d{2}-\d{2}([T ]\d{2}:\d{2}(:\d{2})?)?Z?)");
    if (!std::regex_match(given, kForm))
        throw UsageError(
            "--since takes a UTC date or time such as 2026-12-06 or "
            "2026-12-06T16:00, not '" +
            given + "'");
    std::string bound = given;
    if (bound.size() > 10)
        bound[10] = 'T';
    if (!bound.empty() && bound.back() == 'Z')
        bound.pop_back();
    return bound;
}

bool Matches(const CatalogEntry& entry, const ListOptions& list, const std::string& since) {
    if (!list.source.empty()) {
        std::string source = WithoutTrailingSlash(list.source);
        if (WithoutTrailingSlash(entry.target) != source &&
            entry.record.sourceDevicePath.value_or("") != source)
            return false;
    }
    if (!list.kind.empty() && list.kind != KindName(entry.kind))
        return false;
    if (!list.state.empty() && list.state != entry.state)
        return false;
    return since.empty() || entry.takenAt >= since;
}

std::string Dump(const nlohmann::ordered_json& value) {
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

int ListCommand(const GlobalOptions& options, const ListOptions& list) {
    std::string since = list.since.empty() ? "" : SinceBound(list.since);
    Session session(ReadOnly(options));
    std::vector<CatalogEntry> entries;
    for (auto& entry : session.catalog().All()) {
        if (Matches(entry, list, since))
            entries.push_back(std::move(entry));
    }
    std::string output = options.json ? "json" : list.output;
    if (output == "json") {
        std::map<int64_t, std::string> logs = LogPaths(session.catalog());
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const auto& entry : entries)
            items.push_back(EntryToJson(entry, logs[entry.lastJob]));
        std::cout << Dump(items) << std::endl;
    } else if (output == "tsv") {
        std::cout << FormatCatalogTsv(entries) << std::flush;
    } else if (entries.empty()) {
        bool filtered =
            !list.source.empty() || !list.kind.empty() || !list.state.empty() || !since.empty();
        std::cout << (filtered ? "No snapshots match in " : "No snapshots in ")
                  << session.catalog().Path() << std::endl;
    } else {
        std::cout << FormatCatalogTable(entries);
    }
    return 0;
}

int ShowCommand(const GlobalOptions& options, const std::string& name) {
    Session session(ReadOnly(options));
    CatalogEntry entry = session.catalog().Resolve({name}).front();
    std::string log = LogPaths(session.catalog())[entry.lastJob];
    if (options.json)
        std::cout << Dump(EntryToJson(entry, log)) << std::endl;
    else
        std::cout << FormatShow(entry, log);
    return 0;
}

}  // namespace kxsnap
