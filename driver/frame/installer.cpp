// The ODBC installer library, loaded at run time.
#include "driver/frame/installer.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Larger than any value the library keeps (its lines hold at most 1000 characters).
constexpr int INST_VALUE_MAX = 4096;

using GetProfileFn = int (*)(const char*, const char*, const char*, char*, int, const char*);
using GetProfileWFn = int (*)(const SQLWCHAR*, const SQLWCHAR*, const SQLWCHAR*, SQLWCHAR*, int, const SQLWCHAR*);
using ReadFileDsnFn = int (*)(const char*, const char*, const char*, char*, unsigned short, unsigned short*);
using ReadFileDsnWFn = int (*)(const SQLWCHAR*, const SQLWCHAR*, const SQLWCHAR*, SQLWCHAR*, unsigned short,
                               unsigned short*);

struct Installer {
    GetProfileFn getProfile = nullptr;
    GetProfileWFn getProfileW = nullptr;
    ReadFileDsnFn readFileDsn = nullptr;
    ReadFileDsnWFn readFileDsnW = nullptr;
};

template <class Fn>
Fn Resolve(void* lib, const char* name) {
    return reinterpret_cast<Fn>(dlsym(lib, name));
}

// Loaded once; never closed, since another thread may be inside one of its calls.
const Installer& Inst() {
    static const Installer inst = [] {
        Installer i;
        void* lib = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            lib = dlopen("libodbcinst.so", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            return i;
        i.getProfile = Resolve<GetProfileFn>(lib, "SQLGetPrivateProfileString");
        i.readFileDsn = Resolve<ReadFileDsnFn>(lib, "SQLReadFileDSN");
        i.getProfileW = Resolve<GetProfileWFn>(lib, "SQLGetPrivateProfileStringW");
        i.readFileDsnW = Resolve<ReadFileDsnWFn>(lib, "SQLReadFileDSNW");
        return i;
    }();
    return inst;
}

template <class Ch>
size_t Length(const Ch* s) {
    size_t n = 0;
    if (s != nullptr)
        while (s[n] != 0)
            ++n;
    return n;
}

// Copies a NUL-terminated text into buf, cut to size - 1 units; returns the units stored.
template <class Ch>
int CopyOut(const Ch* text, Ch* buf, int size) {
    size_t n = std::min(Length(text), static_cast<size_t>(size - 1));
    if (n > 0)
        std::memcpy(buf, text, n * sizeof(Ch));
    buf[n] = 0;
    return static_cast<int>(n);
}

template <class Ch>
const Ch* EmptyText() {
    static const Ch empty[1] = {0};
    return empty;
}

}  // namespace

bool InstAvailable() { return Inst().getProfile != nullptr && Inst().readFileDsn != nullptr; }

bool InstWideAvailable() { return Inst().getProfileW != nullptr && Inst().readFileDsnW != nullptr; }

int InstGetPrivateProfileString(const char* section, const char* key, const char* def, char* buf, int size,
                                const char* file) {
    if (buf == nullptr || size <= 0)
        return 0;
    if (def == nullptr)
        def = "";
    const Installer& inst = Inst();
    if (inst.getProfile == nullptr || section == nullptr || key == nullptr || file == nullptr)
        return CopyOut(def, buf, size);
    std::array<char, INST_VALUE_MAX + 1> value{};
    inst.getProfile(section, key, def, value.data(), INST_VALUE_MAX, file);
    value[INST_VALUE_MAX] = '\0';
    return CopyOut(value.data(), buf, size);
}

int InstGetPrivateProfileStringW(const SQLWCHAR* section, const SQLWCHAR* key, const SQLWCHAR* def, SQLWCHAR* buf,
                                 int size, const SQLWCHAR* file) {
    const Installer& inst = Inst();
    if (inst.getProfileW == nullptr)
        return -1;
    if (buf == nullptr || size <= 0)
        return 0;
    if (def == nullptr)
        def = EmptyText<SQLWCHAR>();
    if (section == nullptr || key == nullptr || file == nullptr)
        return CopyOut(def, buf, size);
    std::array<SQLWCHAR, INST_VALUE_MAX + 1> value{};
    inst.getProfileW(section, key, def, value.data(), INST_VALUE_MAX, file);
    value[INST_VALUE_MAX] = 0;
    return CopyOut(value.data(), buf, size);
}

bool InstReadFileDSN(const char* file, const char* app, const char* key, char* buf, int size, int* length) {
    if (buf != nullptr && size > 0)
        buf[0] = '\0';
    const Installer& inst = Inst();
    if (inst.readFileDsn == nullptr || file == nullptr || app == nullptr || key == nullptr)
        return false;
    std::array<char, INST_VALUE_MAX + 1> value{};
    unsigned short got = 0;
    if (!inst.readFileDsn(file, app, key, value.data(), INST_VALUE_MAX, &got))
        return false;
    value[INST_VALUE_MAX] = '\0';
    if (buf != nullptr && size > 0)
        CopyOut(value.data(), buf, size);
    if (length != nullptr)
        *length = static_cast<int>(Length(value.data()));
    return true;
}

bool InstReadFileDSNW(const SQLWCHAR* file, const SQLWCHAR* app, const SQLWCHAR* key, SQLWCHAR* buf, int size,
                      int* length) {
    if (buf != nullptr && size > 0)
        buf[0] = 0;
    const Installer& inst = Inst();
    if (inst.readFileDsnW == nullptr || file == nullptr || app == nullptr || key == nullptr)
        return false;
    std::array<SQLWCHAR, INST_VALUE_MAX + 1> value{};
    unsigned short got = 0;
    if (!inst.readFileDsnW(file, app, key, value.data(), INST_VALUE_MAX, &got))
        return false;
    value[INST_VALUE_MAX] = 0;
    if (buf != nullptr && size > 0)
        CopyOut(value.data(), buf, size);
    if (length != nullptr)
        *length = static_cast<int>(Length(value.data()));
    return true;
}
