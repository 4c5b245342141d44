#include "src/KXSORecordLog.h"

#include <string>

#include "platform/FXString.h"

void LogOnRecordV(KXSO::SnapInfo* record, int level, const char* tag, const char* format,
                  va_list args) {
    if (record == nullptr) {
        return;
    }
    const std::string text = FXString::FormatV(format, args);
    record->logMessage(level, tag, "%s", text.c_str());
}
