// Opens the installed plug-in by the path the package gives, resolves an
// export by its plain name and calls it, as a snapshot host does.
#include <cstdio>

#include <dlfcn.h>
#include <kxso/kxso_exports.h>

int main() {
    void* plugin = dlopen(KXSOSNAPAZURE_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    auto version = reinterpret_cast<decltype(&kxso_version)>(dlsym(plugin, "kxso_version"));
    if (!version) {
        std::fprintf(stderr, "no kxso_version\n");
        return 2;
    }
    int16_t major = 0, minor = 0, patch = 0;
    version(&major, &minor, &patch);
    std::printf("%d.%d.%d\n", major, minor, patch);
    dlclose(plugin);
    return major == 1 ? 0 : 1;
}
