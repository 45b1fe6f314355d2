// The plain functions the connection calls, and the enlistment sequence of
// SQL_ATTR_ENLIST_IN_DTC.
#include "dtc/dtc.h"

#include <new>

#include "dtc/dispenser.h"
#include "dtc/xa_runtime.h"
#include "util/errcode.h"

DTC_DISPENSER NewResourceDispenser(ITransaction* transaction, const DTC_CONN_LINK& link, const std::string& dsn,
                                   const std::string& user, const std::string& password) {
    if (transaction == nullptr || link.callLock == nullptr || link.xaCallLock == nullptr)
        return nullptr;
    try {
        // Its copies of the names and the connect text may run out of memory as well.
        auto* d = new COdbcResourceDispenser(transaction, link, dsn, user, password);
        d->AddRef();
        return static_cast<DTC_DISPENSER>(d);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int ReleaseResourceDispenser(DTC_DISPENSER dispenser) {
    COdbcResourceDispenser* d = COdbcResourceDispenser::FromHandle(dispenser);
    return d != nullptr ? static_cast<int>(d->Release()) : -1;
}

int ResourceDispenserRMConnect(DTC_DISPENSER dispenser) {
    COdbcResourceDispenser* d = COdbcResourceDispenser::FromHandle(dispenser);
    return d != nullptr && SUCCEEDED(d->RMConnect()) ? 0 : -1;
}

int ResourceDispenserRMEnlist(DTC_DISPENSER dispenser) {
    COdbcResourceDispenser* d = COdbcResourceDispenser::FromHandle(dispenser);
    return d != nullptr && SUCCEEDED(d->RMEnlist()) ? 0 : -1;
}

int DtcSetEnlistment(DTC_DISPENSER* dispenser, int32_t* enlisted, const DTC_ENLIST_TARGET& target,
                     ITransaction* transaction) {
    // An agent without XA operations is refused before the runtime, the coordinator or
    // the agent is asked anything.
    if (target.odbcVersion < 3 || !target.link.hasXA)
        return ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION;
    if (!target.connected)
        return ERR_CONNECTION_NOT_OPEN;
    if (transaction == nullptr) {
        if (*enlisted == 0)
            return ERR_INVALID_TRANSACTION_STATE;
        ReleaseResourceDispenser(*dispenser);
        *dispenser = nullptr;
        *enlisted = 0;
        return 0;
    }
    // The branch of the current transaction belongs to that transaction until it ends;
    // another one needs the connection un-enlisted first.
    if (*enlisted != 0)
        return ERR_INVALID_TRANSACTION_STATE;
    if (OleTxInit() != 0)
        return ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED;
    if (*dispenser != nullptr) {
        ReleaseResourceDispenser(*dispenser);
        *dispenser = nullptr;
    }
    DTC_DISPENSER d = NewResourceDispenser(transaction, target.link, target.dsn, target.user, target.password);
    if (d == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (ResourceDispenserRMConnect(d) != 0 || ResourceDispenserRMEnlist(d) != 0) {
        ReleaseResourceDispenser(d);
        return ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED;
    }
    *dispenser = d;
    *enlisted = 1;
    return 0;
}

int DtcReleaseEnlistment(DTC_DISPENSER* dispenser, int32_t* enlisted) {
    int refs = *dispenser != nullptr ? ReleaseResourceDispenser(*dispenser) : 0;
    *dispenser = nullptr;
    *enlisted = 0;
    return refs > 0 ? ERR_INVALID_TRANSACTION_STATE : 0;
}
