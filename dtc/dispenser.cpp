// The resource dispenser, its sink, and the list of live dispensers.
#include "dtc/dispenser.h"

#include <string.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {

// HRESULTs of the driver's own.
constexpr HRESULT E_KVR_AGENT_XA_FAILED = Hr(0x80044001);  // the agent's XA open or start failed
constexpr HRESULT E_KVR_XAINFO_TOO_LONG = Hr(0x80044006);  // the XaInfo value does not fit

// The live dispensers, so that a handle can be checked before it is used. Lives as long as
// the process: a coordinator thread may release a dispenser while the library unloads.
struct DispenserList {
    std::mutex lock;
    std::vector<COdbcResourceDispenser*> live;
};

DispenserList& List() {
    static DispenserList* list = new DispenserList;
    return *list;
}

// Resource manager ids: one per RMConnect in the process, never 0.
std::atomic<int> g_lastRmid{0};

// Keeps the dispenser alive through one request: the coordinator may drop its last
// reference from inside a reply.
class KeepAlive {
public:
    explicit KeepAlive(ITxUnknown* o) : o_(o) { o_->AddRef(); }
    ~KeepAlive() { o_->Release(); }
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;

private:
    ITxUnknown* o_;
};

void AppendBraced(std::string& out, const char* key, const std::string& value) {
    out += key;
    out += "={";
    for (char c : value) {
        out += c;
        if (c == '}')
            out += '}';
    }
    out += "};";
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string DtcConnectText(const std::string& dsn, const std::string& user, const std::string& password) {
    // Room for every value doubled up front: a reallocation would leave a copy of the
    // password in freed memory.
    std::string text;
    text.reserve(2 * (dsn.size() + user.size() + password.size()) + 32);
    AppendBraced(text, "DSN", dsn);
    AppendBraced(text, "UID", user);
    AppendBraced(text, "PWD", password);
    return text;
}

std::string DtcDriverLibraryName(const std::string& dsn) {
    char value[512];
    DtcProfileString(dsn.c_str(), "Driver", "", value, sizeof value, "odbc.ini");
    std::string driver = value;
    if (driver.empty())
        return {};
    // unixODBC lets a data source name its driver by its odbcinst.ini section.
    if (driver.find('/') == std::string::npos) {
        char path[512];
        DtcProfileString(driver.c_str(), "Driver", "", path, sizeof path, "odbcinst.ini");
        if (path[0] != '\0')
            driver = path;
    }
    return BaseName(driver);
}

// ---- the dispenser ----

COdbcResourceDispenser::COdbcResourceDispenser(ITransaction* transaction, const DTC_CONN_LINK& link,
                                               const std::string& dsn, const std::string& user,
                                               const std::string& password)
    : link_(link), dsn_(dsn), connectText_(DtcConnectText(dsn, user, password)), transaction_(transaction) {
    OleTxTrace("COdbcResourceDispenser::COdbcResourceDispenser()");
    {
        // First, as it may run out of memory: nothing is counted or referenced yet.
        DispenserList& list = List();
        std::lock_guard<std::mutex> guard(list.lock);
        list.live.push_back(this);
    }
    transaction_->AddRef();
    DtcCountDispenser(1);
}

COdbcResourceDispenser::WipedString::~WipedString() { explicit_bzero(text.data(), text.size()); }

COdbcResourceDispenser::~COdbcResourceDispenser() {
    OleTxTrace("COdbcResourceDispenser::~COdbcResourceDispenser()");
    // No other reference is left, so nothing else can take the own lock.
    if (state_ == DTC_BRANCH_STARTED)
        AgentXaEnd(Agent(), &xid_, rmid_, TMFAIL);
    ReleaseCallLock();
    if (opened_)
        AgentXaClose(Agent(), xaInfo_.c_str(), rmid_, TMNOFLAGS);
    if (pipe_ != nullptr) {
        if (cookie_ != 0)
            pipe_->ReleaseRMCookie(cookie_, true);
        pipe_->Release();
    }
    if (enlistment_ != nullptr)
        enlistment_->Release();
    transaction_->Release();
    DtcCountDispenser(-1);
}

COdbcResourceDispenser* COdbcResourceDispenser::FromHandle(DTC_DISPENSER handle) {
    if (handle == nullptr)
        return nullptr;
    DispenserList& list = List();
    std::lock_guard<std::mutex> guard(list.lock);
    auto it = std::find(list.live.begin(), list.live.end(), static_cast<COdbcResourceDispenser*>(handle));
    return it != list.live.end() ? *it : nullptr;
}

HRESULT COdbcResourceDispenser::QueryInterface(const TX_GUID& iid, void** out) {
    OleTxTrace("COdbcResourceDispense::QueryInterface()");
    HRESULT hr = S_OK;
    if (out == nullptr) {
        hr = E_INVALIDARG;
    } else if (iid == IID_IUnknown) {
        *out = static_cast<ITxUnknown*>(this);
        AddRef();
    } else if (iid == IID_ITransactionResourceAsync) {
        *out = static_cast<ITransactionResourceAsync*>(&sink_);
        AddRef();
    } else {
        *out = nullptr;
        if (OleTxTraceOn())
            OleTxTrace("%s", InterfaceName(iid).c_str());
        hr = E_NOINTERFACE;
    }
    return TraceHResult(hr);
}

uint32_t COdbcResourceDispenser::AddRef() {
    int32_t n = refs_.fetch_add(1) + 1;
    OleTxTrace("COdbcResourceDispenser::AddRef(), this=%p, m_hConnect=%lX, m_cRef=%d", static_cast<void*>(this),
               static_cast<unsigned long>(link_.agentConn), n);
    TraceHResult(n);
    return static_cast<uint32_t>(n);
}

uint32_t COdbcResourceDispenser::Release() {
    int32_t n = refs_.fetch_sub(1) - 1;
    OleTxTrace("COdbcResourceDispenser::Release(), this=%p, m_hConnect=%lX, m_cRef=%d", static_cast<void*>(this),
               static_cast<unsigned long>(link_.agentConn), n);
    if (n > 0)
        return TraceCount(static_cast<uint32_t>(n));
    {
        DispenserList& list = List();
        std::lock_guard<std::mutex> guard(list.lock);
        list.live.erase(std::remove(list.live.begin(), list.live.end(), this), list.live.end());
    }
    delete this;
    return TraceCount(0);
}

int32_t COdbcResourceDispenser::State() {
    std::lock_guard<std::mutex> guard(ownLock_);
    return state_;
}

HRESULT COdbcResourceDispenser::RMConnect() {
    OleTxTrace("COdbcResourceDispenser::RMConnect()");
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        if (pipe_ != nullptr || connecting_)
            return TraceHResult(E_UNEXPECTED);  // connected already, or connecting
        connecting_ = true;
    }
    ITxUnknown* manager = nullptr;
    HRESULT hr = TxGetTransactionManager(&manager);
    if (SUCCEEDED(hr) && manager == nullptr)
        hr = E_FAIL;
    IDtcToXaHelperSinglePipe* pipe = nullptr;
    if (SUCCEEDED(hr)) {
        hr = manager->QueryInterface(IID_IDtcToXaHelperSinglePipe, reinterpret_cast<void**>(&pipe));
        if (SUCCEEDED(hr) && pipe == nullptr)
            hr = E_NOINTERFACE;
    }
    std::string library;
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::mutex> guard(ownLock_);
        hr = OpenResourceManager(&library);
    }
    // The connect text never changes after construction: read without the own lock.
    uint32_t cookie = 0;
    if (SUCCEEDED(hr))
        hr = pipe->XARMCreate(connectText_.text.c_str(), library.c_str(), &cookie);
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        connecting_ = false;
        if (SUCCEEDED(hr)) {
            pipe_ = pipe;
            cookie_ = cookie;
            pipe = nullptr;
        }
    }
    if (pipe != nullptr)
        pipe->Release();
    if (manager != nullptr)
        manager->Release();
    return TraceHResult(hr);
}

