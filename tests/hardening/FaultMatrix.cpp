#include "FaultMatrix.h"

#include <algorithm>
#include <iostream>
#include <mutex>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/FXString.h"
#include "platform/KXFanOut.h"

namespace faultmatrix {
namespace {

// The whole process's count, printed once after every test has run, so that a
// run of the full binary ends with one line for the whole matrix.
class MatrixTotals : public ::testing::Environment {
public:
    void Add(int runs, size_t violations, size_t tolerated) {
        std::lock_guard<std::mutex> lock(mutex_);
        runs_ += runs;
        violations_ += violations;
        tolerated_ += tolerated;
    }
    void TearDown() override {
        if (runs_ > 0) {
            std::cout << "fault matrix: " << runs_ << " runs, " << violations_
                      << " invariant violations (" << tolerated_ << " tolerated as listed)\n";
        }
    }

private:
    std::mutex mutex_;
    int runs_ = 0;
    size_t violations_ = 0;
    size_t tolerated_ = 0;
};

MatrixTotals& Totals() {
    static MatrixTotals* totals =
        static_cast<MatrixTotals*>(::testing::AddGlobalTestEnvironment(new MatrixTotals));
    return *totals;
}

const std::map<std::string, std::string>& ResourceNouns() {
    static const std::map<std::string, std::string> nouns{
        {"disks", "disk"},
        {"snapshots", "snapshot"},
        {"virtualmachines", "VM"},
        {"volumes", "volume"},
        {"capacitypools", "pool"},
        {"netappaccounts", "account"},
        {"networkinterfaces", "NIC"},
        {"virtualnetworks", "vnet"},
        {"subnets", "subnet"},
    };
    return nouns;
}

std::string Noun(const std::string& type, const std::string& parentType) {
    const std::string lower = FXString::ToLower(type);
    auto it = ResourceNouns().find(lower);
    std::string noun = it != ResourceNouns().end() ? it->second : type;
    // NetApp Files snapshots live under a volume; Compute snapshots stand alone.
    if (lower == "snapshots" && FXString::EqualsNoCase(parentType, "volumes")) {
        noun = "volume snapshot";
    }
    return noun;
}

std::string EscapeRegex(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (std::string(".^$|()[]{}*+?\\").find(c) != std::string::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

bool StartsOperation(const std::string& method) {
    return method == "PUT" || method == "PATCH" || method == "DELETE" || method == "POST";
}

std::string VerbFor(const std::string& method, const std::string& noun, const std::string& body) {
    if (method == "GET") {
        return noun + " read";
    }
    if (method == "DELETE") {
        return noun + " delete";
    }
    if (noun == "VM") {
        return "VM update";
    }
    // A volume created from a snapshot is a clone, whatever the method says.
    if (noun == "volume" && body.find("snapshotId") != std::string::npos) {
        return "volume clone";
    }
    return noun + " create";
}

RequestKind MetadataKind(const azemu::RequestRecord& request) {
    RequestKind kind;
    kind.method = request.method;
    if (FXString::FindString(request.path, "/metadata/identity/oauth2/token", true) == 0) {
        kind.name = "token";
        kind.pathRegex = "^/metadata/identity/oauth2/token";
    } else if (FXString::FindString(request.path, "/metadata/instance", true) == 0) {
        kind.name = "instance metadata";
        kind.pathRegex = "^/metadata/instance";
    }
    return kind;
}

}  // namespace

RequestKind ClassifyRequest(const azemu::RequestRecord& request) {
    if (request.listener == "http") {
        return MetadataKind(request);
    }
    RequestKind kind;
    kind.method = request.method;
    kind.startsOperation = StartsOperation(request.method);
    std::vector<std::string> segments =
        FXString::Split(FXString::Trim(request.path, "/"), "/", FXString::SPLIT_DROP_EMPTY);
    for (const std::string& segment : segments) {
        const std::string lower = FXString::ToLower(segment);
        if (lower == "operations" || lower == "operationresults" || lower == "asyncoperations" ||
            lower == "operationstatuses") {
            kind.name = "async status";
            kind.pathRegex = "/" + segment + "/[^/]+$";
            kind.startsOperation = false;
            return kind;
        }
    }
    auto provider = std::find_if(segments.begin(), segments.end(), [](const std::string& s) {
        return FXString::EqualsNoCase(s, "providers");
    });
    if (provider == segments.end() || segments.end() - provider < 3) {
        kind.name = FXString::ToLower(segments.empty() ? "root" : segments.back()) + " read";
        kind.pathRegex = EscapeRegex(request.path) + "$";
        return kind;
    }
    // After the namespace, type and name alternate; an odd tail is a list
    // (GET) or an action on the resource before it (POST).
    const std::vector<std::string> tail(provider + 2, segments.end());
    const bool oddTail = tail.size() % 2 == 1;
    const size_t typeIndex =
        oddTail ? (request.method == "POST" ? tail.size() - 3 : tail.size() - 1) : tail.size() - 2;
    const std::string type = tail[typeIndex];
    const std::string parentType = typeIndex >= 2 ? tail[typeIndex - 2] : "";
    const std::string noun = Noun(type, parentType);
    const std::string anchor = parentType.empty()
                                   ? "/providers/" + EscapeRegex(*(provider + 1)) + "/"
                                   : "/" + EscapeRegex(parentType) + "/[^/]+/";
    if (oddTail && request.method == "POST") {
        kind.name = noun + " " + FXString::ToLower(tail.back());
        kind.pathRegex = anchor + EscapeRegex(type) + "/[^/]+/" + EscapeRegex(tail.back()) + "$";
    } else if (oddTail) {
        kind.name = noun + " list";
        kind.pathRegex = anchor + EscapeRegex(type) + "$";
    } else {
        kind.name = VerbFor(request.method, noun, request.body);
        kind.pathRegex = anchor + EscapeRegex(type) + "/[^/]+$";
    }
    return kind;
}

std::vector<RequestKind> KindsSent(const std::vector<azemu::RequestRecord>& log) {
    std::vector<RequestKind> kinds;
    for (const azemu::RequestRecord& request : log) {
        RequestKind kind = ClassifyRequest(request);
        const bool known = std::any_of(kinds.begin(), kinds.end(),
                                       [&](const RequestKind& k) { return k.name == kind.name; });
        if (!kind.name.empty() && !known) {
            kinds.push_back(kind);
        }
    }
    return kinds;
}

const std::vector<FaultClass>& FaultClasses() {
    using A = azemu::FaultAction;
    static const std::vector<FaultClass> classes{
        {"HTTP 400", FaultScope::AnyRequest, A::Error, 400, "InvalidParameter"},
        {"HTTP 401", FaultScope::AnyRequest, A::Error, 401, "AuthenticationFailed"},
        {"HTTP 403", FaultScope::AnyRequest, A::Error, 403, "AuthorizationFailed"},
        {"HTTP 404", FaultScope::AnyRequest, A::Error, 404, "ResourceNotFound"},
        {"HTTP 409", FaultScope::AnyRequest, A::Error, 409, "Conflict"},
        {"HTTP 429", FaultScope::AnyRequest, A::Error, 429, "TooManyRequests"},
        {"HTTP 500", FaultScope::AnyRequest, A::Error, 500, "InternalServerError"},
        {"HTTP 503", FaultScope::AnyRequest, A::Error, 503, "ServiceUnavailable"},
        {"dropped connection", FaultScope::AnyRequest, A::Drop, 0, ""},
        {"truncated body", FaultScope::AnyRequest, A::Truncate, 0, ""},
        {"HTML body with 200", FaultScope::AnyRequest, A::NonJson, 200, ""},
        {"HTML error page", FaultScope::AnyRequest, A::NonJson, 502, ""},
        {"empty body", FaultScope::AnyRequest, A::EmptyBody, 0, ""},
        {"right keys, wrong types", FaultScope::AnyRequest, A::WrongTypes, 0, ""},
        {"answer lost after the work", FaultScope::OperationStarts, A::Drop, 0, "", true},
        {"no async header", FaultScope::OperationStarts, A::NoAsyncHeader, 0, ""},
        {"async Failed", FaultScope::OperationStarts, A::AsyncFail, 0, "InternalOperationError"},
        {"async Canceled", FaultScope::OperationStarts, A::AsyncCancel, 0, "OperationCanceled"},
        {"async never ends", FaultScope::OperationStarts, A::AsyncNeverEnd, 0, ""},
        {"device never appears", FaultScope::Attach, A::Delay, 0, ""},
        {"host refuses setters", FaultScope::Host, A::Delay, 0, ""},
    };
    return classes;
}

bool Applies(const FaultClass& fault, const RequestKind& kind) {
    switch (fault.scope) {
        case FaultScope::AnyRequest:
            return true;
        case FaultScope::OperationStarts:
            return kind.startsOperation;
        default:
            return false;
    }
}

azemu::FaultSpec FaultFor(const FaultClass& fault, const RequestKind& kind) {
    azemu::FaultSpec spec;
    spec.method = kind.method;
    spec.path = kind.pathRegex;
    spec.times = fault.times;
    spec.action = fault.action;
    spec.afterProcessing = fault.afterProcessing;
    if (fault.status != 0) {
        spec.status = fault.status;
    }
    if (!fault.code.empty()) {
        spec.code = fault.code;
    }
    spec.message = "Injected " + fault.name + " on " + kind.name + ".";
    return spec;
}

std::vector<FaultClass> RepeatedWhileBusy(const FaultClass& fault, const RequestKind& kind) {
    const bool transient =
        fault.afterProcessing || fault.action == azemu::FaultAction::Drop ||
        (fault.action == azemu::FaultAction::Error && (fault.status == 429 || fault.status == 503));
    const bool aimed = kind.startsOperation || kind.name == "async status" || fault.afterProcessing;
    if (!transient || !aimed || !Applies(fault, kind)) {
        return {};
    }
    FaultClass repeated = fault;
    repeated.name = fault.name + ", twice, Azure busy";
    repeated.times = 2;
    repeated.operationDelayMs = kBusyOperationDelayMs;
    return {repeated};
}

namespace {

std::string LastSegment(const std::string& id) {
    const size_t slash = id.find_last_of('/');
    return slash == std::string::npos ? id : id.substr(slash + 1);
}

void AddComputeResources(const azemu::Json& state, Inventory& inventory) {
    for (const char* collection : {"disks", "snapshots"}) {
        const std::string prefix = std::string(collection) == "disks" ? "disk:" : "snapshot:";
        for (const azemu::Json& doc : state.value(collection, azemu::Json::array())) {
            inventory[prefix + doc.value("name", "")] = doc;
        }
    }
    for (const azemu::Json& vm : state.value("virtualMachines", azemu::Json::array())) {
        const azemu::Json disks = vm.value("properties", azemu::Json::object())
                                      .value("storageProfile", azemu::Json::object())
                                      .value("dataDisks", azemu::Json::array());
        for (const azemu::Json& disk : disks) {
            inventory["attach:" + disk.value("name", "")] = {{"vm", vm.value("name", "")},
                                                             {"lun", disk.value("lun", -1)}};
        }
    }
}

void AddNetAppResources(const azemu::Json& state, Inventory& inventory) {
    const azemu::Json netApp = state.value("netApp", azemu::Json::object());
    for (const azemu::Json& pool : netApp.value("capacityPools", azemu::Json::array())) {
        inventory["pool:" + LastSegment(pool.value("id", ""))] = pool;
    }
    for (azemu::Json volume : netApp.value("volumes", azemu::Json::array())) {
        const std::string name = LastSegment(volume.value("id", ""));
        azemu::Json& emulated = volume["emulated"];
        for (const azemu::Json& snapshot : emulated.value("snapshots", azemu::Json::array())) {
            inventory["volsnap:" + name + "/" + LastSegment(snapshot.value("id", ""))] = snapshot;
        }
        emulated.erase("snapshots");
        inventory["volume:" + name] = volume;
    }
}

}  // namespace

Inventory TakeInventory(const azemu::Json& state) {
    Inventory inventory;
    AddComputeResources(state, inventory);
    AddNetAppResources(state, inventory);
    return inventory;
}

bool Matches(const KnownViolation& known, const Violation& found) {
    auto fits = [](const std::string& pattern, const std::string& value) {
        return pattern == "*" || pattern == value;
    };
    return fits(known.operation, found.operation) && fits(known.kind, found.kind) &&
           fits(known.fault, found.fault) &&
           found.what.find(known.whatContains) != std::string::npos;
}

std::string Describe(const Violation& violation) {
    return violation.operation + " | " + violation.kind + " | " + violation.fault + " | " +
           violation.what;
}

const std::vector<size_t>& Widths() {
    static const std::vector<size_t> widths{1, KXFanOut::kDefaultMaxParallel};
    return widths;
}

std::string WidthName(size_t width) {
    return "width " + std::to_string(width);
}

std::string WidthSuffix(size_t width) {
    return "_Width" + std::to_string(width);
}

std::string WidthSetting(size_t width) {
    return std::string(KXFanOut::kMaxParallelKey) + "=" + std::to_string(width) + "\n";
}

bool AimedAtWidth(const RequestKind& kind, size_t width) {
    return width == 1 || (kind.name != "token" && kind.name != "instance metadata");
}

void MatrixReport::Add(const Violation& violation) {
    for (const KnownViolation& known : known_) {
        if (Matches(known, violation)) {
            expected_.emplace_back(violation, &known);
            return;
        }
    }
    unexpected_.push_back(violation);
}

void MatrixReport::Print(const std::string& title) const {
    const auto byDesign = std::count_if(expected_.begin(), expected_.end(),
                                        [](const auto& entry) { return entry.second->byDesign; });
    std::ostringstream out;
    out << title << " fault matrix: " << runs_ << " runs, " << unexpected_.size()
        << " invariant violations (tolerated: " << expected_.size() - byDesign
        << " known and left to fix, " << byDesign << " by design; the fault fired in " << fired_
        << " runs)\n";
    for (const Violation& violation : unexpected_) {
        out << "  VIOLATION " << Describe(violation) << "\n";
    }
    for (const auto& [violation, known] : expected_) {
        out << (known->byDesign ? "  by design " : "  known     ") << Describe(violation) << "  ["
            << known->reason << "]\n";
    }
    std::cout << out.str() << std::flush;
    Totals().Add(runs_, unexpected_.size(), expected_.size());
}

}  // namespace faultmatrix
