// Password decryption stand-in for the installation's enciphered passwords.
//
// Scheme "kxenc1": the text "kxenc1:" followed by the base64 of the password's
// bytes, each XOR-ed with the repeating key "KXSO-PWD". It only keeps
// passwords from being read at a glance in a settings file; it is not
// cryptography. `kxsnap encrypt-password` produces such texts.
#pragma once

#include <cstddef>
#include <string>

namespace KXPassword {
// Writes the NUL-terminated plain text into `buffer` (zeroed by the caller).
// Returns 0 on success; nonzero when the text is not in the scheme or does not
// fit. The plain text is never logged.
int decrypt(const std::string& enciphered, char* buffer, size_t size);
// The inverse, for tools and tests.
std::string encrypt(const std::string& plain);
}  // namespace KXPassword
