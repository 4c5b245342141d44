// The platform sleep. The file and line name the caller in the trace log.
#pragma once

#include <cstdint>

void UXSLEEP_InTeRnAl(uint64_t milliseconds, const char* file, int line);

#define UXSLEEP(ms) UXSLEEP_InTeRnAl((ms), __FILE__, __LINE__)
