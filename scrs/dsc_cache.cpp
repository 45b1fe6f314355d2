// The dataset cache and its file codec (scrs/dsc_cache.h).
//
// Value encodings in a row record (after the 4-byte indicator):
//   0                     nothing
//   1, 14, 17, 24, 25     the whole element (width bytes)
//   2, 6 / 3              4 bytes, the u8 widened with zeros / the i8 with the sign
//   4 / 7                 4 bytes, the i16 widened with the sign / the u16 with zeros
//   5, 8, 9               4 bytes as in memory
//   10                    8 bytes as in memory
//   11 DATE               12: year (sign), month, day (zeros), 4 bytes each
//   12 TIME               12: hour, minute, second, 4 bytes each
//   13 TIMESTAMP          28: year (sign), five u16 fields (zeros), then the u32 fraction
//   15, 16 / 26           4-byte length, then length bytes / 2 x count bytes
//   18, 21 / 19, 22       4-byte length, then the bytes after the element's 1- / 2-byte prefix
//   20, 23 / 27           4-byte length, then length bytes / 2 x count bytes
// Write and read check the same column rules (WidthFits, MaxLength), so whatever one side
// refuses the other never has to meet.
#include "scrs/dsc_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "drv_pro9/oa_services.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

constexpr size_t kStreamBuffer = 64 * 1024;   // stdio buffer of each temporary file
constexpr size_t kChunk = 64 * 1024;          // bytes of records gathered before one fwrite
constexpr size_t kIndexChunk = 8192;          // index entries gathered before one fwrite
constexpr uint32_t kMaxWidth = 1u << 28;      // no element of a sane column is wider
constexpr int64_t kHeaderSize = 8;
constexpr int kMaxCreateTries = 1000;

std::string g_tempFolder;  // test seam; empty: $TMPDIR, else /tmp

uint32_t PrefixOf(int32_t type) {
    switch (type) {
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        return 1;
    case DS_VARCHAR16:
    case DS_VARBINARY16:
        return 2;
    case DS_VARCHAR32:
    case DS_VARBINARY32:
    case DS_WVARCHAR32:
        return 4;
    default:
        return 0;
    }
}

// Whether a column of this type and width can be coded: fixed types have their own
// width, by-reference types hold the 16-byte reference, text and binary a sane width
// that holds at least the length prefix.
bool WidthFits(int32_t type, uint32_t width) {
    switch (type) {
    case DS_NONE:
        return width <= kMaxWidth;
    case DS_BIT:
    case DS_STINYINT:
    case DS_SSHORT:
    case DS_SLONG:
    case DS_UTINYINT:
    case DS_USHORT:
    case DS_ULONG:
    case DS_FLOAT:
    case DS_DOUBLE:
    case DS_DATE:
    case DS_TIME:
    case DS_TIMESTAMP:
        return width == ds_TypeWidth(type, 0);
    case DS_LONGCHAR:
    case DS_LONGBINARY:
    case DS_LONGWCHAR:
        return width == sizeof(DS_REFVAL);
    case DS_CHAR:
    case DS_BINARY:
    case DS_CHARZ:
    case DS_WCHAR:
    case DS_WCHARZ:
        return width > 0 && width <= kMaxWidth;
    case DS_VARCHAR8:
    case DS_VARBINARY8:
    case DS_VARCHAR16:
    case DS_VARBINARY16:
    case DS_VARCHAR32:
    case DS_VARBINARY32:
    case DS_WVARCHAR32:
        return width >= PrefixOf(type) && width <= kMaxWidth;
    default:
        return false;  // 28 and above have no encoding
    }
}

// The largest length a length-prefixed element of this column holds (characters for 27).
uint32_t MaxLength(int32_t type, uint32_t width) {
    uint32_t room = width - PrefixOf(type);
    switch (type) {
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        return std::min<uint32_t>(room, 0xFF);
    case DS_VARCHAR16:
    case DS_VARBINARY16:
        return std::min<uint32_t>(room, 0xFFFF);
    case DS_WVARCHAR32:
        return room / 2;
    default:
        return room;
    }
}

bool ColumnUsable(const DATASET_COL& col, int32_t rows) {
    return WidthFits(col.type, col.width) && (rows == 0 || (col.data != nullptr && col.indicators != nullptr));
}

// ---- write side: records gathered in memory, written in large chunks ----------------------

