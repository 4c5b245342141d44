#include "Certificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>

namespace azemu {

namespace {

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("certificate generation failed: ") + what);
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    Owned<X509_EXTENSION> ext(X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value));
    check(ext != nullptr, value);
    check(X509_add_ext(cert, ext.get(), -1) == 1, value);
}

std::string toPem(const std::function<int(BIO*)>& write) {
    Owned<BIO> bio(BIO_new(BIO_s_mem()));
    check(bio && write(bio.get()) == 1, "PEM output");
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

Owned<X509> readCert(const std::string& pem) {
    Owned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return Owned<X509>(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

Owned<EVP_PKEY> readKey(const std::string& pem) {
    Owned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return Owned<EVP_PKEY>(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                               : nullptr);
}

}  // namespace

TlsIdentity makeSelfSignedIdentity() {
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key");
    Owned<X509> cert(X509_new());
    check(cert != nullptr, "X509_new");
    check(X509_set_version(cert.get(), 2) == 1, "version");

    unsigned char serial[16];
    check(RAND_bytes(serial, sizeof serial) == 1, "serial");
    serial[0] &= 0x7f;  // a positive serial number
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    check(bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())), "serial");
    BN_free(bn);

    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Local Azure emulator"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    check(X509_set_issuer_name(cert.get(), name) == 1, "issuer");
    check(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");

    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
    addExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), NID_subject_key_identifier, "hash");
    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signature");

    TlsIdentity id;
    id.certPem = toPem([&](BIO* b) { return PEM_write_bio_X509(b, cert.get()); });
    id.keyPem = toPem([&](BIO* b) {
        return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return id;
}

bool isUsableIdentity(const TlsIdentity& identity) {
    auto cert = readCert(identity.certPem);
    auto key = readKey(identity.keyPem);
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1) return false;
    std::time_t tomorrow = std::time(nullptr) + 24 * 3600;
    return X509_cmp_time(X509_get0_notAfter(cert.get()), &tomorrow) > 0;
}

}  // namespace azemu
