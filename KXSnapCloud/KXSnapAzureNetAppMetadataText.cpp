#include "KXSnapCloud/KXSnapAzureNetAppMetadataText.h"

namespace {

constexpr char kFieldEnd = '|';

}  // namespace

namespace AnfMetadataText {

std::vector<std::string> SplitFields(const std::string& record) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end = record.find(kFieldEnd); end != std::string::npos;
         end = record.find(kFieldEnd, start)) {
        fields.push_back(record.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

bool TakeField(const std::vector<std::string>& fields, size_t index, std::string& value) {
    if (index >= fields.size() || fields[index].empty()) {
        return false;
    }
    value = fields[index];
    return true;
}

bool CompleteLastField(std::string& record, const std::string& value) {
    const size_t last = record.rfind(kFieldEnd);
    if (last == std::string::npos) {
        return false;
    }
    const size_t previous = last == 0 ? std::string::npos : record.rfind(kFieldEnd, last - 1);
    const size_t fieldStart = previous == std::string::npos ? 0 : previous + 1;
    record.replace(fieldStart, last - fieldStart, value);
    return true;
}

}  // namespace AnfMetadataText
