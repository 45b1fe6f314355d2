// The process-wide connection settings.
#include "drv_pro9/oa_settings.h"

#include <cstdlib>
#include <cstring>
#include <new>

OA_CONNSETTINGS& OA_ConnSettings() {
    // Never destroyed: a connection may still be opened while the process exits.
    alignas(OA_CONNSETTINGS) static unsigned char storage[sizeof(OA_CONNSETTINGS)];
    static OA_CONNSETTINGS* settings = new (storage) OA_CONNSETTINGS;
    return *settings;
}

void OA_ConnSettingsSetText(char** field, const char* value) {
    std::free(*field);
    *field = value != nullptr ? strdup(value) : nullptr;
}
