#include "support/TestHost.h"

namespace kxtest {

kxsnap::HostRecord& TestHost::Add(kxsnap::RecordData data) {
    records_.push_back(std::make_unique<kxsnap::HostRecord>(static_cast<int>(records_.size()),
                                                            std::move(data), log_, arrays_));
    pointers_.push_back(records_.back().get());
    return *records_.back();
}

bool TestHost::Logged(const std::string& text, const std::string& tag) const {
    for (const auto& entry : log_.Entries()) {
        if (entry.text.find(text) != std::string::npos &&
            (tag.empty() || entry.tag.compare(0, tag.size(), tag) == 0)) {
            return true;
        }
    }
    return false;
}

kxsnap::RecordData DiskRecord(const std::string& device) {
    kxsnap::RecordData data;
    data.sourceDevicePath = device;
    data.snapName = "snap-" + device.substr(device.rfind('/') + 1);
    return data;
}

}  // namespace kxtest
