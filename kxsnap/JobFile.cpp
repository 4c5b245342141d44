#include "kxsnap/JobFile.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "kxsnap/PluginLoader.h"

namespace kxsnap {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// Reads one field of a record; every reader answers false with a reason.
class FieldReader {
public:
    FieldReader(const json& object, std::string where, std::string& error)
        : object_(object), where_(std::move(where)), error_(error) {}

    bool Fail(const std::string& key, const std::string& why) {
        error_ = where_ + key + ": " + why;
        return false;
    }

    template <typename Int>
    bool Integer(const char* key, Int& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (!found->is_number_integer())
            return Fail(key, "expected an integer");
        if (found->is_number_unsigned()) {
            auto value = found->get<uint64_t>();
            if (value > static_cast<uint64_t>(std::numeric_limits<Int>::max())) {
                return Fail(key, "out of range");
            }
            out = static_cast<Int>(value);
            return true;
        }
        auto value = found->get<int64_t>();
        if (value < static_cast<int64_t>(std::numeric_limits<Int>::min()) ||
            (value > 0 && static_cast<uint64_t>(value) >
                              static_cast<uint64_t>(std::numeric_limits<Int>::max()))) {
            return Fail(key, "out of range");
        }
        out = static_cast<Int>(value);
        return true;
    }

    bool Text(const char* key, std::string& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (!found->is_string())
            return Fail(key, "expected a text");
        out = found->get<std::string>();
        return true;
    }

    bool OptionalText(const char* key, std::optional<std::string>& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (!found->is_string())
            return Fail(key, "expected a text");
        out = found->get<std::string>();
        return true;
    }

    bool Flags(const char* key, uint64_t& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (found->is_number_unsigned()) {
            out = found->get<uint64_t>();
            return true;
        }
        if (found->is_number_integer()) {
            if (found->get<int64_t>() < 0)
                return Fail(key, "flags cannot be negative");
            out = static_cast<uint64_t>(found->get<int64_t>());
            return true;
        }
        if (!found->is_string())
            return Fail(key, "expected a number or \"0x\" hex text");
        const std::string text = found->get<std::string>();
        if (text.size() < 3 || text.size() > 18 ||
            (text.compare(0, 2, "0x") != 0 && text.compare(0, 2, "0X") != 0)) {
            return Fail(key, "expected a number or \"0x\" hex text");
        }
        char* end = nullptr;
        errno = 0;
        unsigned long long value = strtoull(text.c_str() + 2, &end, 16);
        if (errno != 0 || end == nullptr || *end != '\0' || text[2] == '-' || text[2] == '+' ||
            text[2] == ' ') {
            return Fail(key, "expected a number or \"0x\" hex text");
        }
        out = value;
        return true;
    }

    bool MetadataMap(const char* key, std::map<int, std::string>& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (!found->is_object())
            return Fail(key, "expected an object of id to text");
        for (auto item = found->begin(); item != found->end(); ++item) {
            char* end = nullptr;
            errno = 0;
            long id = strtol(item.key().c_str(), &end, 10);
            if (item.key().empty() || errno != 0 || *end != '\0' || id < 0 ||
                id > std::numeric_limits<int>::max()) {
                return Fail(std::string(key) + "." + item.key(), "metadata ids are numbers");
            }
            if (!item.value().is_string()) {
                return Fail(std::string(key) + "." + item.key(), "expected a text");
            }
            out[static_cast<int>(id)] = item.value().get<std::string>();
        }
        return true;
    }

    bool ConfigMap(const char* key, std::map<std::string, int>& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (!found->is_object())
            return Fail(key, "expected an object of key to integer");
        for (auto item = found->begin(); item != found->end(); ++item) {
            const json& value = item.value();
            if (!value.is_number_integer() ||
                value.get<int64_t>() < std::numeric_limits<int>::min() ||
                value.get<int64_t>() > std::numeric_limits<int>::max()) {
                return Fail(std::string(key) + "." + item.key(), "expected an integer");
            }
            out[item.key()] = static_cast<int>(value.get<int64_t>());
        }
        return true;
    }

