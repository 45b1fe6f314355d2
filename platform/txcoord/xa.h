// X/Open XA as this driver speaks it: the transaction branch id, the switch record through
// which a transaction manager drives a resource manager, and the flags and return codes.
// The layout is that of X/Open's xa.h on LP64 Linux, where long is 64 bits, so that a
// transaction manager built against its own xa.h reads our records as its own.
#pragma once

constexpr int XIDDATASIZE = 128;  // gtrid and bqual together
constexpr int MAXGTRIDSIZE = 64;
constexpr int MAXBQUALSIZE = 64;
constexpr int RMNAMESZ = 32;

// A transaction branch id: data holds the global transaction id, then the branch qualifier.
struct XID {
    long formatID;  // -1: a null XID
    long gtrid_length;
    long bqual_length;
    char data[XIDDATASIZE];
};

struct xa_switch_t {
    char name[RMNAMESZ];
    long flags;
    long version;
    int (*xa_open_entry)(char* xa_info, int rmid, long flags);
    int (*xa_close_entry)(char* xa_info, int rmid, long flags);
    int (*xa_start_entry)(XID* xid, int rmid, long flags);
    int (*xa_end_entry)(XID* xid, int rmid, long flags);
    int (*xa_rollback_entry)(XID* xid, int rmid, long flags);
    int (*xa_prepare_entry)(XID* xid, int rmid, long flags);
    int (*xa_commit_entry)(XID* xid, int rmid, long flags);
    int (*xa_recover_entry)(XID* xids, long count, int rmid, long flags);
    int (*xa_forget_entry)(XID* xid, int rmid, long flags);
    int (*xa_complete_entry)(int* handle, int* retval, int rmid, long flags);
};

// Flags.
constexpr long TMNOFLAGS = 0x00000000L;
constexpr long TMSUCCESS = 0x04000000L;
constexpr long TMFAIL = 0x20000000L;

// Return codes.
constexpr int XA_OK = 0;
constexpr int XA_RDONLY = 3;
constexpr int XA_RETRY = 4;
constexpr int XA_HEURMIX = 5;
constexpr int XA_HEURRB = 6;
constexpr int XA_HEURCOM = 7;
constexpr int XA_HEURHAZ = 8;
constexpr int XA_NOMIGRATE = 9;
constexpr int XA_RBROLLBACK = 100;
constexpr int XAER_ASYNC = -2;
constexpr int XAER_RMERR = -3;
constexpr int XAER_NOTA = -4;
constexpr int XAER_INVAL = -5;
constexpr int XAER_PROTO = -6;
constexpr int XAER_RMFAIL = -7;
constexpr int XAER_DUPID = -8;
constexpr int XAER_OUTSIDE = -9;

// True for the heuristic outcomes of a commit or rollback.
constexpr bool XaIsHeuristic(int rc) { return rc >= XA_HEURMIX && rc <= XA_HEURHAZ; }
