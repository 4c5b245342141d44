// The emulator's TLS identity: a self-signed certificate for 127.0.0.1 and localhost. Clients
// trust it by using the certificate itself as their CA file, and verify the host name against
// it as usual, so its subjectAltName carries IP:127.0.0.1.
#pragma once

#include <string>

namespace azemu {

struct TlsIdentity {
    std::string certPem;
    std::string keyPem;
};

// EC P-256, valid from an hour ago for a year. Throws std::runtime_error.
TlsIdentity makeSelfSignedIdentity();

// True when both parse, belong together and the certificate is valid for another day.
bool isUsableIdentity(const TlsIdentity& identity);

}  // namespace azemu
