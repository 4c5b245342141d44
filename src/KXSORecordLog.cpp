#include "src/KXSORecordLog.h"

#include <string>

#include "platform/FXString.h"
#include "platform/KXSecretMask.h"

void LogOnRecordV(KXSO::SnapInfo* record, int level, const char* tag, const char* format,
                  va_list args) {
    if (record == nullptr) {
        return;
    }
    // Whatever a line quotes (an answer, a URL), no credential reaches the host.
    const std::string text = KXSecretMask::Mask(FXString::FormatV(format, args));
    record->logMessage(level, tag, "%s", text.c_str());
}

void LogOnRecord(KXSO::SnapInfo* record, int level, const char* tag, const std::string& line) {
    if (record != nullptr) {
        record->logMessage(level, tag, "%s", line.c_str());
    }
}