    bool Refusals(const char* key, std::set<std::string>& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (!found->is_array())
            return Fail(key, "expected a list of operation names");
        for (const json& name : *found) {
            if (!name.is_string() || !SnapInfoOperationNames().count(name.get<std::string>())) {
                return Fail(key, "unknown host operation " + name.dump());
            }
            out.insert(name.get<std::string>());
        }
        return true;
    }

    bool StatusHistory(const char* key, std::vector<int>& out) {
        auto found = object_.find(key);
        if (found == object_.end())
            return true;
        if (!found->is_array())
            return Fail(key, "expected a list of statuses");
        for (const json& status : *found) {
            if (!status.is_number_integer())
                return Fail(key, "expected a list of statuses");
            out.push_back(status.get<int>());
        }
        return true;
    }

private:
    const json& object_;
    std::string where_;
    std::string& error_;
};

const std::set<std::string>& RecordKeys() {
    static const std::set<std::string> keys{"sourceDevicePath", "snapName",
                                            "snapId",           "arrayId",
                                            "arrayName",        "snapEngineId",
                                            "snapFlags",        "snapOptions",
                                            "cloneIndex",       "status",
                                            "mappedDevicePath", "revertedDevicePath",
                                            "metadata",         "transientMetadata",
                                            "errorCode",        "errorText",
                                            "config",           "snapUuid",
                                            "refuse",           "statusHistory"};
    return keys;
}

bool ParseRecordAt(const json& value, const std::string& where, RecordData& record,
                   std::string& error) {
    if (!value.is_object()) {
        error = where + ": expected an object";
        return false;
    }
    for (auto item = value.begin(); item != value.end(); ++item) {
        if (!RecordKeys().count(item.key())) {
            error = where + "." + item.key() + ": unknown field";
            return false;
        }
    }
    FieldReader read(value, where + ".", error);
    return read.OptionalText("sourceDevicePath", record.sourceDevicePath) &&
           read.OptionalText("snapName", record.snapName) &&
           read.Integer("snapId", record.snapId) && read.Integer("arrayId", record.arrayId) &&
           read.OptionalText("arrayName", record.arrayName) &&
           read.Integer("snapEngineId", record.snapEngineId) &&
           read.Flags("snapFlags", record.snapFlags) &&
           read.Integer("snapOptions", record.snapOptions) &&
           read.Integer("cloneIndex", record.cloneIndex) && read.Integer("status", record.status) &&
           read.Text("mappedDevicePath", record.mappedDevicePath) &&
           read.Text("revertedDevicePath", record.revertedDevicePath) &&
           read.MetadataMap("metadata", record.metadata) &&
           read.MetadataMap("transientMetadata", record.transientMetadata) &&
           read.Integer("errorCode", record.errorCode) &&
           read.Text("errorText", record.errorText) && read.ConfigMap("config", record.config) &&
           read.OptionalText("snapUuid", record.snapUuid) &&
           read.Refusals("refuse", record.refuse) &&
           read.StatusHistory("statusHistory", record.statusHistory);
}

bool ParseOperations(const json& document, Job& job, std::string& error) {
    auto operations = document.find("operations");
    if (operations == document.end() || !operations->is_array()) {
        error = "operations: expected a list of export names";
        return false;
    }
    for (const json& name : *operations) {
        if (!name.is_string()) {
            error = "operations: expected a list of export names";
            return false;
        }
        if (!IsDeviceOperation(name.get<std::string>())) {
            error = "operations: " + name.dump() + " is not a device operation of the plug-in";
            return false;
        }
        job.operations.push_back(name.get<std::string>());
    }
    return true;
}

}  // namespace

bool ParseRecord(const json& value, RecordData& record, std::string& error) {
    return ParseRecordAt(value, "record", record, error);
}

