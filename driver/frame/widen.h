// The wide entries' text handling: input texts become UTF-8 copies passed with SQL_NTS,
// output texts are produced in UTF-8 by the handler and converted back into the
// application's UTF-16 buffer, counted in characters. Both happen inside the call (a
// CallHook), so that a failed copy or a cut result is a diagnostic on the handle.
#pragma once

#include <sql.h>
#include <sqlucode.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "driver/frame/dispatch.h"

static_assert(sizeof(SQLWCHAR) == 2, "ODBC wide text is UTF-16 in 16-bit units");

// Largest narrow buffer a wide output gets: its length travels in a 16-bit argument.
constexpr SQLINTEGER WIDE_NARROW_MAX = 32767;
// Least narrow buffer a wide output gets.
constexpr SQLINTEGER WIDE_NARROW_SLACK = 512;

// One wide input text as the handler sees it.
class WideIn {
public:
    // length: characters, or SQL_NTS. A negative length other than SQL_NTS is handed on
    // unchanged (the handler reports it) with an empty text.
    WideIn(const SQLWCHAR* text, SQLINTEGER length);
    SQLCHAR* text() const { return reinterpret_cast<SQLCHAR*>(copy_.get()); }
    SQLSMALLINT len16() const { return static_cast<SQLSMALLINT>(length_); }
    SQLINTEGER len32() const { return length_; }
    bool ok() const { return ok_; }

private:
    // The copy may hold a password: wiped before its memory goes back to the heap.
    struct WipeAndFree {
        void operator()(char* p) const {
            explicit_bzero(p, std::strlen(p));
            std::free(p);
        }
    };
    std::unique_ptr<char, WipeAndFree> copy_;
    SQLINTEGER length_ = SQL_NTS;
    bool ok_ = true;
};

// How a wide output reports a cut text.
enum class WideCut {
    PostOnHandle,  // 01004 on the handle and SQL_SUCCESS_WITH_INFO
    ResultOnly,    // SQL_SUCCESS_WITH_INFO alone (the diagnostic calls themselves)
};

// One wide output text of n characters.
class WideOut {
public:
    WideOut(SQLWCHAR* app, SQLINTEGER appChars, WideCut cut);
    bool ok() const { return ok_; }
    bool postsOnHandle() const { return cut_ == WideCut::PostOnHandle; }
    SQLCHAR* buffer() const { return reinterpret_cast<SQLCHAR*>(narrow_.get()); }
    SQLSMALLINT size16() const { return static_cast<SQLSMALLINT>(narrowSize_); }
    SQLINTEGER size32() const { return narrowSize_; }
    // Where the handler writes the narrow result's full length in bytes.
    SQLSMALLINT* narrowLen16() { return &narrowLen16_; }
    SQLINTEGER* narrowLen32() { return &narrowLen32_; }
    // After the handler: on success converts into the application's buffer, stores the
    // length in characters, and reports a cut as told. Returns the call's result.
    SQLRETURN Finish(SQLRETURN rc, DIAG* diag, SQLINTEGER* appChars32, SQLSMALLINT* appChars16);

private:
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    SQLWCHAR* app_;
    SQLINTEGER appChars_;
    WideCut cut_;
    std::unique_ptr<char, Free> narrow_;
    SQLINTEGER narrowSize_ = 0;
    SQLSMALLINT narrowLen16_ = 0;
    SQLINTEGER narrowLen32_ = -1;  // -1: the 16-bit length is the one written
    bool ok_ = true;
};

// Puts 01004 on the handle unless the call already left a code there (the handler's own
// warning is not overwritten).
void PostTruncation(DIAG* diag);

// The hook of one wide call: refuses the call when an input copy or the output's staging
// buffer could not be made (S1001 on the handle, but for the diagnostic calls) and
// finishes the output, if any, after the handler.
class WideHook {
public:
    WideHook(std::initializer_list<const WideIn*> inputs, WideOut* output = nullptr,
             SQLSMALLINT* appChars16 = nullptr, SQLINTEGER* appChars32 = nullptr);
    const CallHook& hook() const { return hook_; }

private:
    static SQLRETURN Before(void* self, int kind, void* object);
    static SQLRETURN After(void* self, int kind, void* object, SQLRETURN rc);
    bool copiesOk_ = true;
    WideOut* output_;
    SQLSMALLINT* appChars16_;
    SQLINTEGER* appChars32_;
    CallHook hook_;
};
