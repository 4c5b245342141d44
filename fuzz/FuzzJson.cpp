// The JSON layer under every parser: size and depth bounds must turn any
// input into a value or a clean failure, and a value must serialise.
#include "FuzzInput.h"
#include "platform/KxJson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KxJson::Value value;
    if (!KxJson::TryUnserialize(kxfuzz::AsText(data, size), value)) {
        return 0;
    }
    KxJson::Value again;
    kxfuzz::Require(KxJson::TryUnserialize(KxJson::Serialize(value), again));
    // The getters are called with whatever kinds the document holds.
    KxJson::GetStringValue(value, "name");
    KxJson::GetIntValue(value, "lun");
    KxJson::GetUInt64Value(value, "usageThreshold");
    KxJson::Value member;
    KxJson::FindObjectValue(value, "properties", member);
    KxJson::FindArrayValue(value, "value", member);
    return 0;
}