class Writer {
public:
    Writer(FILE* data, FILE* index, int64_t offset) : data_(data), index_(index), pos_(offset) {
        out_.reserve(kChunk + 4096);
        idx_.reserve(kIndexChunk);
    }

    void Put4(uint32_t v) { PutBytes(&v, 4); }
    void PutBytes(const void* p, size_t n) {
        // Appended as a copy: resizing first would zero the bytes only to overwrite them.
        const auto* bytes = static_cast<const unsigned char*>(p);
        out_.insert(out_.end(), bytes, bytes + n);
    }

    // One row record of every column; false when a value breaks its column's rules.
    bool Row(const DATASET* ds, int32_t row) {
        idx_.push_back(pos_);
        size_t before = out_.size();
        for (uint16_t c = 0; c < ds->colsUsed; ++c) {
            if (!Value(&ds->cols[c], row))
                return false;
        }
        pos_ += static_cast<int64_t>(out_.size() - before);
        return (out_.size() < kChunk || FlushData()) && (idx_.size() < kIndexChunk || FlushIndex());
    }

    bool Finish() { return FlushData() && FlushIndex(); }

private:
    bool Value(const DATASET_COL* col, int32_t row) {
        int16_t ind = col->indicators[row];
        Put4(static_cast<uint32_t>(static_cast<int32_t>(ind)));
        if (ind < 0)  // NULL and every other mark stand alone
            return true;
        const unsigned char* e = ds_Elem(col, row);
        auto u16 = [&](size_t at) {
            uint16_t v;
            std::memcpy(&v, e + at, 2);
            return static_cast<uint32_t>(v);
        };
        auto s16 = [&](size_t at) {
            int16_t v;
            std::memcpy(&v, e + at, 2);
            return static_cast<uint32_t>(static_cast<int32_t>(v));
        };
        switch (col->type) {
        case DS_NONE:
            return true;
        case DS_CHAR:
        case DS_BINARY:
        case DS_CHARZ:
        case DS_WCHAR:
        case DS_WCHARZ:
            PutBytes(e, col->width);
            return true;
        case DS_BIT:
        case DS_UTINYINT:
            Put4(e[0]);
            return true;
        case DS_STINYINT:
            Put4(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(e[0]))));
            return true;
        case DS_SSHORT:
            Put4(s16(0));
            return true;
        case DS_USHORT:
            Put4(u16(0));
            return true;
        case DS_SLONG:
        case DS_ULONG:
        case DS_FLOAT:
            PutBytes(e, 4);
            return true;
        case DS_DOUBLE:
            PutBytes(e, 8);
            return true;
        case DS_DATE:
            Put4(s16(0));
            Put4(u16(2));
            Put4(u16(4));
            return true;
        case DS_TIME:
            Put4(u16(0));
            Put4(u16(2));
            Put4(u16(4));
            return true;
        case DS_TIMESTAMP:
            Put4(s16(0));
            for (size_t at = 2; at < 12; at += 2)
                Put4(u16(at));
            PutBytes(e + 12, 4);
            return true;
        case DS_LONGCHAR:
        case DS_LONGBINARY:
        case DS_LONGWCHAR: {
            DS_REFVAL ref;
            std::memcpy(&ref, e, sizeof ref);
            size_t bytes = col->type == DS_LONGWCHAR ? 2 * static_cast<size_t>(ref.length) : ref.length;
            if (bytes > 0 && ref.data == nullptr)
                return false;
            Put4(ref.length);
            PutBytes(ref.data, bytes);
            return true;
        }
        default: {  // length-prefixed
            uint32_t prefix = PrefixOf(col->type);
            uint32_t len;
            if (prefix == 1)
                len = e[0];
            else if (prefix == 2)
                len = u16(0);
            else
                std::memcpy(&len, e, 4);
            if (len > MaxLength(col->type, col->width))
                return false;
            Put4(len);
            PutBytes(e + prefix, col->type == DS_WVARCHAR32 ? 2 * static_cast<size_t>(len) : len);
            return true;
        }
        }
    }

    bool FlushData() {
        if (!out_.empty() && std::fwrite(out_.data(), out_.size(), 1, data_) != 1)
            return false;
        out_.clear();
        return true;
    }
    bool FlushIndex() {
        if (!idx_.empty() && std::fwrite(idx_.data(), idx_.size() * sizeof(int64_t), 1, index_) != 1)
            return false;
        idx_.clear();
        return true;
    }

    FILE* data_;
    FILE* index_;
    int64_t pos_;
    std::vector<unsigned char> out_;
    std::vector<int64_t> idx_;
};

