// SQL text templates: expansion of 0xFF escapes, and the emptiness and LIKE-pattern
// tests that steer conditional sections.
#include "util/tmpl.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

using Byte = unsigned char;

constexpr Byte ESC = 0xFF;

// What the expander knows about one argument, fixed before expansion starts.
struct ArgInfo {
    const char* text = nullptr;   // as given; null inserts nothing
    bool empty = true;            // ut_TmplIsAll
    bool pattern = false;         // ut_TmplHasPattern
    std::string plain;            // unescaped copy when !pattern
};

class Expander {
public:
    Expander(std::string& out, const Byte* tmpl, const char* const* args, int count)
        : out_(out), t_(tmpl), count_(count > 0 ? count : 0) {
        info_.resize(static_cast<size_t>(count_) + 1);
        for (int i = 1; i <= count_; ++i) {
            ArgInfo& a = info_[static_cast<size_t>(i)];
            a.text = args ? args[i - 1] : nullptr;
            a.empty = ut_TmplIsAll(a.text) != 0;
            a.pattern = ut_TmplHasPattern(a.text, &a.plain) != 0;
        }
    }

    void Run() {
        size_t p = 0;
        for (;;) {
            Byte c = t_[p];
            if (c == 0)
                return;
            if (c != ESC) {
                out_.push_back(static_cast<char>(c));
                ++p;
                continue;
            }
            size_t len = SeqLen(p);
            if (len == 0)
                return;   // cut off by the NUL
            Byte code = t_[p + 1];
            switch (code) {
            case 0x01:
                Insert(t_[p + 2]);
                p += 3;
                break;
            case 0x02: {
                Byte g = t_[p + 2];
                if (Test(t_[p + 3], t_[p + 4], g)) {
                    p += 5;
                } else {
                    p = NextBranch(p + 5, g);
                    if (p == NPOS)
                        return;
                }
                break;
            }
            case 0x03:
            case 0x04:
                // End of a kept branch: the rest of the section is dropped.
                p = FindMarker(p + len, 0x05, t_[p + 2]);
                if (p == NPOS)
                    return;
                LeaveSection(t_[p + 2]);
                p += 3;
                break;
            case 0x05:
                LeaveSection(t_[p + 2]);
                p += 3;
                break;
            default:
                p += 2;
                break;
            }
        }
    }

private:
    static constexpr size_t NPOS = static_cast<size_t>(-1);

    // Length of the escape sequence at p, or 0 when the NUL cuts it short.
    size_t SeqLen(size_t p) const {
        Byte code = t_[p + 1];
        if (code == 0)
            return 0;
        size_t len = (code == 0x01 || code == 0x04 || code == 0x05) ? 3
                   : (code == 0x02 || code == 0x03)                 ? 5
                                                                    : 2;
        for (size_t i = 2; i < len; ++i)
            if (t_[p + i] == 0)
                return 0;
        return len;
    }

    // Position of the next 0xFF `code` g at or after p, passing over every other byte
    // and escape sequence; NPOS at the NUL.
    size_t FindMarker(size_t p, Byte code, Byte g) const {
        for (;;) {
            Byte c = t_[p];
            if (c == 0)
                return NPOS;
            if (c != ESC) {
                ++p;
                continue;
            }
            size_t len = SeqLen(p);
            if (len == 0)
                return NPOS;
            if (len >= 3 && t_[p + 2] == g && t_[p + 1] == code)
                return p;
            p += len;
        }
    }

    // After a failed test of section g: the position where expansion goes on, after
    // the first else-if whose test holds, the else marker or the end marker; NPOS at
    // the NUL.
    size_t NextBranch(size_t p, Byte g) {
        for (;;) {
            Byte c = t_[p];
            if (c == 0)
                return NPOS;
            if (c != ESC) {
                ++p;
                continue;
            }
            size_t len = SeqLen(p);
            if (len == 0)
                return NPOS;
            Byte code = t_[p + 1];
            if (len >= 3 && t_[p + 2] == g) {
                if (code == 0x03 && Test(t_[p + 3], t_[p + 4], g))
                    return p + 5;
                if (code == 0x04)
                    return p + 3;
                if (code == 0x05) {
                    LeaveSection(g);
                    return p + 3;
                }
            }
            p += len;
        }
    }

    // Evaluates test t on argument n for section g. When the outcome establishes that
    // the argument holds no unescaped wildcard, the branches of g that follow insert
    // its plain form.
    bool Test(Byte t, Byte n, Byte g) {
        const ArgInfo* a = (n >= 1 && n <= count_) ? &info_[n] : nullptr;
        bool empty = a ? a->empty : true;
        bool pattern = a ? a->pattern : false;
        switch (t) {
        case TMPL_EMPTY:
            return empty;
        case TMPL_GIVEN:
            return !empty;
        case TMPL_PATTERN:
            if (!pattern)
                plain_.emplace_back(g, n);
            return pattern;
        case TMPL_EXACT:
            if (!pattern)
                plain_.emplace_back(g, n);
            return !pattern;
        default:
            return false;
        }
    }

    void LeaveSection(Byte g) {
        std::erase_if(plain_, [g](const std::pair<Byte, Byte>& s) { return s.first == g; });
    }

    void Insert(Byte n) {
        if (n < 1 || n > count_) {
            out_.append("NULL");
            return;
        }
        const ArgInfo& a = info_[n];
        if (!a.text)
            return;
        for (const auto& s : plain_) {
            if (s.second == n) {
                out_.append(a.plain);
                return;
            }
        }
        out_.append(a.text);
    }

    std::string& out_;
    const Byte* t_;
    int count_;
    std::vector<ArgInfo> info_;                      // index 0 unused
    std::vector<std::pair<Byte, Byte>> plain_;        // {section, argument}
};

}  // namespace

int ut_TmplExpand(std::string& out, const char* tmpl, const char* const* args, int count) {
    if (!tmpl)
        return 0;
    Expander(out, reinterpret_cast<const Byte*>(tmpl), args, count).Run();
    return 0;
}

int ut_TmplIsAll(const char* text) {
    if (!text)
        return 1;
    if (std::strcmp(text, "%") == 0)
        return 1;
    for (const char* p = text; *p; ++p)
        if (*p != ' ')
            return 0;
    return 1;
}

int ut_TmplHasPattern(const char* text, std::string* plain) {
    if (plain)
        plain->clear();
    if (!text)
        return 0;
    std::string unescaped;
    for (const char* p = text; *p; ++p) {
        if (*p == '\\' && (p[1] == '_' || p[1] == '%' || p[1] == '\\')) {
            ++p;
            unescaped.push_back(*p);
            continue;
        }
        if (*p == '_' || *p == '%')
            return 1;
        unescaped.push_back(*p);
    }
    if (plain)
        *plain = std::move(unescaped);
    return 0;
}
