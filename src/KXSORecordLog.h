// Writing a formatted line to a host record's log. The line is formatted
// here, then handed to the host through "%s", so no text (ours or Azure's)
// is ever read by the host as a format.
#pragma once

#include <cstdarg>
#include <string>

#include "kxso/KXSOSnapInfo.h"

// Nothing happens when `record` is null.
void LogOnRecordV(KXSO::SnapInfo* record, int level, const char* tag, const char* format,
                  va_list args);

// `line` as it is, through "%s". Nothing happens when `record` is null.
void LogOnRecord(KXSO::SnapInfo* record, int level, const char* tag, const std::string& line);
