// Checks on names that reach a resource URL. Names come from the host (the
// snapshot name), from the stored metadata text and from our own naming
// rules; none is URL-encoded on the way (Azure ids are sent as they come), so a
// name holding a separator or an escape would address a different resource.
#include <string>
#include <vector>

#include "KxSnapAzureAPI.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

bool IsCharacterRefused(unsigned char c) {
    // Control characters, blanks, DEL and the URL delimiters that would end
    // or re-route the path.
    return c <= 0x20 || c == 0x7f || c == '/' || c == '?' || c == '#' || c == '%' || c == '\\';
}

bool IsSegmentSafe(const std::string& segment) {
    if (segment == "." || segment == "..") {
        return false;
    }
    for (unsigned char c : segment) {
        if (IsCharacterRefused(c)) {
            return false;
        }
    }
    return true;
}

CUxError RefuseName(const char* what, const std::string& text) {
    return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                   "Invalid Azure resource %s [%s]: it must not be empty or "
                                   "hold '/', '?', '#', '%%', blanks, control characters or '..'",
                                   what, text.c_str());
}

}  // namespace

CUxError ValidateAzureResourceName(const std::string& name) {
    if (name.empty() || !IsSegmentSafe(name)) {
        return RefuseName("name", name);
    }
    return CUxError::Success();
}

CUxError ValidateAzureResourcePath(const std::string& path) {
    const std::vector<std::string> segments = FXString::Split(path, "/");
    bool hasName = false;
    for (const std::string& segment : segments) {
        if (segment.empty()) {
            continue;
        }
        if (!IsSegmentSafe(segment)) {
            return RefuseName("path", path);
        }
        hasName = true;
    }
    if (!hasName) {
        return RefuseName("path", path);
    }
    return CUxError::Success();
}
