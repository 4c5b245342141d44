// The azure-emulator program as a demo or shell-level test runs it, and the certificate as
// libcurl (the plug-in's HTTP client) checks it.
#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "TestSupport.h"

namespace azemu::test {
namespace {

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(AZEMU_PROGRAM));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(AZEMU_PROGRAM, argv.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fdopen(fds[0], "r")};
}

std::string readLine(FILE* f) {
    std::string line;
    for (int c; (c = fgetc(f)) != EOF && c != '\n';) line.push_back(static_cast<char>(c));
    return line;
}

std::string readAll(FILE* f) {
    std::string text;
    for (int c; (c = fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
}

int waitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProgramTest, PrintsItsEndpointsServesAndStopsOnSigterm) {
    TempDir dir;
    Child child = spawn({"--scenario", AZEMU_SAMPLE_SCENARIO, "--root", dir / "root", "--port-file",
                         dir / "ports.json"});
    std::string line = readLine(child.out);
    Json endpoints = Json::parse(line);
    for (const char* key : {"arm", "imds", "caFile", "root", "admin"}) {
        EXPECT_TRUE(endpoints[key].is_string()) << key;
    }
    EXPECT_EQ(endpoints["root"], dir / "root");
    EXPECT_TRUE(exists(dir / "root/dev/disk/azure/scsi1/lun0"));
    std::ifstream ports(dir / "ports.json");
    EXPECT_EQ(Json::parse(ports), endpoints);

    Client admin(endpoints["admin"].get<std::string>());
    EXPECT_EQ(admin.send("GET", "/_emulator/health").status, 200);
    auto [base, prefix] = splitUrl(endpoints["arm"]);
    Client arm(base, endpoints["caFile"]);
    EXPECT_EQ(arm.send("GET", "/_emulator/health").status, 200);

    auto start = std::chrono::steady_clock::now();
    kill(child.pid, SIGTERM);
    EXPECT_EQ(waitExit(child.pid), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    fclose(child.out);
    EXPECT_FALSE(exists(endpoints["caFile"]));  // its temporary directory went with it
}

TEST(ProgramTest, HelpExplainsScenarioAndAdminApi) {
    Child child = spawn({"--help"});
    std::string text = readAll(child.out);
    fclose(child.out);
    EXPECT_EQ(waitExit(child.pid), 0);
    for (const char* needle :
         {"--scenario", "--state", "dataDisks", "blockDevices", "/_emulator/faults",
          "/_emulator/devices/settle", "asyncNeverEnd", "KXSO_EMULATOR_ADMIN"}) {
        EXPECT_NE(text.find(needle), std::string::npos) << needle;
    }
}

TEST(ProgramTest, BadArgumentsAndScenariosFail) {
    TempDir dir;
    Child noArgs = spawn({});
    readAll(noArgs.out);
    fclose(noArgs.out);
    EXPECT_EQ(waitExit(noArgs.pid), 2);

    std::ofstream(dir / "bad.json") << R"({"vm": {"dataDisks": [{"name": "no-lun"}]}})";
    Child bad = spawn({"--scenario", dir / "bad.json", "--root", dir / "root"});
    EXPECT_EQ(readAll(bad.out), "");
    fclose(bad.out);
    EXPECT_EQ(waitExit(bad.pid), 1);
}

size_t discard(char*, size_t size, size_t n, void*) { return size * n; }

long curlStatus(const std::string& url, const std::string& caFile, std::string* error) {
    CURL* curl = curl_easy_init();
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    if (rc == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (error) *error = message;
    curl_easy_cleanup(curl);
    return status;
}

class CertificateTest : public EmulatorTest {};

TEST_F(CertificateTest, LibcurlVerifiesItAgainst127001WithTheCaFile) {
    std::string error;
    EXPECT_EQ(curlStatus(emu_->armUrl() + "_emulator/health", emu_->caFile(), &error), 200)
        << error;
    std::string localhost = emu_->armUrl();
    localhost.replace(localhost.find("127.0.0.1"), 9, "localhost");
    EXPECT_EQ(curlStatus(localhost + "_emulator/health", emu_->caFile(), &error), 200) << error;

    // Without the CA file the system's trust store does not know the certificate.
    EXPECT_EQ(curlStatus(emu_->armUrl() + "_emulator/health", "", nullptr), 0);
}

}  // namespace
}  // namespace azemu::test
