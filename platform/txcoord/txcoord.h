// The transaction coordinator as the distributed-transaction code sees it.
//
// Linux has no Windows transaction coordinator and no COM. These are our own small
// interfaces for exactly what the resource dispenser asks of a coordinator: the
// transaction manager, its XA helper pipe, the transaction and enlistment objects, and the
// reference counting they share. Their results are HRESULTs with COM's values, which the
// XA trace names.
//
// The coordinator itself is a replaceable provider. By default there is none: asking for
// the transaction manager answers XACT_E_TMNOTAVAILABLE, so every enlistment fails. A
// coordinator (or a test's fake) installs itself with TxCoordInstall.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/txcoord/xa.h"

using HRESULT = int32_t;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT Hr(uint32_t v) { return static_cast<HRESULT>(v); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT XACT_S_READONLY = Hr(0x0004D002);
constexpr HRESULT E_NOTIMPL = Hr(0x80004001);
constexpr HRESULT E_NOINTERFACE = Hr(0x80004002);
constexpr HRESULT E_FAIL = Hr(0x80004005);
constexpr HRESULT E_UNEXPECTED = Hr(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = Hr(0x8007000E);
constexpr HRESULT E_INVALIDARG = Hr(0x80070057);
constexpr HRESULT XACT_E_TMNOTAVAILABLE = Hr(0x8004D01B);

// An interface id, laid out as a COM GUID.
struct TX_GUID {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];

    friend constexpr bool operator==(const TX_GUID& a, const TX_GUID& b) {
        if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.data4[i] != b.data4[i])
                return false;
        return true;
    }
};

// {00000000-0000-0000-C000-000000000046}
constexpr TX_GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {69E971F0-23CE-11CF-AD60-00AA00A74CCD}
constexpr TX_GUID IID_ITransactionResourceAsync = {
    0x69E971F0, 0x23CE, 0x11CF, {0xAD, 0x60, 0x00, 0xAA, 0x00, 0xA7, 0x4C, 0xCD}};
// {47ED4971-53B3-11D1-BBB9-00C04FD658F6}
constexpr TX_GUID IID_IDtcToXaHelperSinglePipe = {
    0x47ED4971, 0x53B3, 0x11D1, {0xBB, 0xB9, 0x00, 0xC0, 0x4F, 0xD6, 0x58, 0xF6}};

// Reference counting and interface look-up, shared by every object below. An out pointer
// that a call fills carries one reference, which its receiver releases.
class ITxUnknown {
public:
    virtual HRESULT QueryInterface(const TX_GUID& iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~ITxUnknown() = default;  // objects go through Release
};

// The coordinator's transaction: the driver only hands it back to the XA helper pipe.
class ITransaction : public ITxUnknown {
protected:
    ~ITransaction() = default;
};

// The coordinator's side of one enlistment: where a resource manager answers the
// coordinator's requests.
class ITransactionEnlistmentAsync : public ITxUnknown {
public:
    virtual HRESULT PrepareRequestDone(HRESULT hr, void* moniker, void* reserved) = 0;
    virtual HRESULT CommitRequestDone(HRESULT hr) = 0;
    virtual HRESULT AbortRequestDone(HRESULT hr) = 0;

protected:
    ~ITransactionEnlistmentAsync() = default;
};

// The resource manager's side of one enlistment: the coordinator's requests, on the
// coordinator's threads.
class ITransactionResourceAsync : public ITxUnknown {
public:
    virtual HRESULT PrepareRequest(bool fRetaining, uint32_t grfRM, bool fWantMoniker, bool fSinglePhase) = 0;
    virtual HRESULT CommitRequest(uint32_t grfRM, const void* newUnitOfWork) = 0;
    virtual HRESULT AbortRequest(const void* reason, bool fRetaining, const void* newUnitOfWork) = 0;
    virtual HRESULT TMDown() = 0;

protected:
    ~ITransactionResourceAsync() = default;
};

// The transaction manager's helper for XA resource managers.
class IDtcToXaHelperSinglePipe : public ITxUnknown {
public:
    // Registers a resource manager reached by the connect text through the client library
    // named; fills the resource manager's cookie.
    virtual HRESULT XARMCreate(const char* connectText, const char* clientLibrary, uint32_t* cookie) = 0;
    // The XA branch id of the transaction for the resource manager.
    virtual HRESULT ConvertTridToXID(ITransaction* transaction, uint32_t cookie, XID* xid) = 0;
    // Enlists the resource manager's sink in the transaction; fills the enlistment.
    virtual HRESULT EnlistWithRM(uint32_t cookie, ITransaction* transaction, ITransactionResourceAsync* sink,
                                 ITransactionEnlistmentAsync** enlistment) = 0;
    // Forgets the resource manager; normal is false when it goes after a failure.
    virtual void ReleaseRMCookie(uint32_t cookie, bool normal) = 0;

protected:
    ~IDtcToXaHelperSinglePipe() = default;
};

// The provider: fills *manager with the transaction manager (one reference), which answers
// QueryInterface for IID_IDtcToXaHelperSinglePipe.
using TxGetTransactionManagerFn = HRESULT (*)(ITxUnknown** manager);

inline HRESULT TxNoCoordinator(ITxUnknown** manager) {
    if (manager != nullptr)
        *manager = nullptr;
    return XACT_E_TMNOTAVAILABLE;
}

inline std::atomic<TxGetTransactionManagerFn> g_txCoordProvider{TxNoCoordinator};

// Installs the coordinator; null restores the default, which has none.
inline void TxCoordInstall(TxGetTransactionManagerFn provider) {
    g_txCoordProvider.store(provider != nullptr ? provider : TxNoCoordinator);
}

inline HRESULT TxGetTransactionManager(ITxUnknown** manager) {
    return g_txCoordProvider.load()(manager);
}
