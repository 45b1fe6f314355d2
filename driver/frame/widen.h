// The wide entries' input texts: each becomes a UTF-8 copy passed with SQL_NTS, owned by the
// entry for the call; a copy that cannot be made is reported inside the call (a CallHook),
// so that it is a diagnostic on the handle. Output texts need nothing here: handlers write
// them in the call's width through the one output writer (driver/outstr/outstr.h).
#pragma once

#include <sql.h>
#include <sqlucode.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "driver/frame/dispatch.h"

static_assert(sizeof(SQLWCHAR) == 2, "ODBC wide text is UTF-16 in 16-bit units");

// One wide input text as the handler sees it.
class WideIn {
public:
    // length: characters, or SQL_NTS. A negative length other than SQL_NTS is handed on
    // unchanged (the handler reports it) with an empty text.
    WideIn(const SQLWCHAR* text, SQLINTEGER length);
    const char* text() const { return copy_.get(); }
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

// The hook of a wide call with text inputs: refuses the call when an input copy could not
// be made (S1001 on the handle).
class WideHook {
public:
    explicit WideHook(std::initializer_list<const WideIn*> inputs);
    const CallHook* hook() const { return &hook_; }

private:
    static SQLRETURN Before(void* self, HANDLE_HDR* object);
    bool copiesOk_ = true;
    CallHook hook_;
};
