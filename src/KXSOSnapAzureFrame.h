// The frame every managed-disk driver shares: argument check with the
// up-front status, the optional hand-over to a bulk variant, the connection to
// Azure, the driver's own per-record work, and the two exception endings.
// The per-record work of each driver lives in its own file; this frame exists
// once.
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "KXSOSnapAzure.h"
#include "KxSnapAzureAPI.h"

// What a driver plugs into the frame.
struct ManagedDiskDriverInfo {
    // The driver's full signature text: the tag of its error lines.
    const char* signature;
    KXSO::SnapStatus upFrontStatus;
    int errorCode;
    // Snapshot, post-snapshot and revert hand the host's job number to the
    // context (it ends up in resource tags); the others pass 0.
    bool passesJobId;
};

// One driver call: the records, the REST client, this VM's description and
// the message stream in which a failing step builds its text.
class ManagedDiskCall {
public:
    ManagedDiskCall(const ManagedDiskDriverInfo& info, KXSO::SnapInfo** devices, int16_t count,
                    KXSO::KXOSUtil* util);
    ManagedDiskCall(const ManagedDiskCall&) = delete;
    ManagedDiskCall& operator=(const ManagedDiskCall&) = delete;

    const ManagedDiskDriverInfo& info() const { return info_; }
    KXSO::SnapInfo** devices() const { return devices_; }
    int16_t count() const { return count_; }
    KXSO::KXOSUtil* util() const { return util_; }
    // The record every log line of the call goes through.
    KXSO::SnapInfo* logRecord() const { return devices_[0]; }
    KxSnapAzureAPI& api() { return api_; }
    AzureInstanceInfo& instance() { return instance_; }
    std::ostringstream& message() { return message_; }

    // Logs through the first record under "AZUREAPI >>>>>".
    void Log(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    // Records the text gathered in the message stream on `record` with the
    // driver's error code (or `code` when given), then empties the stream.
    void RecordFailure(KXSO::SnapInfo* record, int code = 0);
    // Same with an explicit message; the stream is emptied as well.
    void RecordFailure(KXSO::SnapInfo* record, const std::string& message, int code = 0);

    // Connects to Azure; on failure records "Failed to connect to Azure." on
    // the first record and answers false.
    bool Connect();

private:
    const ManagedDiskDriverInfo& info_;
    KXSO::SnapInfo** devices_;
    int16_t count_;
    KXSO::KXOSUtil* util_;
    KxSnapAzureAPI api_;
    AzureInstanceInfo instance_;
    std::ostringstream message_;
};

using ManagedDiskDriverBody = std::function<KXSO::ResultCode(ManagedDiskCall&)>;
using ManagedDiskDriver = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

// Runs a driver in the frame. When `bulkVariant` is given and bulk requests
// are not disabled, the call is handed to it after the argument check (the
// records then receive the up-front status twice).
KXSO::ResultCode RunManagedDiskDriver(const ManagedDiskDriverInfo& info, KXSO::SnapInfo** devices,
                                      int16_t count, KXSO::KXOSUtil* util,
                                      const ManagedDiskDriverBody& body,
                                      ManagedDiskDriver bulkVariant = nullptr);
