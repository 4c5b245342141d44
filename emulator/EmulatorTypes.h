// Value types of the emulator's public interface: settings, faults, the request log and the
// views tests take of the emulated machine.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace azemu {

using Json = nlohmann::json;

// Timing and policy knobs. Every delay defaults to 0 so that tests run at full speed; a test
// that needs Azure's slowness asks for it here.
struct Settings {
    int provisioningDelayMs = 0;       // disk/snapshot PUT: "Updating" until then, then "Succeeded"
    int asyncOperationDelayMs = 0;     // VM update: status "InProgress" until then
    int deviceDelayMs = 0;             // devices appear/vanish this long after a VM update ends
    int deleteDelayMs = 0;             // 0: a DELETE completes before its response (200)
    int deleteMissingStatus = 204;     // DELETE of a resource that does not exist: 204 or 404
    int tokenLifetimeSec = 3599;       // managed-identity token lifetime
    bool incrementalSnapshots = true;  // false: Azure refuses every incremental snapshot (400)
    int listPageSize = 0;              // > 0: lists come in pages this long, with "nextLink"
    int requestLatencyMs = 0;          // every Resource Manager request is answered this much later

    Json toJson() const;
    // Members absent from `j` keep the value they have in `base` (or the default).
    // Throws std::invalid_argument.
    static Settings fromJson(const Json& j, const Settings& base);
    static Settings fromJson(const Json& j);
};

enum class FaultAction {
    Error,          // answer `status` with an error body; the request is not carried out
    Delay,          // wait `delayMs`, then carry the request out as usual
    Drop,           // close the connection without an answer
    Truncate,       // carry out, then send only half of the announced body
    NonJson,        // answer `status` with an HTML body instead of JSON
    NoAsyncHeader,  // carry out, but leave the Azure-AsyncOperation header out
    AsyncFail,      // the operation the request starts ends "Failed"
    AsyncCancel,    // ... ends "Canceled"
    AsyncNeverEnd,  // ... stays "InProgress" for ever
    EmptyBody,      // carry out, keep the status and headers, send no body
    WrongTypes,     // carry out, then give every scalar leaf of the JSON body another type
};
const char* faultActionName(FaultAction a);

struct FaultSpec {
    std::string method = "*";  // HTTP method, or "*" for any
    std::string path;          // ECMAScript regex, case-insensitive, searched in the URL path
    int times = 1;             // how many matching requests it fires on; -1: all of them
    int skip = 0;              // matching requests let through before it starts firing
    FaultAction action = FaultAction::Error;
    int status = 500;
    std::string code = "InternalServerError";
    std::string message = "The emulator was asked to fail this request.";
    int delayMs = 0;               // also applies before any other action
    bool afterProcessing = false;  // Error/Drop/NonJson: carry the request out first
    int retryAfterMs = 0;          // Error: > 0 adds "retry-after-ms" with this value

    Json toJson() const;
    static FaultSpec fromJson(const Json& j);  // throws std::invalid_argument
};

struct FaultInfo {
    int id = 0;
    FaultSpec spec;
    int matched = 0;  // matching requests seen, including skipped ones
    int fired = 0;    // times it acted
    Json toJson() const;
};

struct RequestRecord {
    uint64_t seq = 0;
    int64_t timeMs = 0;
    std::string listener;  // "https" (Resource Manager) or "http" (instance metadata)
    std::string method;
    std::string url;                                           // path and query as sent
    std::string path;                                          // decoded path
    std::vector<std::pair<std::string, std::string>> headers;  // bearer token value hidden
    std::string body;
    int status = 0;   // 0 when the connection was dropped
    int faultId = 0;  // fault that fired on it, 0 for none
    Json toJson() const;
};

// One data disk of the emulated VM as the VM document lists it.
struct AttachedDisk {
    int lun = 0;
    std::string name;
    std::string diskId;  // managed disk id, or "" for an unmanaged (VHD) disk
    std::string vhdUri;
};

// A NetApp Files snapshot as tests see it: its identity and the content it captured.
struct NetAppSnapshotView {
    std::string id;
    std::string name;
    std::string snapshotId;  // GUID
    std::string provisioningState;
    std::string content;
};

// A NetApp Files volume as tests see it. `content` is the label the emulator keeps for what the
// volume holds: clones start from their snapshot's, a revert puts a snapshot's back.
struct NetAppVolumeView {
    std::string id;
    std::string creationToken;
    std::string mountTargetIp;
    std::string provisioningState;
    std::string content;
    std::string clonedFrom;  // snapshot id, for a clone
    std::string revertedTo;  // snapshot id of the last revert
    Json tags;
    std::vector<NetAppSnapshotView> snapshots;
};

// One block device present under the device tree root.
struct BlockDevice {
    std::string name;         // "sdc"
    std::string scsiAddress;  // "3:0:0:1", "" for devices without SCSI address (loop0...)
    int lun = -1;             // data disk LUN, -1 for other devices
    std::string diskId;
};

}  // namespace azemu
