// The XA switch: the X/Open switch record through which an XA transaction manager drives
// the driver as a resource manager, without the resource dispenser.
//
// xa_switch_open makes a connection of its own through the ODBC Driver Manager with the
// open string (a connect string naming a data source with "DSN="), finds the driver's
// connection behind it, opens the agent's XA resource manager and binds it to the calling
// thread under its rmid; the other entries find that binding by rmid on the calling thread
// and call the matching agent XA operation. A thread may open several rmids. Every entry
// traces its arguments and its result on the XA trace, and lets no exception out: running
// out of memory answers XAER_RMERR with nothing taken. The copy of the open string, which
// may hold a password, is wiped before its memory goes.
//
// The Driver Manager is unixODBC's libodbc, reached by name at run time: the driver is
// never linked against it. The record itself is exported by the libraries
// (driver/entry/api_xa.cpp).
#pragma once

#include <sql.h>

#include <string>

#include "dtc/dtc.h"
#include "platform/txcoord/xa.h"

int xa_switch_open(char* xa_info, int rmid, long flags);
int xa_switch_close(char* xa_info, int rmid, long flags);
int xa_switch_start(XID* xid, int rmid, long flags);
int xa_switch_end(XID* xid, int rmid, long flags);
int xa_switch_rollback(XID* xid, int rmid, long flags);
int xa_switch_prepare(XID* xid, int rmid, long flags);
int xa_switch_commit(XID* xid, int rmid, long flags);
int xa_switch_recover(XID* xids, long count, int rmid, long flags);
int xa_switch_forget(XID* xid, int rmid, long flags);
int xa_switch_complete(int* handle, int* result, int rmid, long flags);

// The record: name "TESSARYN", flags 0, version 0 and the ten entries. Constant, so that a
// transaction manager may read it before anything of the driver has run.
constexpr xa_switch_t XaSwitchRecord() {
    return xa_switch_t{"TESSARYN",         0,
                       0,                  xa_switch_open,
                       xa_switch_close,    xa_switch_start,
                       xa_switch_end,      xa_switch_rollback,
                       xa_switch_prepare,  xa_switch_commit,
                       xa_switch_recover,  xa_switch_forget,
                       xa_switch_complete};
}

// The data source name of an open string: the text after the first "DSN=" up to the next
// ';' or the end, trailing blanks cut. Empty when there is none or it is longer than 255
// bytes.
std::string XaOpenStringDsn(const char* xa_info);

// The Driver Manager calls the switch makes.
struct XA_DM_API {
    SQLRETURN (*allocHandle)(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output);
    SQLRETURN (*setEnvAttr)(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
    SQLRETURN (*driverConnect)(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out,
                               SQLSMALLINT outSize, SQLSMALLINT* outLength, SQLUSMALLINT completion);
    SQLRETURN (*getInfo)(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT size,
                         SQLSMALLINT* length);
    SQLRETURN (*disconnect)(SQLHDBC dbc);
    SQLRETURN (*freeHandle)(SQLSMALLINT type, SQLHANDLE handle);
};

// What the switch uses of the driver's connection behind a Driver Manager connection,
// given the driver's own handle (SQLGetInfo SQL_DRIVER_HDBC). False when the driver has no
// such connected connection. By default the host's look-up (DTC_HOST::connLink).
using XaConnResolver = bool (*)(SQLHDBC driverHandle, DTC_CONN_LINK* out);

// Replaces the Driver Manager (libodbc by default) and the connection look-up (the
// host's by default); null restores either. For tests; no open may be in progress.
void XaSwitchSetSeams(const XA_DM_API* dm, XaConnResolver resolver);
