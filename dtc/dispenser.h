// The resource dispenser of one enlisted connection and the sink through which the
// coordinator drives its XA branch.
//
// COdbcResourceDispenser opens the agent's XA resource manager, registers it with the
// coordinator's XA helper pipe, turns the coordinator's transaction into an XID, starts
// the branch and enlists its sink. The coordinator then calls the sink's PrepareRequest,
// CommitRequest, AbortRequest and TMDown on its own threads; the sink maps them onto XA
// end, prepare, commit and rollback. From a successful prepare until the commit or abort
// the branch holds the connection's call lock, so no ODBC call runs on the connection.
//
// The own lock guards the dispenser's state and is held around the agent's XA calls, but
// never while the dispenser calls the coordinator or waits for the call lock: a
// coordinator may call back from inside any of its calls, on this thread or another. So
// RMConnect and RMEnlist mark themselves in progress and work on copies; a prepare gives
// the own lock up while it waits for the call lock and looks at the state again once it
// has it; and the replies go out after the lock is given up, or, for a request that came
// during the enlistment before the coordinator handed over the enlistment, once it has.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "dtc/dtc.h"
#include "dtc/xa_runtime.h"

class COdbcResourceDispenser;

// Branch states.
constexpr int32_t DTC_BRANCH_NONE = 0;      // no XA branch active
constexpr int32_t DTC_BRANCH_STARTED = 1;   // XA start succeeded
constexpr int32_t DTC_BRANCH_ENDED = 2;     // XA end succeeded (or prepare answered XAER_RMERR)
constexpr int32_t DTC_BRANCH_PREPARED = 3;  // XA prepare succeeded; the call lock is held
constexpr int32_t DTC_BRANCH_HEURISTIC = 5; // commit or rollback answered a heuristic outcome

// The coordinator's view of a dispenser. Its reference counting is the owner's.
class CImpITransactionResourceAsync final : public ITransactionResourceAsync {
public:
    explicit CImpITransactionResourceAsync(COdbcResourceDispenser* owner) : owner_(owner) {}

    HRESULT QueryInterface(const TX_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    HRESULT PrepareRequest(bool fRetaining, uint32_t grfRM, bool fWantMoniker, bool fSinglePhase) override;
    HRESULT CommitRequest(uint32_t grfRM, const void* newUnitOfWork) override;
    HRESULT AbortRequest(const void* reason, bool fRetaining, const void* newUnitOfWork) override;
    HRESULT TMDown() override;

private:
    COdbcResourceDispenser* owner_;
};

class COdbcResourceDispenser final : public ITxUnknown {
public:
    // State 0 and no reference: the creator adds the first. Takes a reference on the
    // transaction for the dispenser's life.
    COdbcResourceDispenser(ITransaction* transaction, const DTC_CONN_LINK& link, const std::string& dsn,
                           const std::string& user, const std::string& password);

    HRESULT QueryInterface(const TX_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    // At 0 the dispenser leaves the list of live dispensers and is deleted.
    uint32_t Release() override;

    HRESULT RMConnect();
    HRESULT RMEnlist();

    // The live dispenser behind a handle, or null.
    static COdbcResourceDispenser* FromHandle(DTC_DISPENSER handle);

    int32_t State();

private:
    friend class CImpITransactionResourceAsync;
    ~COdbcResourceDispenser();

    // A reply to the coordinator's enlistment.
    enum class Reply : uint8_t { kPrepare, kCommit, kAbort };
    struct PendingReply {
        Reply kind;
        HRESULT hr;
    };
    // A string wiped before its memory goes back, on every path.
    struct WipedString {
        explicit WipedString(std::string s) : text(std::move(s)) {}
        ~WipedString();
        std::string text;
    };

    XA_AGENT Agent() { return XA_AGENT{&link_.holder, link_.agentConn, link_.xaCallLock.get()}; }
    // Give up the call lock when this branch holds it. Own lock held.
    void ReleaseCallLock();
    // The agent's XA open and the client library's name: the part of RMConnect that needs
    // no coordinator. Own lock held.
    HRESULT OpenResourceManager(std::string* library);
    // Sends the reply, or keeps it while the enlistment is in progress. Own lock not held.
    void Answer(Reply kind, HRESULT hr);
    static void Send(ITransactionEnlistmentAsync* enlistment, const PendingReply& reply);

    HRESULT Prepare(bool fSinglePhase);
    HRESULT Commit();
    HRESULT Abort();
    HRESULT Down();

    std::atomic<int32_t> refs_{0};
    std::mutex ownLock_;  // guards what follows; see the file's opening comment
    CImpITransactionResourceAsync sink_{this};
    DTC_CONN_LINK link_;
    std::string dsn_;
    WipedString connectText_;  // "DSN={..};UID={..};PWD={..};"
    int rmid_ = 0;
    bool opened_ = false;
    bool connecting_ = false;  // RMConnect is calling the coordinator
    bool enlisting_ = false;   // RMEnlist is calling the coordinator
    std::string xaInfo_;
    int32_t state_ = DTC_BRANCH_NONE;
    bool holdsCallLock_ = false;
    ITransaction* transaction_;
    uint32_t cookie_ = 0;
    XID xid_{};
    // Set once by RMConnect and RMEnlist, released only at destruction: read without the
    // own lock once set.
    IDtcToXaHelperSinglePipe* pipe_ = nullptr;
    ITransactionEnlistmentAsync* enlistment_ = nullptr;
    // Replies to requests that came while the enlistment was in progress; more than a
    // branch's requests can produce are dropped.
    std::array<PendingReply, 4> pending_{};
    size_t pendingCount_ = 0;
};

// The connect text the coordinator's resource manager connects with: each value braced,
// so that no value can add a keyword.
std::string DtcConnectText(const std::string& dsn, const std::string& user, const std::string& password);

// The client library named in the data source's "Driver" value (the driver's own
// odbcinst.ini section when it names one), as its file name: the part after the last '/',
// case kept. Empty when there is none.
std::string DtcDriverLibraryName(const std::string& dsn);