bool WriteRows(FILE* data, FILE* index, const DATASET* ds, int32_t start, int32_t n, int64_t offset) {
    Writer w(data, index, offset);
    for (int32_t r = start; r < start + n; ++r) {
        if (!w.Row(ds, r))
            return false;
    }
    return w.Finish();
}

bool WriteHeader(FILE* data, uint32_t cols, int32_t rows) {
    uint32_t head[2] = {cols, static_cast<uint32_t>(rows)};
    return fseeko(data, 0, SEEK_SET) == 0 && std::fwrite(head, sizeof head, 1, data) == 1;
}

// ---- read side -----------------------------------------------------------------------------

bool Get(FILE* f, void* p, size_t n) { return n == 0 || fread_unlocked(p, n, 1, f) == 1; }

// The header and the descriptors; the data file then stands after them.
bool ReadHead(FILE* data, uint32_t* cols, int32_t* rows, DSC_LAYOUT* layout) {
    uint32_t head[2];
    if (fseeko(data, 0, SEEK_SET) != 0 || !Get(data, head, sizeof head))
        return false;
    *cols = head[0];
    *rows = static_cast<int32_t>(head[1]);
    if (*cols == 0 || *cols > UINT16_MAX || *rows < 0)
        return false;
    std::vector<uint32_t> desc(2 * static_cast<size_t>(*cols));
    if (!Get(data, desc.data(), desc.size() * 4))
        return false;
    layout->resize(*cols);
    for (uint32_t c = 0; c < *cols; ++c) {
        DSC_COLUMN col{static_cast<int32_t>(desc[2 * c]), desc[2 * c + 1]};
        if (!WidthFits(col.type, col.width))
            return false;
        (*layout)[c] = col;
    }
    return true;
}

// Reads one window's values from the data file through a buffer of its own with pread: a
// window is thousands of small values, each too cheap for a stream call of its own, and
// pread leaves the stream's position alone. A value larger than the buffer is read straight
// into its place.
class Reader {
public:
    Reader(int fd, int64_t at, int64_t fileSize) : fd_(fd), pos_(at), fileSize_(fileSize) {}

    bool Value(DATASET_COL* col, int32_t row) {
        uint32_t raw;
        if (!Get4(&raw))
            return false;
        auto ind32 = static_cast<int32_t>(raw);
        if (ind32 < INT16_MIN || ind32 > INT16_MAX)
            return false;
        col->indicators[row] = static_cast<int16_t>(ind32);
        if (ind32 < 0)
            return true;
        unsigned char* e = ds_Elem(col, row);
        uint32_t v;
        auto low16 = [&](size_t at) {
            if (!Get4(&v))
                return false;
            auto s = static_cast<uint16_t>(v);
            std::memcpy(e + at, &s, 2);
            return true;
        };
        switch (col->type) {
        case DS_NONE:
            return true;
        case DS_CHAR:
        case DS_BINARY:
        case DS_CHARZ:
        case DS_WCHAR:
        case DS_WCHARZ:
            return Get(e, col->width);
        case DS_BIT:
        case DS_UTINYINT:
        case DS_STINYINT:
            if (!Get4(&v))
                return false;
            e[0] = static_cast<unsigned char>(v);
            return true;
        case DS_SSHORT:
        case DS_USHORT:
            return low16(0);
        case DS_SLONG:
        case DS_ULONG:
        case DS_FLOAT:
            return Get(e, 4);
        case DS_DOUBLE:
            return Get(e, 8);
        case DS_DATE:
        case DS_TIME:
            return low16(0) && low16(2) && low16(4);
        case DS_TIMESTAMP:
            for (size_t at = 0; at < 12; at += 2) {
                if (!low16(at))
                    return false;
            }
            return Get(e + 12, 4);
        case DS_LONGCHAR:
        case DS_LONGBINARY:
        case DS_LONGWCHAR: {
            if (!Get4(&v))
                return false;
            bool wide = col->type == DS_LONGWCHAR;
            uint64_t bytes = wide ? 2 * static_cast<uint64_t>(v) : v;
            if (static_cast<int64_t>(bytes) > fileSize_)  // a damaged length
                return false;
            size_t alloc = col->type == DS_LONGCHAR ? bytes + 1 : wide ? bytes + 2 : bytes;
            DS_REFVAL ref{v, nullptr};
            if (alloc > 0) {
                ref.data = uh_Malloc(alloc);
                if (ref.data == nullptr)
                    return false;
                std::memset(static_cast<unsigned char*>(ref.data) + bytes, 0, alloc - bytes);
            }
            // The block is the dataset's from here, so a failed read below frees it.
            std::memcpy(e, &ref, sizeof ref);
            return Get(ref.data, bytes);
        }
        default: {
            if (!Get4(&v) || v > MaxLength(col->type, col->width))
                return false;
            uint32_t prefix = PrefixOf(col->type);
            if (prefix == 1) {
                e[0] = static_cast<unsigned char>(v);
            } else if (prefix == 2) {
                auto s = static_cast<uint16_t>(v);
                std::memcpy(e, &s, 2);
            } else {
                std::memcpy(e, &v, 4);
            }
            return Get(e + prefix, col->type == DS_WVARCHAR32 ? 2 * static_cast<size_t>(v) : v);
        }
        }
    }

private:
    static constexpr size_t kBufSize = 64 * 1024;

