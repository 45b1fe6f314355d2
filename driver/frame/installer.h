// The ODBC installer library: unixODBC's libodbcinst.so.2, opened with dlopen at first use
// (once, from any thread) and kept for the life of the process. The driver never links
// against it, so it loads in processes that have no Driver Manager.
//
// Every read goes through a buffer of the wrapper's own and is then cut to the caller's
// buffer, because the library's own cutting of a long value is unreliable. A null section,
// key or application name is never passed on (the library would answer a list of names):
// the call then behaves as for a missing key.
#pragma once

#include <sqltypes.h>

// True when the library and its narrow calls could be loaded.
bool InstAvailable();
// True when the wide calls could be loaded as well.
bool InstWideAvailable();

// Reads a key of a section of an ini file ("odbc.ini", "odbcinst.ini" or a path) into buf,
// at most size - 1 bytes and a NUL. A missing key, or no library, gives the default (null
// counts as ""). The library does not tell an empty value from a missing key. Returns the
// number of bytes stored, NUL not counted; 0 when size is not positive.
int InstGetPrivateProfileString(const char* section, const char* key, const char* def, char* buf, int size,
                                const char* file);
// The same in UTF-16, size and result counted in characters. -1 (buf untouched) when the
// wide call is not available.
int InstGetPrivateProfileStringW(const SQLWCHAR* section, const SQLWCHAR* key, const SQLWCHAR* def, SQLWCHAR* buf,
                                 int size, const SQLWCHAR* file);

// Reads a key of a section ("ODBC") of a File DSN into buf, at most size - 1 bytes and a
// NUL. True when the key was found; *length (when not null) is then the value's full
// length. False for a missing file, section or key, or no library (buf is then "").
bool InstReadFileDSN(const char* file, const char* app, const char* key, char* buf, int size, int* length);
// The same in UTF-16, counted in characters; false as well when the wide call is missing.
bool InstReadFileDSNW(const SQLWCHAR* file, const SQLWCHAR* app, const SQLWCHAR* key, SQLWCHAR* buf, int size,
                      int* length);