HRESULT COdbcResourceDispenser::OpenResourceManager(std::string* library) {
    try {
        // A counter, not a clock: two dispensers made in one tick must not share an id.
        rmid_ = g_lastRmid.fetch_add(1) + 1;
        char info[XA_INFO_SIZE];
        if (XaInfoLookup(dsn_.c_str(), info, sizeof info) == 0)
            return E_KVR_XAINFO_TOO_LONG;
        xaInfo_ = info;
        if (AgentXaOpen(Agent(), xaInfo_.c_str(), rmid_, TMNOFLAGS) != XA_OK)
            return E_KVR_AGENT_XA_FAILED;
        opened_ = true;
        *library = DtcDriverLibraryName(dsn_);
        return library->empty() ? E_FAIL : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;  // an open resource manager is closed at destruction
    }
}

HRESULT COdbcResourceDispenser::RMEnlist() {
    OleTxTrace("COdbcResourceDispenser::RMEnlist()");
    IDtcToXaHelperSinglePipe* pipe = nullptr;
    uint32_t cookie = 0;
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        if (pipe_ == nullptr || state_ != DTC_BRANCH_NONE || enlistment_ != nullptr || enlisting_)
            return TraceHResult(E_UNEXPECTED);  // not connected, or enlisted already
        enlisting_ = true;
        pipe = pipe_;
        cookie = cookie_;
    }
    XID xid{};
    HRESULT hr = pipe->ConvertTridToXID(transaction_, cookie, &xid);
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::mutex> guard(ownLock_);
        xid_ = xid;
        if (AgentXaStart(Agent(), &xid_, rmid_, TMNOFLAGS) != XA_OK)
            hr = E_KVR_AGENT_XA_FAILED;
        else
            state_ = DTC_BRANCH_STARTED;
    }
    // From here the coordinator may send requests, before it has handed the enlistment over.
    ITransactionEnlistmentAsync* enlistment = nullptr;
    if (SUCCEEDED(hr))
        hr = pipe->EnlistWithRM(cookie, transaction_, &sink_, &enlistment);
    std::array<PendingReply, 4> replies;
    size_t count = 0;
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        enlisting_ = false;
        enlistment_ = enlistment;
        replies = pending_;
        count = pendingCount_;
        pendingCount_ = 0;
    }
    if (SUCCEEDED(hr) && enlistment != nullptr)
        for (size_t i = 0; i < count; ++i)
            Send(enlistment, replies[i]);
    return TraceHResult(hr);
}