    // Most of a window is 4-byte fields: a copy of constant size the compiler makes inline.
    bool Get4(uint32_t* v) {
        if (end_ - at_ >= 4) {
            std::memcpy(v, buf_.get() + at_, 4);
            at_ += 4;
            return true;
        }
        return GetSlow(reinterpret_cast<unsigned char*>(v), 4);
    }

    bool Get(void* p, size_t n) {
        if (n <= end_ - at_) {
            if (n != 0)
                std::memcpy(p, buf_.get() + at_, n);
            at_ += n;
            return true;
        }
        return GetSlow(static_cast<unsigned char*>(p), n);
    }

    bool GetSlow(unsigned char* out, size_t n) {
        for (;;) {
            const size_t take = std::min(n, end_ - at_);
            if (take != 0)
                std::memcpy(out, buf_.get() + at_, take);
            at_ += take;
            out += take;
            n -= take;
            if (n == 0)
                return true;
            if (n >= kBufSize)
                return ReadAt(out, n);
            at_ = end_ = 0;
            const ssize_t got = PreadSome(buf_.get(), kBufSize);
            if (got <= 0)
                return false;  // the file ends inside a value: damaged
            end_ = static_cast<size_t>(got);
        }
    }

    bool ReadAt(unsigned char* out, size_t n) {
        while (n > 0) {
            const ssize_t got = PreadSome(out, n);
            if (got <= 0)
                return false;
            out += got;
            n -= static_cast<size_t>(got);
        }
        return true;
    }

    ssize_t PreadSome(unsigned char* out, size_t n) {
        ssize_t got;
        do {
            got = pread(fd_, out, n, static_cast<off_t>(pos_));
        } while (got < 0 && errno == EINTR);
        if (got > 0)
            pos_ += got;
        return got;
    }

    int fd_;
    int64_t pos_;  // file offset of the byte after the buffer's end
    int64_t fileSize_;
    std::unique_ptr<unsigned char[]> buf_ = std::make_unique<unsigned char[]>(kBufSize);
    size_t at_ = 0;
    size_t end_ = 0;
};

int64_t SizeOf(FILE* f) {
    struct stat st;
    if (std::fflush(f) != 0 || fstat(fileno(f), &st) != 0)
        return -1;
    return st.st_size;
}

// Whether rows already holds arrays of this layout for n rows, none of them owning blocks:
// a window read again into the same buffer then fills them in place instead of allocating
// and zeroing megabytes at every jump.
bool ReusableFor(const DATASET* rows, const DSC_LAYOUT& layout, int32_t n) {
    if (rows->cols == nullptr || rows->colsUsed != layout.size() || rows->rowsAllocated < n || n == 0)
        return false;
    for (size_t c = 0; c < layout.size(); ++c) {
        const DATASET_COL& col = rows->cols[c];
        if (col.type != layout[c].type || col.width != layout[c].width || ds_ColHoldsRefs(&col) ||
            col.indicators == nullptr || (col.width != 0 && col.data == nullptr))
            return false;
    }
    return true;
}

