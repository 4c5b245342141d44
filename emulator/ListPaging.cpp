#include "ListPaging.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace azemu {

namespace {

constexpr const char* kSkipToken = "$skiptoken";

// The request target without its $skiptoken parameter.
std::string targetWithoutSkipToken(const std::string& target) {
    const size_t question = target.find('?');
    if (question == std::string::npos) return target;
    std::string kept = target.substr(0, question);
    std::string query = target.substr(question + 1);
    char separator = '?';
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string param = query.substr(start, end - start);
        std::string name = param.substr(0, param.find('='));
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!param.empty() && name != kSkipToken) {
            kept += separator + param;
            separator = '&';
        }
        start = end + 1;
    }
    return kept;
}

}  // namespace

HttpResponse pageOfList(const HttpRequest& request, HttpResponse response, int pageSize,
                        const std::string& armBaseUrl) {
    if (pageSize <= 0 || request.method != "GET" || response.status != 200) return response;
    Json document = Json::parse(response.body, nullptr, false);
    if (!document.is_object() || !document.contains("value") || !document["value"].is_array()) {
        return response;
    }
    const Json all = document["value"];
    const long page = std::max(0L, std::atol(request.queryValue(kSkipToken).c_str()));
    const size_t first = static_cast<size_t>(page) * static_cast<size_t>(pageSize);
    Json slice = Json::array();
    for (size_t i = first; i < all.size() && i < first + static_cast<size_t>(pageSize); ++i) {
        slice.push_back(all[i]);
    }
    document["value"] = slice;
    document.erase("nextLink");
    if (first + static_cast<size_t>(pageSize) < all.size()) {
        const std::string target = targetWithoutSkipToken(request.target);
        const char separator = target.find('?') == std::string::npos ? '?' : '&';
        std::string relative = target.substr(target.find_first_not_of('/'));
        document["nextLink"] = armBaseUrl + relative + separator + kSkipToken + "=" +
                               std::to_string(page + 1);
    }
    response.body = document.dump();
    return response;
}

}  // namespace azemu
