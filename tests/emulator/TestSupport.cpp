#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <thread>

#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace azemu::test {

Json baseScenario() {
    return Json::parse(R"({
      "tenantId": "aaaaaaaa-0000-4000-8000-000000000001",
      "subscriptionId": "5e6f7a8b-1111-4222-8333-944455556666",
      "resourceGroup": "Test-RG",
      "location": "westeurope",
      "identity": {"clientId": "c0ffee00-0000-4000-8000-000000000001"},
      "vm": {
        "name": "testvm",
        "vmId": "11111111-2222-4333-8444-555555555555",
        "zones": ["2"],
        "tags": {"owner": "tests"},
        "osDisk": {"name": "testvm_OsDisk_1", "sku": "Premium_LRS", "sizeGB": 30},
        "dataDisks": [
          {"lun": 0, "name": "data0", "sku": "Premium_LRS", "sizeGB": 100},
          {"lun": 1, "name": "data1", "sku": "StandardSSD_LRS", "sizeGB": 200,
           "caching": "ReadOnly"}
        ],
        "networkInterfaces": [{"privateIpAddresses": ["10.1.2.5"], "subnet": "10.1.2.0/24"}]
      },
      "otherVms": [
        {"name": "othervm", "zones": ["2"],
         "dataDisks": [{"lun": 0, "name": "otherdisk", "sizeGB": 50}]}
      ],
      "disks": [
        {"name": "spare", "sku": "Premium_LRS", "sizeGB": 64, "zones": ["2"]},
        {"name": "regional", "sku": "Premium_LRS", "sizeGB": 64}
      ],
      "snapshots": [{"name": "data0-snap", "sourceDisk": "data0", "tags": {"kept": "yes"}}],
      "blockDevices": ["loop0", "dm-0"]
    })");
}