int ReadTransfer(FILE* data, FILE* index, DATASET* rows, int32_t start, int32_t count,
                 const DSC_LAYOUT* expected) {
    // Whatever fails leaves the buffer empty: no half-read window claims rows.
    auto fail = [rows] {
        ds_Free(rows);
        return 0;
    };
    int64_t fileSize = SizeOf(data);
    uint32_t cols;
    int32_t stored;
    DSC_LAYOUT layout;
    if (fileSize < 0 || !ReadHead(data, &cols, &stored, &layout))
        return fail();
    if (expected != nullptr && *expected != layout)
        return fail();
    if (start < 0 || start > stored - 1)
        return fail();
    int32_t n = stored - start;
    if (count > 0)
        n = std::min(count, n);

    int64_t descEnd = kHeaderSize + 8 * static_cast<int64_t>(cols);
    int64_t offset;
    // The index entry alone: a stream would read a whole buffer of entries for it.
    if (std::fflush(index) != 0 ||
        pread(fileno(index), &offset, sizeof offset, 8 * static_cast<off_t>(start)) != sizeof offset ||
        offset < descEnd || offset >= fileSize)
        return fail();

    if (ReusableFor(rows, layout, n)) {
        rows->rowsUsed = 0;
    } else {
        ds_Free(rows);
        if (ds_Init(rows, static_cast<uint16_t>(cols)) != 0)
            return fail();
        rows->colsUsed = static_cast<uint16_t>(cols);
        rows->rowsAllocated = n;  // set first: a release after a failure frees what was read
        for (uint32_t c = 0; c < cols; ++c) {
            rows->cols[c].type = layout[c].type;
            rows->cols[c].width = layout[c].width;
            if (ds_ColAllocRows(&rows->cols[c], n) != 0)
                return fail();
        }
    }
    Reader rd(fileno(data), offset, fileSize);
    for (int32_t r = 0; r < n; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            if (!rd.Value(&rows->cols[c], r))
                return fail();
        }
    }
    rows->rowsUsed = n;
    return 1;
}

int WriteTransfer(FILE* data, FILE* index, DATASET* rows, int32_t start, int32_t count, DSC_LAYOUT* layout) {
    if (rows->colsUsed == 0 || rows->colsUsed > rows->colsAllocated || rows->cols == nullptr ||
        rows->rowsUsed > rows->rowsAllocated || start < 0 || start > rows->rowsUsed - 1)
        return 0;
    int32_t n = rows->rowsUsed - start;
    if (count > 0)
        n = std::min(count, n);
    DSC_LAYOUT written(rows->colsUsed);
    std::vector<uint32_t> desc;
    desc.reserve(2 * static_cast<size_t>(rows->colsUsed));
    for (uint16_t c = 0; c < rows->colsUsed; ++c) {
        const DATASET_COL& col = rows->cols[c];
        if (!ColumnUsable(col, rows->rowsUsed))
            return 0;
        written[c] = DSC_COLUMN{col.type, col.width};
        desc.push_back(static_cast<uint32_t>(col.type));
        desc.push_back(col.width);
    }
    if (!WriteHeader(data, rows->colsUsed, n) || std::fwrite(desc.data(), desc.size() * 4, 1, data) != 1 ||
        fseeko(index, 0, SEEK_SET) != 0)
        return 0;
    int64_t offset = kHeaderSize + 8 * static_cast<int64_t>(rows->colsUsed);
    if (!WriteRows(data, index, rows, start, n, offset) || std::fflush(data) != 0 || std::fflush(index) != 0)
        return 0;
    if (layout != nullptr)
        *layout = std::move(written);
    return 1;
}

// ---- temporary files -----------------------------------------------------------------------