void COdbcResourceDispenser::Send(ITransactionEnlistmentAsync* enlistment, const PendingReply& reply) {
    switch (reply.kind) {
    case Reply::kPrepare: enlistment->PrepareRequestDone(reply.hr, nullptr, nullptr); break;
    case Reply::kCommit: enlistment->CommitRequestDone(reply.hr); break;
    case Reply::kAbort: enlistment->AbortRequestDone(reply.hr); break;
    }
}

void COdbcResourceDispenser::Answer(Reply kind, HRESULT hr) {
    ITransactionEnlistmentAsync* enlistment = nullptr;
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        if (enlisting_) {
            if (pendingCount_ < pending_.size())
                pending_[pendingCount_++] = PendingReply{kind, hr};
            return;
        }
        enlistment = enlistment_;
    }
    if (enlistment != nullptr)
        Send(enlistment, PendingReply{kind, hr});
}

void COdbcResourceDispenser::ReleaseCallLock() {
    if (holdsCallLock_) {
        link_.callLock->ReleaseHandoff();
        holdsCallLock_ = false;
    }
}

HRESULT COdbcResourceDispenser::Prepare(bool fSinglePhase) {
    KeepAlive alive(this);
    OleTxTrace("CImpITransactionResourceAsync::PrepareRequest(fSinglePhase=%d)", fSinglePhase ? 1 : 0);
    HRESULT hr = E_FAIL;
    bool prepared = false;
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        // Only a started branch is ended first; an ended one goes straight to prepare; any
        // other state has nothing to prepare.
        int r = XAER_PROTO;
        if (state_ == DTC_BRANCH_STARTED) {
            r = AgentXaEnd(Agent(), &xid_, rmid_, TMSUCCESS);
            if (r == XA_OK)
                state_ = DTC_BRANCH_ENDED;
        } else if (state_ == DTC_BRANCH_ENDED) {
            r = XA_OK;
        }
        if (r == XA_OK) {
            r = AgentXaPrepare(Agent(), &xid_, rmid_, TMNOFLAGS);
            if (r == XA_OK) {
                state_ = DTC_BRANCH_PREPARED;
                prepared = true;
            } else {
                state_ = r == XAER_RMERR ? DTC_BRANCH_ENDED : DTC_BRANCH_NONE;
            }
            hr = r == XA_OK ? S_OK : r == XA_RDONLY ? XACT_S_READONLY : E_FAIL;
        }
    }
    if (prepared) {
        // Until the commit or abort no ODBC call may run on the connection. The wait for a
        // running call is made without the own lock, which that call may need (an
        // enlistment in progress); what came meanwhile is looked at after it.
        link_.callLock->HoldForHandoff();
        std::lock_guard<std::mutex> guard(ownLock_);
        if (state_ == DTC_BRANCH_PREPARED && !holdsCallLock_)
            holdsCallLock_ = true;
        else
            link_.callLock->ReleaseHandoff();  // the branch ended meanwhile
    }
    Answer(Reply::kPrepare, hr);
    return TraceHResult(hr);
}