TempDir::TempDir() {
    // Device trees are many small directories; on a memory file system they come and go in
    // microseconds rather than milliseconds, which keeps the suite fast.
    const char* env = std::getenv("TMPDIR");
    std::string base = env && *env ? env : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/azemu-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string Reply::header(const std::string& name) const {
    for (const auto& [k, v] : headers) {
        if (strcasecmp(k.c_str(), name.c_str()) == 0)
            return v;
    }
    return "";
}

Json Reply::json() const {
    return Json::parse(body);
}

struct Client::Impl {
    std::unique_ptr<httplib::Client> client;
};

Client::Client(std::string baseUrl, std::string caFile, bool keepAlive)
    : impl_(std::make_unique<Impl>()) {
    impl_->client = std::make_unique<httplib::Client>(baseUrl);
    if (!caFile.empty()) {
        impl_->client->set_ca_cert_path(caFile.c_str());
        impl_->client->enable_server_certificate_verification(true);
    }
    impl_->client->set_keep_alive(keepAlive);
    impl_->client->set_tcp_nodelay(true);
    impl_->client->set_read_timeout(10, 0);
    impl_->client->set_connection_timeout(5, 0);
}

Client::~Client() = default;

Reply Client::send(const std::string& method, const std::string& pathAndQuery,
                   const std::string& body,
                   const std::vector<std::pair<std::string, std::string>>& headers) {
    httplib::Headers h;
    for (const auto& [k, v] : headers)
        h.emplace(k, v);
    auto& c = *impl_->client;
    const char* type = "application/json";
    auto res = [&] {
        if (method == "GET")
            return c.Get(pathAndQuery.c_str(), h);
        if (method == "PUT")
            return c.Put(pathAndQuery.c_str(), h, body, type);
        if (method == "POST")
            return c.Post(pathAndQuery.c_str(), h, body, type);
        if (method == "PATCH")
            return c.Patch(pathAndQuery.c_str(), h, body, type);
        if (method == "DELETE")
            return c.Delete(pathAndQuery.c_str(), h, body, type);
        throw std::invalid_argument("method " + method);
    }();
    Reply r;
    if (!res)
        return r;
    r.transportOk = true;
    r.status = res->status;
    r.body = res->body;
    for (const auto& [k, v] : res->headers)
        r.headers.emplace(k, v);
    return r;
}

std::pair<std::string, std::string> splitUrl(const std::string& url) {
    auto scheme = url.find("://");
    auto slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (slash == std::string::npos)
        return {url, "/"};
    return {url.substr(0, slash), url.substr(slash)};
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

void EmulatorTest::SetUp() {
    restart(baseScenario());
}

void EmulatorTest::TearDown() {
    if (emu_)
        emu_->stop();
    armClient_.reset();
}

void EmulatorTest::restart(const Json& scenario, const std::string& stateFile) {
    if (emu_)
        emu_->stop();
    armClient_.reset();
    emu_.reset();
    emu_ = std::make_unique<Emulator>(scenario, dir_ / "root", stateFile);
    emu_->start();
    token_ = emu_->issueToken();
}

Client& EmulatorTest::armClient() {
    // A test may swap the emulator; the next one can get the same port.
    if (!armClient_ || armClientFor_ != emu_.get()) {
        armClient_ = std::make_unique<Client>(splitUrl(emu_->armUrl()).first, emu_->caFile(), true);
        armClientFor_ = emu_.get();
    }
    return *armClient_;
}

Reply EmulatorTest::arm(const std::string& method, const std::string& path, const std::string& body,
                        const std::string& apiVersion) {
    std::string prefix = splitUrl(emu_->armUrl()).second;
    std::string target = prefix + path;
    if (!apiVersion.empty()) {
        target += (path.find('?') == std::string::npos ? "?" : "&") + std::string("api-version=") +
                  apiVersion;
    }
    return armClient().send(method, target, body, {{"Authorization", "Bearer " + token_}});
}

Reply EmulatorTest::armGetUrl(const std::string& absoluteUrl) {
    auto [base, target] = splitUrl(absoluteUrl);
    if (base != splitUrl(emu_->armUrl()).first) {
        Client other(base, emu_->caFile());
        return other.send("GET", target, "", {{"Authorization", "Bearer " + token_}});
    }
    return armClient().send("GET", target, "", {{"Authorization", "Bearer " + token_}});
}

Reply EmulatorTest::imds(const std::string& pathAndQuery, bool metadataHeader) {
    auto [base, prefix] = splitUrl(emu_->imdsUrl());
    Client c(base);
    std::vector<std::pair<std::string, std::string>> headers;
    if (metadataHeader)
        headers.emplace_back("Metadata", "true");
    return c.send("GET", prefix + pathAndQuery, "", headers);
}

Reply EmulatorTest::admin(const std::string& method, const std::string& path,
                          const std::string& body) {
    Client c(emu_->adminUrl());
    return c.send(method, path, body);
}

std::string EmulatorTest::groupPath() const {
    return "subscriptions/" + emu_->subscriptionId() + "/resourceGroups/TEST-RG";
}
std::string EmulatorTest::vmPath() const {
    return groupPath() + "/providers/Microsoft.Compute/virtualMachines/testvm";
}
std::string EmulatorTest::diskPath(const std::string& name) const {
    return groupPath() + "/providers/Microsoft.Compute/disks/" + name;
}
std::string EmulatorTest::snapshotPath(const std::string& name) const {
    return groupPath() + "/providers/Microsoft.Compute/snapshots/" + name;
}

Json EmulatorTest::getVm() {
    Reply r = arm("GET", vmPath());
    EXPECT_EQ(r.status, 200) << r.body;
    return r.json();
}

Reply EmulatorTest::putVm(const Json& vm) {
    return arm("PUT", vmPath(), vm.dump());
}

Json EmulatorTest::waitForOperation(const std::string& url) {
    Json doc;
    waitUntil([&] {
        Reply r = armGetUrl(url);
        if (r.status != 200)
            return false;
        doc = r.json();
        return doc.value("status", "") != "InProgress";
    });
    return doc;
}

Json EmulatorTest::updateWith(const Json& vm, const Json& dataDisks) {
    Json props = vm["properties"];
    props["storageProfile"]["dataDisks"] = dataDisks;
    return {{"properties", props}, {"location", vm["location"]}};
}

Json EmulatorTest::attachEntry(int lun, const std::string& disk) const {
    return {{"name", disk},
            {"lun", lun},
            {"caching", "None"},
            {"managedDisk", {{"id", emu_->diskId(disk)}, {"storageAccountType", "Premium_LRS"}}},
            {"createOption", "Attach"},
            {"diskSizeGB", 64}};
}

Reply EmulatorTest::attachRaw(const Json& entry) {
    Json vm = getVm();
    Json disks = dataDisksOf(vm);
    disks.push_back(entry);
    return putVm(updateWith(vm, disks));
}

Reply EmulatorTest::attach(int lun, const std::string& diskName) {
    Reply r = attachRaw(attachEntry(lun, diskName));
    if (r.status == 200)
        waitForOperation(r.header("Azure-AsyncOperation"));
    return r;
}

Reply EmulatorTest::detachLun(int lun) {
    Json vm = getVm();
    Json kept = Json::array();
    for (const auto& d : dataDisksOf(vm)) {
        if (d["lun"] != lun)
            kept.push_back(d);
    }
    Reply r = putVm(updateWith(vm, kept));
    if (r.status == 200)
        waitForOperation(r.header("Azure-AsyncOperation"));
    return r;
}

Reply EmulatorTest::createSnapshot(const std::string& name, const std::string& sourceDisk,
                                   bool incremental) {
    Json body = {
        {"name", name},
        {"location", "westeurope"},
        {"properties",
         {{"creationData",
           {{"createOption", "Copy"}, {"sourceResourceId", emu_->diskId(sourceDisk).substr(1)}}}}},
        {"tags", {{"SnapShotCreatedByTest", "job 7"}}}};
    if (incremental)
        body["properties"]["incremental"] = true;
    return arm("PUT", snapshotPath(name), body.dump(), incremental ? "2019-03-01" : "2018-04-01");
}

void expectError(const Reply& r, int status, const std::string& code) {
    EXPECT_EQ(r.status, status) << r.body;
    if (!code.empty()) {
        const Json body = Json::parse(r.body, nullptr, false);
        ASSERT_TRUE(body.is_object()) << r.body;
        EXPECT_EQ(body["error"]["code"], code) << r.body;
        EXPECT_TRUE(body["error"]["message"].is_string()) << r.body;
    }
}

std::string readLink(const std::string& path) {
    std::error_code ec;
    auto target = fs::read_symlink(path, ec);
    return ec ? "" : target.string();
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace azemu::test
