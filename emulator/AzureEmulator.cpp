#include "AzureEmulator.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include <sys/stat.h>

#include "AdminApi.h"
#include "ApiVersions.h"
#include "ArmPath.h"
#include "ArmRouter.h"
#include "Certificate.h"
#include "ComputeProvider.h"
#include "Engine.h"
#include "FrontDoor.h"
#include "HttpListener.h"
#include "Imds.h"
#include "NetAppProvider.h"
#include "NetworkProvider.h"
#include "Scenario.h"
#include "VirtualMachines.h"

namespace fs = std::filesystem;

namespace azemu {

namespace {

ScenarioConfig parseScenarioArgument(const Json& scenario) {
    if (!scenario.is_string())
        return parseScenario(scenario);
    try {
        return parseScenario(Json::parse(scenario.get<std::string>()));
    } catch (const Json::parse_error& e) {
        throw std::invalid_argument(std::string("scenario is not valid JSON: ") + e.what());
    }
}

void writeFile(const fs::path& path, const std::string& text, mode_t mode) {
    {
        std::ofstream out(path, std::ios::trunc);
        out << text;
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    ::chmod(path.c_str(), mode);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string makeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/azure-emulator-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create " + pattern);
    return pattern;
}

}  // namespace

struct Emulator::Impl {
    Impl(const Json& scenario, const std::string& rootDir, const std::string& stateFilePath)
        : root(fs::absolute(rootDir).string()),
          stateFile(stateFilePath.empty() ? "" : fs::absolute(stateFilePath).string()),
          engine(parseScenarioArgument(scenario), root, stateFile),
          arm(engine),
          imds(engine),
          admin(engine,
                AdminHooks{[this] { return connections(); }, [this] { return endpoints(); }}),
          front(engine, arm, imds, admin) {
        arm.addProvider("Microsoft.Compute", std::make_unique<ComputeProvider>(engine));
        arm.addProvider("Microsoft.NetApp", std::make_unique<NetAppProvider>(engine));
        arm.addProvider("Microsoft.Network", std::make_unique<NetworkProvider>(engine));
    }

    ~Impl() { stop(); }

    // With --state the certificate lives beside the state file, so that later runs keep the
    // CA file clients were given; otherwise in a temporary directory removed on stop.
    TlsIdentity loadOrMakeIdentity() {
        if (stateFile.empty()) {
            tlsDir = makeTempDir();
            ownsTlsDir = true;
        } else {
            tlsDir = stateFile + ".tls";
            ownsTlsDir = false;
            fs::create_directories(tlsDir);
            TlsIdentity kept{readFile(fs::path(tlsDir) / "cert.pem"),
                             readFile(fs::path(tlsDir) / "key.pem")};
            if (isUsableIdentity(kept))
                return kept;
        }
        TlsIdentity fresh = makeSelfSignedIdentity();
        writeFile(fs::path(tlsDir) / "key.pem", fresh.keyPem, 0600);
        writeFile(fs::path(tlsDir) / "cert.pem", fresh.certPem, 0644);
        return fresh;
    }

    void start() {
        std::lock_guard<std::mutex> lock(lifecycle);
        if (running)
            return;
        engine.layOutDevices();  // the likeliest failure, before anything listens
        TlsIdentity identity = loadOrMakeIdentity();
        {
            std::lock_guard<std::mutex> urlsLock(urls);
            caFile = (fs::path(tlsDir) / "cert.pem").string();
        }
        auto handler = [this](const HttpRequest& r) { return front.handle(r); };
        armListener = std::make_unique<HttpListener>(Listener::Arm, handler, &identity);
        imdsListener = std::make_unique<HttpListener>(Listener::Imds, handler, nullptr);
        try {
            int armPort = armListener->start();
            int imdsPort = imdsListener->start();
            {
                std::lock_guard<std::mutex> urlsLock(urls);
                armUrl = "https://127.0.0.1:" + std::to_string(armPort) + "/";
                imdsUrl = "http://127.0.0.1:" + std::to_string(imdsPort) + "/";
            }
            engine.start(armUrl);
        } catch (...) {
            stopLocked();
            throw;
        }
        running = true;
    }

    void stop() {
        std::lock_guard<std::mutex> lock(lifecycle);
        stopLocked();
    }

    void stopLocked() {
        engine.stop();
        if (imdsListener)
            imdsListener->stop();
        if (armListener)
            armListener->stop();
        if (ownsTlsDir && !tlsDir.empty()) {
            std::error_code ec;
            fs::remove_all(tlsDir, ec);
            tlsDir.clear();
        }
        running = false;
    }

    Json connections() const {
        uint64_t https = armListener ? armListener->connectionsAccepted() : 0;
        uint64_t http = imdsListener ? imdsListener->connectionsAccepted() : 0;
        return {{"https", https}, {"http", http}, {"total", https + http}};
    }

    Json endpoints() const {
        std::lock_guard<std::mutex> lock(urls);
        std::string admin = imdsUrl.empty() ? "" : imdsUrl.substr(0, imdsUrl.size() - 1);
        return {{"arm", armUrl},
                {"imds", imdsUrl},
                {"admin", admin},
                {"caFile", caFile},
                {"root", root}};
    }

