#include "ApiVersions.h"

#include <algorithm>

namespace azemu {

const std::vector<std::string>& computeApiVersions() {
    static const std::vector<std::string> versions = {
        "2017-03-30", "2017-12-01", "2018-04-01", "2018-06-01", "2018-09-30", "2018-10-01",
        "2019-03-01", "2019-07-01", "2019-11-01", "2019-12-01", "2020-05-01", "2020-06-01",
        "2020-06-30", "2020-09-30", "2020-12-01", "2021-03-01", "2021-04-01", "2021-07-01",
        "2021-08-01", "2021-11-01", "2021-12-01", "2022-03-01", "2022-03-02", "2022-07-02",
        "2022-08-01", "2022-11-01", "2023-01-02", "2023-03-01",
    };
    return versions;
}

bool isComputeApiVersion(const std::string& v) {
    const auto& all = computeApiVersions();
    return std::find(all.begin(), all.end(), v) != all.end();
}

const std::string& newestComputeApiVersion() {
    return computeApiVersions().back();
}

namespace {

bool listed(const std::vector<std::string>& all, const std::string& v) {
    return std::find(all.begin(), all.end(), v) != all.end();
}

}  // namespace

const std::vector<std::string>& netAppApiVersions() {
    static const std::vector<std::string> versions = {
        "2017-08-15", "2019-05-01", "2019-06-01", "2019-07-01", "2019-08-01",
        "2019-10-01", "2019-11-01", "2020-02-01", "2020-03-01", "2020-05-01",
        "2020-06-01", "2020-07-01", "2020-08-01", "2020-09-01", "2020-11-01",
    };
    return versions;
}

bool isNetAppApiVersion(const std::string& v) {
    return listed(netAppApiVersions(), v);
}

const std::vector<std::string>& networkApiVersions() {
    static const std::vector<std::string> versions = {
        "2017-06-01", "2017-10-01", "2018-01-01", "2018-04-01", "2018-06-01", "2018-08-01",
        "2018-10-01", "2018-12-01", "2019-02-01", "2019-04-01", "2019-06-01", "2019-07-01",
        "2019-08-01", "2019-09-01", "2019-11-01", "2019-12-01", "2020-03-01", "2020-04-01",
        "2020-05-01", "2020-06-01", "2020-07-01", "2020-08-01", "2020-11-01",
    };
    return versions;
}

bool isNetworkApiVersion(const std::string& v) {
    return listed(networkApiVersions(), v);
}

std::string joinVersions(const std::vector<std::string>& versions) {
    std::string out;
    for (const auto& v : versions)
        out += (out.empty() ? "" : ", ") + v;
    return out;
}

const std::vector<std::string>& imdsApiVersions() {
    static const std::vector<std::string> versions = {
        "2017-03-01", "2017-04-02", "2017-08-01", "2017-10-01", "2017-12-01", "2018-02-01",
        "2018-04-02", "2018-10-01", "2019-02-01", "2019-03-11", "2019-04-30", "2019-06-01",
        "2019-06-04", "2019-08-01", "2019-08-15", "2019-11-01", "2020-06-01", "2020-07-15",
        "2020-09-01", "2020-10-01", "2020-12-01", "2021-01-01", "2021-02-01", "2021-03-01",
    };
    return versions;
}

bool isImdsApiVersion(const std::string& v) {
    const auto& all = imdsApiVersions();
    return std::find(all.begin(), all.end(), v) != all.end();
}

bool apiAtLeast(const std::string& v, const std::string& minimum) {
    return v.compare(0, minimum.size(), minimum) >= 0;
}

}  // namespace azemu