std::string TempFolder() {
    std::string dir = g_tempFolder;
    if (dir.empty()) {
        const char* env = std::getenv("TMPDIR");
        dir = env != nullptr && *env != '\0' ? env : "/tmp";
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

uint32_t TickMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

// A new read-write stream on a file that no longer has a name; null with *err set.
FILE* CreateTempFile(const std::string& dir, uint32_t* counter, char** buffer, int* err) {
    uint32_t tick = TickMs();
    auto tid = static_cast<uint32_t>(gettid());
    for (int tries = 0; tries < kMaxCreateTries; ++tries) {
        std::string name = dir + "/kvrtmp";
        char tail[64];
        std::snprintf(tail, sizeof tail, "%x-%x-%x", tick, tid, (*counter)++);
        name += tail;
        int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            *err = errno;
            return nullptr;
        }
        if (unlink(name.c_str()) != 0) {
            *err = errno;
            close(fd);
            return nullptr;
        }
        FILE* f = fdopen(fd, "w+b");
        if (f == nullptr) {
            *err = errno;
            close(fd);
            return nullptr;
        }
        *buffer = static_cast<char*>(uh_Malloc(kStreamBuffer));
        if (*buffer != nullptr)
            setvbuf(f, *buffer, _IOFBF, kStreamBuffer);
        return f;
    }
    *err = EEXIST;
    return nullptr;
}

int OpenFiles(DSC_CACHE* cache, uint32_t stmt) {
    std::string dir = TempFolder();
    uint32_t counter = 0;
    int err = 0;
    cache->data = CreateTempFile(dir, &counter, &cache->dataBuffer, &err);
    if (cache->data != nullptr)
        cache->index = CreateTempFile(dir, &counter, &cache->indexBuffer, &err);
    if (cache->index == nullptr) {
        DSC_Close(cache);
        char text[512];
        std::snprintf(text, sizeof text, "General error: cannot create a temporary file in %s (%s)", dir.c_str(),
                      std::strerror(err));
        oa_ErrPostOn(stmt, text, "S1000");
        LOG_MSG(LOG_ERR, "dsc_Open: %s", text);
        return ERR_GENERAL_ERROR;
    }
    cache->state = DSC_OPEN;
    LOG_MSG(LOG_DEBUG, "dsc_Open: Opened temporary files for pDSC=%p", static_cast<void*>(cache));
    return 0;
}

}  // namespace

// ---- Codec ---------------------------------------------------------------------------------

int DSCF_Transfer(int32_t mode, FILE* data, FILE* index, DATASET* rows, int32_t start, int32_t count,
                  DSC_LAYOUT* layout) {
    if (data == nullptr || index == nullptr || rows == nullptr)
        return 0;
    if (mode == 0)
        return WriteTransfer(data, index, rows, start, count, layout);
    if (mode == 1)
        return ReadTransfer(data, index, rows, start, count, layout);
    return 0;
}

int DSCF_Append(FILE* data, FILE* index, DATASET* rows) {
    if (data == nullptr || index == nullptr || rows == nullptr || rows->rowsUsed < 0)
        return 0;
    if (rows->rowsUsed == 0)
        return 1;
    uint32_t cols;
    int32_t stored;
    DSC_LAYOUT layout;
    if (!ReadHead(data, &cols, &stored, &layout) || rows->colsUsed != cols || rows->cols == nullptr ||
        rows->rowsUsed > rows->rowsAllocated)
        return 0;
    for (uint16_t c = 0; c < rows->colsUsed; ++c) {
        const DATASET_COL& col = rows->cols[c];
        if (DSC_COLUMN{col.type, col.width} != layout[c] || !ColumnUsable(col, rows->rowsUsed))
            return 0;
    }
    int32_t total;
    if (__builtin_add_overflow(stored, rows->rowsUsed, &total))
        return 0;
    if (fseeko(data, 0, SEEK_END) != 0 || fseeko(index, 0, SEEK_END) != 0)
        return 0;
    off_t end = ftello(data);
    // The index must hold exactly the stored rows, or the new entries would sit elsewhere.
    if (end < 0 || ftello(index) != 8 * static_cast<off_t>(stored))
        return 0;
    if (!WriteRows(data, index, rows, 0, rows->rowsUsed, end) || !WriteHeader(data, cols, total) ||
        std::fflush(data) != 0 || std::fflush(index) != 0)
        return 0;
    return 1;
}

// ---- Cache ---------------------------------------------------------------------------------

void DSC_Init(DSC_CACHE* cache) {
    if (cache != nullptr)
        *cache = DSC_CACHE{};
}

void DSC_Close(DSC_CACHE* cache) {
    if (cache == nullptr)
        return;
    if (cache->data != nullptr) {
        std::fclose(cache->data);
        cache->data = nullptr;
        LOG_MSG(LOG_DEBUG, "DSC_Close: Closed temporary files for pDSC=%p", static_cast<void*>(cache));
    }
    if (cache->index != nullptr) {
        std::fclose(cache->index);
        cache->index = nullptr;
    }
    uh_Free(cache->dataBuffer);
    uh_Free(cache->indexBuffer);
    cache->dataBuffer = nullptr;
    cache->indexBuffer = nullptr;
    cache->state = DSC_IN_MEMORY;
    cache->rowCount = 0;
    cache->layout.clear();
}

