#include "KXSOSnapAzureFrame.h"

#include <cstdarg>

#include "platform/KxException.h"
#include "src/KXSORecordLog.h"

ManagedDiskCall::ManagedDiskCall(const ManagedDiskDriverInfo& info, KXSO::SnapInfo** devices,
                                 int16_t count, KXSO::KXOSUtil* util)
    : info_(info), devices_(devices), count_(count), util_(util) {}

void ManagedDiskCall::Log(int level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    LogOnRecordV(logRecord(), level, AZUREAPI_TAG, format, args);
    va_end(args);
}

void ManagedDiskCall::RecordFailure(KXSO::SnapInfo* record, int code) {
    RecordFailure(record, message_.str(), code);
}

void ManagedDiskCall::RecordFailure(KXSO::SnapInfo* record, const std::string& message, int code) {
    SetErrorMessage(record, code > 0 ? code : info_.errorCode, info_.signature, message,
                    KXSO::SNAP_STATUS_NONE);
    message_.str("");
    message_.clear();
}

bool ManagedDiskCall::Connect() {
    long long jobId = (info_.passesJobId && util_) ? util_->getJobId() : 0;
    CUxError error = api_.InitAzureContext(logRecord(), instance_, jobId);
    if (error.IsSuccess()) {
        return true;
    }
    message_ << "Failed to connect to Azure."
             << "error: " << error.AsString(EErrorOutputFormat(2));
    RecordFailure(logRecord());
    return false;
}

namespace {

// Exceptions end the call with result 1 and one line on the first record.
// The logging itself must not throw out of the frame.
void LogEndWithErrors(KXSO::SnapInfo* record, const KxException& error) {
    try {
        record->logMessage(KXSO::LOG_INFO, AZUREAPI_TAG, "End with errors [%s][%d][%s]",
                           error.File().c_str(), error.Line(), error.what());
    } catch (...) {
    }
}

void LogEndWithUnhandledException(KXSO::SnapInfo* record) {
    try {
        record->logMessage(KXSO::LOG_INFO, AZUREAPI_TAG, "End with unhandled exception");
    } catch (...) {
    }
}

}  // namespace

KXSO::ResultCode RunManagedDiskDriver(const ManagedDiskDriverInfo& info, KXSO::SnapInfo** devices,
                                      int16_t count, KXSO::KXOSUtil* util,
                                      const ManagedDiskDriverBody& body,
                                      ManagedDiskDriver bulkVariant) {
    if (!ValidateInputDeviceArguments(devices, count, util, info.upFrontStatus)) {
        return KXSO::RESULT_FAILURE;
    }
    KXSO::SnapInfo* logRecord = devices[0];
    try {
        if (bulkVariant != nullptr && !ShouldDisableBulkRequests(logRecord)) {
            return bulkVariant(devices, count, util);
        }
        ManagedDiskCall call(info, devices, count, util);
        if (!call.Connect()) {
            return KXSO::RESULT_FAILURE;
        }
        return body(call);
    } catch (const KxException& error) {
        LogEndWithErrors(logRecord, error);
    } catch (...) {
        LogEndWithUnhandledException(logRecord);
    }
    return KXSO::RESULT_FAILURE;
}
