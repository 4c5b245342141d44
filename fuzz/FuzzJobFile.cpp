// kxsnap's job file is written by people and scripts; a bad one must be
// refused with a message, never crash the runner.
#include "FuzzInput.h"
#include "kxsnap/JobFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxsnap::Job job;
    std::string error;
    if (!kxsnap::ParseJob(kxfuzz::AsText(data, size), job, error)) {
        kxfuzz::Require(!error.empty());
    }
    return 0;
}