    const std::string root;
    const std::string stateFile;
    Engine engine;
    ArmRouter arm;
    Imds imds;
    AdminApi admin;
    FrontDoor front;

    mutable std::mutex lifecycle;
    mutable std::mutex urls;  // the admin API reads the endpoints from handler threads
    bool running = false;
    std::unique_ptr<HttpListener> armListener;
    std::unique_ptr<HttpListener> imdsListener;
    std::string armUrl, imdsUrl, caFile, tlsDir;
    bool ownsTlsDir = false;
};

Emulator::Emulator(const Json& scenario, const std::string& root, const std::string& stateFile)
    : impl_(std::make_unique<Impl>(scenario, root, stateFile)) {}

Emulator::~Emulator() = default;

void Emulator::start() {
    impl_->start();
}
void Emulator::stop() {
    impl_->stop();
}

bool Emulator::running() const {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->running;
}

std::string Emulator::armUrl() const {
    return endpoints()["arm"];
}
std::string Emulator::imdsUrl() const {
    return endpoints()["imds"];
}
std::string Emulator::adminUrl() const {
    return endpoints()["admin"];
}
std::string Emulator::caFile() const {
    return endpoints()["caFile"];
}
std::string Emulator::root() const {
    return impl_->root;
}

Json Emulator::endpoints() const {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->endpoints();
}

Settings Emulator::settings() const {
    return impl_->engine.settings();
}
void Emulator::setSettings(const Settings& s) {
    impl_->engine.setSettings(s);
}

int Emulator::injectFault(const FaultSpec& fault) {
    return impl_->engine.faults().add(fault);
}
std::vector<FaultInfo> Emulator::faults() const {
    return impl_->engine.faults().list();
}
void Emulator::clearFaults() {
    impl_->engine.faults().clear();
}

std::vector<RequestRecord> Emulator::requestLog() const {
    return impl_->engine.requestLog().entries();
}
void Emulator::clearRequestLog() {
    impl_->engine.requestLog().clear();
}

uint64_t Emulator::connectionCount() const {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->connections()["total"];
}
uint64_t Emulator::armConnectionCount() const {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->connections()["https"];
}
uint64_t Emulator::imdsConnectionCount() const {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->connections()["http"];
}

Json Emulator::state() const {
    return impl_->engine.dump();
}
void Emulator::reset() {
    impl_->engine.reset();
}
void Emulator::completePending() {
    impl_->engine.completePending();
}
bool Emulator::settleDevices(std::chrono::milliseconds timeout) {
    return impl_->engine.waitForDevices(timeout);
}

std::string Emulator::issueToken() {
    return impl_->engine.issueToken().token;
}

std::string Emulator::subscriptionId() const {
    return impl_->engine.machine().subscriptionId;
}
std::string Emulator::resourceGroup() const {
    return impl_->engine.machine().resourceGroup;
}
std::string Emulator::location() const {
    return impl_->engine.machine().location;
}

std::string Emulator::vmResourceId() const {
    const MachineInfo& m = impl_->engine.machine();
    return computeResourceId(m.subscriptionId, m.resourceGroup, "virtualMachines", m.vmName);
}

std::string Emulator::diskId(const std::string& name) const {
    const MachineInfo& m = impl_->engine.machine();
    return computeResourceId(m.subscriptionId, m.resourceGroup, "disks", name);
}

std::string Emulator::snapshotId(const std::string& name) const {
    const MachineInfo& m = impl_->engine.machine();
    return computeResourceId(m.subscriptionId, m.resourceGroup, "snapshots", name);
}

std::optional<Json> Emulator::resource(const std::string& id) const {
    return impl_->engine.resourceDocument(id);
}

Json Emulator::vmDocument() const {
    auto lock = impl_->engine.lock();
    const AzureState& state = impl_->engine.state();
    const VmRecord* vm = localVm(state);
    return vm ? renderVm(*vm, state, newestComputeApiVersion()) : Json();
}

std::vector<AttachedDisk> Emulator::dataDisks() const {
    auto lock = impl_->engine.lock();
    std::vector<AttachedDisk> out;
    if (const VmRecord* vm = localVm(impl_->engine.state())) {
        for (const auto& e : vm->dataDisks)
            out.push_back({e.lun, e.name, e.diskId, e.vhdUri});
    }
    return out;
}

std::vector<BlockDevice> Emulator::devices() const {
    auto lock = impl_->engine.lock();
    std::vector<BlockDevice> out;
    for (const auto& d : impl_->engine.state().devices) {
        out.push_back({d.name, d.scsiAddress, d.lun, d.diskId});
    }
    return out;
}

std::vector<NetAppVolumeView> Emulator::netAppVolumes() const {
    return impl_->engine.netAppVolumes();
}

bool Emulator::setVolumeContent(const std::string& volume, const std::string& content) {
    return impl_->engine.setVolumeContent(volume, content);
}

bool Emulator::removeNetAppResource(const std::string& id) {
    return impl_->engine.removeNetAppResource(id);
}

}  // namespace azemu
