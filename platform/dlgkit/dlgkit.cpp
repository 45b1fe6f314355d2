// The login dialog stand-in: the default pair shows nothing; an installed pair answers in
// its place.
#include "platform/dlgkit/dlgkit.h"

#include <atomic>
#include <cstdlib>

namespace {

int CannotShow(void*, const char*, const char*, char** connStrOut, int) {
    if (connStrOut != nullptr)
        *connStrOut = nullptr;
    return KVR_LOGIN_CANNOT_SHOW;
}

void FreeText(char* text) {
    std::free(text);
}

std::atomic<KVR_LOGIN_FN> g_login{CannotShow};
std::atomic<KVR_LOGIN_FREE_FN> g_release{FreeText};

}  // namespace

extern "C" int KvrLOGIN(void* window, const char* driverName, const char* connStrIn, char** connStrOut, int width) {
    return g_login.load()(window, driverName, connStrIn, connStrOut, width);
}

extern "C" void KvrLOGIN_Free(char* connStrOut) {
    if (connStrOut != nullptr)
        g_release.load()(connStrOut);
}

extern "C" void KvrLOGIN_Install(KVR_LOGIN_FN login, KVR_LOGIN_FREE_FN release) {
    if (login == nullptr || release == nullptr) {
        login = CannotShow;
        release = FreeText;
    }
    g_release.store(release);
    g_login.store(login);
}
