// Compiles and links against the installed headers and plug-in.
#include <cstdio>

#include <kxso/kxso_exports.h>

int main() {
    int16_t major = 0, minor = 0, patch = 0;
    kxso_version(&major, &minor, &patch);
    std::printf("%d.%d.%d\n", major, minor, patch);
    return major == 1 ? 0 : 1;
}