HRESULT COdbcResourceDispenser::Commit() {
    KeepAlive alive(this);
    OleTxTrace("CImpITransactionResourceAsync::CommitRequest()");
    HRESULT hr = E_FAIL;
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        int r = AgentXaCommit(Agent(), &xid_, rmid_, TMNOFLAGS);
        if (r == XA_RETRY) {
            // Still prepared: the branch keeps the connection closed until the commit is retried.
            state_ = DTC_BRANCH_PREPARED;
        } else {
            ReleaseCallLock();
            state_ = r == XA_OK ? DTC_BRANCH_NONE : XaIsHeuristic(r) ? DTC_BRANCH_HEURISTIC : DTC_BRANCH_NONE;
            hr = r == XA_OK ? S_OK : E_FAIL;
        }
    }
    Answer(Reply::kCommit, hr);
    return TraceHResult(hr);
}

HRESULT COdbcResourceDispenser::Abort() {
    KeepAlive alive(this);
    OleTxTrace("CImpITransactionResourceAsync::AbortRequest()");
    HRESULT hr = E_FAIL;
    {
        std::lock_guard<std::mutex> guard(ownLock_);
        int r = XA_OK;
        if (state_ == DTC_BRANCH_STARTED) {
            r = AgentXaEnd(Agent(), &xid_, rmid_, TMSUCCESS);
            if (r == XA_OK)
                state_ = DTC_BRANCH_ENDED;
        }
        if (r == XA_OK)
            r = AgentXaRollback(Agent(), &xid_, rmid_, TMNOFLAGS);
        ReleaseCallLock();
        state_ = XaIsHeuristic(r) ? DTC_BRANCH_HEURISTIC : DTC_BRANCH_NONE;
        hr = r == XA_OK ? S_OK : E_FAIL;
    }
    Answer(Reply::kAbort, hr);
    return TraceHResult(hr);
}

HRESULT COdbcResourceDispenser::Down() {
    KeepAlive alive(this);
    OleTxTrace("CImpITransactionResourceAsync::TMDown()");
    std::lock_guard<std::mutex> guard(ownLock_);
    int r = AgentXaRollback(Agent(), &xid_, rmid_, TMNOFLAGS);
    // No commit or abort will come: a prepared branch must not keep the connection closed.
    ReleaseCallLock();
    state_ = DTC_BRANCH_NONE;
    return TraceHResult(r == XA_OK ? S_OK : E_FAIL);
}

// ---- the sink ----

HRESULT CImpITransactionResourceAsync::QueryInterface(const TX_GUID& iid, void** out) {
    return owner_->QueryInterface(iid, out);
}
uint32_t CImpITransactionResourceAsync::AddRef() { return owner_->AddRef(); }
uint32_t CImpITransactionResourceAsync::Release() { return owner_->Release(); }
HRESULT CImpITransactionResourceAsync::PrepareRequest(bool, uint32_t, bool, bool fSinglePhase) {
    return owner_->Prepare(fSinglePhase);
}
HRESULT CImpITransactionResourceAsync::CommitRequest(uint32_t, const void*) { return owner_->Commit(); }
HRESULT CImpITransactionResourceAsync::AbortRequest(const void*, bool, const void*) { return owner_->Abort(); }
HRESULT CImpITransactionResourceAsync::TMDown() { return owner_->Down(); }