bool ParseJob(const std::string& text, Job& job, std::string& error) {
    json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) {
        error = "not a JSON document";
        return false;
    }
    if (!document.is_object()) {
        error = "expected a JSON object";
        return false;
    }
    static const std::set<std::string> topKeys{"jobId", "operations", "records", "results", "log"};
    for (auto item = document.begin(); item != document.end(); ++item) {
        if (!topKeys.count(item.key())) {
            error = item.key() + ": unknown field";
            return false;
        }
    }
    FieldReader top(document, "", error);
    if (!top.Integer("jobId", job.jobId) || !ParseOperations(document, job, error)) {
        return false;
    }
    auto records = document.find("records");
    if (records == document.end() || !records->is_array()) {
        error = "records: expected a list of records";
        return false;
    }
    if (records->size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        error = "records: more records than one call can carry";
        return false;
    }
    for (size_t i = 0; i < records->size(); ++i) {
        RecordData record;
        if (!ParseRecordAt((*records)[i], "records[" + std::to_string(i) + "]", record, error)) {
            return false;
        }
        job.records.push_back(std::move(record));
    }
    return true;
}

std::string FlagsToText(uint64_t flags) {
    char text[24];
    snprintf(text, sizeof text, "0x%" PRIx64, flags);
    return text;
}

ordered_json RecordToJson(const RecordData& record) {
    ordered_json out = ordered_json::object();
    if (record.sourceDevicePath)
        out["sourceDevicePath"] = *record.sourceDevicePath;
    if (record.snapName)
        out["snapName"] = *record.snapName;
    out["snapId"] = record.snapId;
    out["arrayId"] = record.arrayId;
    if (record.arrayName)
        out["arrayName"] = *record.arrayName;
    out["snapEngineId"] = record.snapEngineId;
    out["snapFlags"] = FlagsToText(record.snapFlags);
    out["snapOptions"] = record.snapOptions;
    out["cloneIndex"] = record.cloneIndex;
    out["status"] = record.status;
    out["mappedDevicePath"] = record.mappedDevicePath;
    out["revertedDevicePath"] = record.revertedDevicePath;
    ordered_json metadata = ordered_json::object();
    for (const auto& item : record.metadata)
        metadata[std::to_string(item.first)] = item.second;
    out["metadata"] = metadata;
    ordered_json transient = ordered_json::object();
    for (const auto& item : record.transientMetadata) {
        transient[std::to_string(item.first)] = item.second;
    }
    out["transientMetadata"] = transient;
    out["errorCode"] = record.errorCode;
    out["errorText"] = record.errorText;
    ordered_json config = ordered_json::object();
    for (const auto& item : record.config)
        config[item.first] = item.second;
    out["config"] = config;
    if (record.snapUuid)
        out["snapUuid"] = *record.snapUuid;
    out["refuse"] =
        ordered_json(std::vector<std::string>(record.refuse.begin(), record.refuse.end()));
    out["statusHistory"] = record.statusHistory;
    return out;
}

ordered_json LogEntryToJson(const LogEntry& entry) {
    return {{"record", entry.record},
            {"level", entry.level},
            {"tag", entry.tag},
            {"text", entry.text}};
}

ordered_json JobOutputToJson(const std::vector<OperationResult>& results,
                             const std::vector<RecordData>& records,
                             const std::vector<LogEntry>& log) {
    ordered_json out = ordered_json::object();
    ordered_json resultList = ordered_json::array();
    for (const auto& result : results) {
        resultList.push_back({{"operation", result.operation}, {"result", result.result}});
    }
    out["results"] = resultList;
    ordered_json recordList = ordered_json::array();
    for (const auto& record : records)
        recordList.push_back(RecordToJson(record));
    out["records"] = recordList;
    ordered_json logList = ordered_json::array();
    for (const auto& entry : log)
        logList.push_back(LogEntryToJson(entry));
    out["log"] = logList;
    return out;
}

}  // namespace kxsnap