int DSC_Fill(DSC_CACHE* cache, const OA_OPTABLE* agent, uint32_t stmt, DATASET* rows, int32_t* total) {
    if (total != nullptr)
        *total = 0;
    if (cache == nullptr || rows == nullptr || agent == nullptr || agent->DRV_Fetch == nullptr)
        return ERR_GENERAL_ERROR;
    // A refill starts from new files: rows written by an earlier fill would not match.
    DSC_Close(cache);
    ds_Free(rows);
    int32_t fetched = 0;
    int32_t inFiles = 0;
    int rc = 0;
    for (;;) {
        DATASET batch{};
        rc = agent->DRV_Fetch(stmt, static_cast<uint16_t>(DSC_FETCH_ROWS), &batch);
        if (rc != 0) {
            ds_Free(&batch);
            break;
        }
        int32_t got = batch.rowsUsed;
        if (got <= 0) {
            // An empty result keeps the columns the agent set up.
            if (rows->rowsUsed == 0 && rows->colsUsed == 0 && cache->state == DSC_IN_MEMORY) {
                ds_Free(rows);
                *rows = batch;
            } else {
                ds_Free(&batch);
            }
            break;
        }
        if (rows->rowsUsed == 0) {
            ds_Free(rows);
            *rows = batch;  // the block moves over whole
        } else {
            rc = ds_Append(rows, &batch);
            ds_Free(&batch);
            if (rc != 0)
                break;
        }
        fetched += got;
        if (cache->state == DSC_SPILLED || rows->rowsUsed > DSC_MEMORY_ROWS) {
            int ok;
            if (cache->state != DSC_SPILLED) {
                rc = OpenFiles(cache, stmt);
                if (rc != 0)
                    break;
                ok = DSCF_Transfer(0, cache->data, cache->index, rows, 0, 0, &cache->layout);
                if (ok)
                    cache->state = DSC_SPILLED;
            } else {
                ok = DSCF_Append(cache->data, cache->index, rows);
            }
            if (!ok) {
                rc = ERR_GENERAL_ERROR;
                LOG_MSG(LOG_ERR, "DSC_Fill: could not write %d rows to the temporary files", rows->rowsUsed);
                break;
            }
            inFiles += rows->rowsUsed;
            ds_Free(rows);
        }
    }
    cache->rowCount = (cache->state == DSC_SPILLED ? inFiles : 0) + rows->rowsUsed;
    if (total != nullptr)
        *total = fetched;
    return rc;
}

int DSC_ReadWindow(DSC_CACHE* cache, int32_t start, int32_t n, int32_t* firstInMemory, DATASET* rows) {
    if (cache == nullptr || firstInMemory == nullptr || rows == nullptr || start < 0 || n < 0)
        return ERR_GENERAL_ERROR;
    if (cache->state != DSC_SPILLED)
        return 0;  // every row is in the buffer
    if (cache->windowRows < 2 * static_cast<int64_t>(n))
        cache->windowRows = static_cast<int32_t>(std::min<int64_t>(2 * static_cast<int64_t>(n), INT32_MAX));
    if (start >= cache->rowCount)
        return 0;  // nothing there to read
    int64_t end = std::min<int64_t>(static_cast<int64_t>(start) + n, cache->rowCount);
    int32_t first = *firstInMemory;
    if (first >= 0 && start >= first && end <= static_cast<int64_t>(first) + rows->rowsUsed)
        return 0;
    int32_t window = cache->windowRows;
    int32_t windowStart = std::max(0, start - (window - n) / 2);
    if (!DSCF_Transfer(1, cache->data, cache->index, rows, windowStart, window, &cache->layout)) {
        *firstInMemory = -1;
        LOG_MSG(LOG_ERR, "DSC_ReadWindow: could not read %d rows from row %d", window, windowStart);
        return ERR_GENERAL_ERROR;
    }
    *firstInMemory = windowStart;
    return 0;
}

void DSC_SetTempFolderForTests(const char* folder) { g_tempFolder = folder != nullptr ? folder : ""; }
