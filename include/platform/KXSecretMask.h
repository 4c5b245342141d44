// Keeping credentials and oversized server answers out of everything that is
// logged or stored: log lines, error texts, the host's records.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace KXSecretMask {

// Error bodies and the texts made from them keep at most this much.
constexpr size_t kMaxErrorTextBytes = 4096;

// `text` with every credential replaced by "*****": the string values of
// members such as "access_token" or "password", whatever follows "Bearer ",
// the user information of URLs ("https://user:pw@proxy" becomes
// "https://*****@proxy") and every occurrence of each of `secrets` (empty
// entries are ignored). Anything else is left as it was.
std::string Mask(const std::string& text, const std::vector<std::string>& secrets = {});

// `text` unchanged when it holds at most kMaxErrorTextBytes; otherwise its
// first kMaxErrorTextBytes followed by "... [truncated, N bytes in all]",
// N being `totalBytes` when given (the size of the whole of which `text` may
// already be a part) or the size of `text`.
std::string Cut(const std::string& text, size_t totalBytes = 0);

}  // namespace KXSecretMask
