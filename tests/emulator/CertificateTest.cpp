// The emulator's certificate as libcurl (the plug-in's HTTP client) checks it. The program
// itself is run end to end by kxsnap's demo.
#include <curl/curl.h>

#include "TestSupport.h"

namespace azemu::test {
namespace {

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
