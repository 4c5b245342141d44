#include "platform/UXSleep.h"

#include <errno.h>
#include <time.h>

#include "platform/EvDebug.h"

void UXSLEEP_InTeRnAl(uint64_t milliseconds, const char* file, int line) {
    EvDebug().DebugLvl(3, "UXSleep", "sleep [%llu ms] for [%s:%d]",
                       static_cast<unsigned long long>(milliseconds), file != nullptr ? file : "",
                       line);
    struct timespec remaining {};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000);
    // A signal delivered to the host must not cut a poll interval short.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
