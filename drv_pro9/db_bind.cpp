// SQLDA binding of result columns and parameters, and the description of columns.
#include "drv_pro9/db_bind.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_err.h"
#include "util/charset.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

// The outcome of one SQLDA call: 0, or 15 with the messages posted.
int Checked(DB_SQLDABIND* b) {
    if (b->sqlca->sqlcode >= 0)
        return 0;
    OA_ErrFromSqlca(b->errors, b->sqlca);
    return ERR_GENERAL_ERROR;
}

int Post(DB_SQLDABIND* b, int code, const char* text) {
    OA_ErrPostText(b->errors, text, oa_ErrState(code));
    return code;
}

// The server's name cut to fit the record (47 bytes and the NUL), at a character boundary.
void CopyName(char (&dst)[48], const char* name) {
    size_t n = ut_Utf8CutLen(name, std::strlen(name), sizeof dst - 1);
    std::memcpy(dst, name, n);
    dst[n] = '\0';
}

// Sets the attributes of one parameter of the input SQLDA, in the client's order, leaving
// out those that already hold the value (slot->sent); slot->sent then holds what was set.
int SetParamAttributes(DB_SQLDABIND* b, uint32_t param, DB_PARAMBIND* slot, const DB_PARAMSENT& want) {
    PRO_SQLDA* da = b->input;
    DB_PARAMSENT& sent = slot->sent;
    // Nothing changed, as for a statement executed again into the same buffers: returns
    // before writing anything (copying the record back was a stall of its own).
    if (sent.valid && sent.serverType == want.serverType && sent.direction == want.direction &&
        sent.scale == want.scale && sent.length == want.length && sent.data == want.data &&
        sent.indicators == want.indicators)
        return 0;
    const bool all = !sent.valid;
    // Whatever fails below leaves the SQLDA partly set: nothing is known until all is.
    sent.valid = false;
    int rc;
    if (all || sent.serverType != want.serverType) {
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, param, want.serverType, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
    }
    if (all || sent.direction != want.direction) {
        PRO_SQLDA_Set_Col_Attribute_dh_i16_t(da, ESQL_COL_DIRECTION, param, want.direction, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
    }
    if (all || sent.scale != want.scale) {
        PRO_SQLDA_Set_Col_Attribute_dh_i16_t(da, ESQL_COL_SCALE, param, want.scale, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
    }
    if (all || sent.length != want.length) {
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, param, want.length, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
    }
    if (all || sent.data != want.data) {
        PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, param, want.data, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
    }
    if (all || sent.indicators != want.indicators) {
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, param, want.indicators, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
    }
    sent = want;
    sent.valid = true;
    return 0;
}

// The parameter rows of the input SQLDA, set when they differ from the last ones set.
int SetParamRows(DB_SQLDABIND* b, int32_t rows) {
    if (b->inputRowsSent == rows)
        return 0;
    b->inputRowsSent = -1;
    PRO_SQLDA_Set_DA_Attribute_dh_u32_t(b->input, ESQL_DA_ROWS, static_cast<uint32_t>(rows), b->sqlca);
    if (int rc = Checked(b); rc != 0)
        return rc;
    b->inputRowsSent = rows;
    return 0;
}

// The parameter's slot, made when the statement described fewer parameters.
DB_PARAMBIND* ParamSlot(DB_SQLDABIND* b, uint32_t param) {
    try {
        if (b->params.size() < param)
            b->params.resize(param);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return &b->params[param - 1];
}

enum class Direction : int16_t { In = 1, InOut = 2, Out = 4 };

int BindParam(DB_SQLDABIND* b, Direction direction, int16_t scale, uint32_t param,
              const DATASET_COL* col, int32_t first, int32_t rows) {
    if (b == nullptr || b->sqlca == nullptr || col == nullptr || param == 0 || first < 0 || rows < 0)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (b->input == nullptr) {
        LOG_MSG(LOG_ERR, "db_BindParam: no input SQLDA for parameter %u", param);
        return ERR_GENERAL_ERROR;
    }
    if (rows > 0 && (col->data == nullptr || col->indicators == nullptr))
        return ERR_INVALID_ARGUMENT_VALUE;
    bool convert = false;
    int32_t serverType = db_DsCTypeToDbmsType(col->type, &convert);
    if (b->narrowFromLatin1 && serverType != DB_TYPE_NONE && db_IsNarrowText(col->type))
        convert = true;
    if (serverType == DB_TYPE_NONE) {
        LOG_MSG(LOG_ERR, "db_BindParam: No support for internal type %d", col->type);
        char text[96];
        std::snprintf(text, sizeof text, "No support for internal type %d in parameter %u", col->type, param);
        return Post(b, ERR_GENERAL_ERROR, text);
    }
    DB_PARAMBIND* slot = ParamSlot(b, param);
    if (slot == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;

    void* data = nullptr;
    uint32_t length = 0;
    if (!convert) {
        slot->buffer.reset();
        data = rows > 0 ? ds_Elem(col, first) : nullptr;
        length = col->width;
    } else if (direction == Direction::Out) {
        int rc = db_IntermBuffAlloc(&slot->buffer, serverType, db_ParamElemSize(col->type, col->width),
                                    serverType, rows, &length);
        if (rc != 0)
            return rc;
        data = slot->buffer.data.get();
    } else {
        int rc = db_ConvKVRToDBMS(col, first, rows, &slot->buffer, param, b->errors, b->latin1Client,
                                  &b->fractionCut, b->narrowFromLatin1);
        if (rc != 0)
            return rc;
        data = slot->buffer.data.get();
        length = slot->buffer.elemSize;
    }

    // The indicator array of the last execution is filled again where it is large enough:
    // the SQLDA already points at it.
    if (slot->indicators == nullptr || slot->indicatorRows < std::max(rows, 1)) {
        auto* ind = static_cast<int32_t*>(uh_Calloc(rows > 0 ? static_cast<size_t>(rows) : 1, sizeof(int32_t)));
        if (ind == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        // The SQLDA may still point at the old array: it is set to the new one below, or
        // nothing is known of it when that fails.
        slot->sent.valid = false;
        slot->indicators.reset(ind);
        slot->indicatorRows = std::max(rows, 1);
    }
    int32_t* ind = slot->indicators.get();
    if (convert && direction != Direction::Out && db_IsCountedTextParam(col->type)) {
        // Counted text tells its length: a NUL inside it is part of the value.
        for (int32_t r = 0; r < rows; ++r)
            ind[r] = col->indicators[first + r] < 0 ? -1 : db_ParamTextBytes(col, first + r, length);
    } else {
        for (int32_t r = 0; r < rows; ++r)
            ind[r] = direction == Direction::Out || col->indicators[first + r] < 0 ? -1 : 0;
    }

    if (int rc = SetParamRows(b, rows); rc != 0)
        return rc;
    // Compared with the values as they stand, before a record is made of them: the record
    // just written and read back at once was a stall at every execution.
    const DB_PARAMSENT& sent = slot->sent;
    if (sent.valid && sent.serverType == serverType && sent.direction == static_cast<int16_t>(direction) &&
        sent.scale == scale && sent.length == length && sent.data == data && sent.indicators == ind)
        return 0;
    DB_PARAMSENT want;
    want.serverType = serverType;
    want.direction = static_cast<int16_t>(direction);
    want.scale = scale;
    want.length = length;
    want.data = data;
    want.indicators = ind;
    return SetParamAttributes(b, param, slot, want);
}

// Copies rows [first, first + rows) of the value column into rows 0.. of the result
// column, which takes the value's type and width; owned blocks are duplicated.
int CopyIntoResult(const DATASET_COL* value, int32_t first, int32_t rows, DATASET* ds, uint16_t idx) {
    if (value == nullptr || ds == nullptr || idx >= ds->colsUsed || first < 0 || rows < 0)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (rows > ds->rowsAllocated) {
        LOG_MSG(LOG_ERR, "db_BindInOutParam: %d rows do not fit a result of %d rows", rows,
                ds->rowsAllocated);
        return ERR_GENERAL_ERROR;
    }
    if (rows > 0 && (value->data == nullptr || value->indicators == nullptr))
        return ERR_INVALID_ARGUMENT_VALUE;
    DATASET_COL* dst = &ds->cols[idx];
    ds_ColFree(dst, ds->rowsAllocated);
    dst->type = value->type;
    dst->width = value->width;
    int rc = ds_ColAllocRows(dst, ds->rowsAllocated);
    if (rc != 0)
        return rc;
    for (int32_t r = 0; r < rows; ++r) {
        unsigned char* d = ds_Elem(dst, r);
        std::memcpy(d, ds_Elem(value, first + r), value->width);
        dst->indicators[r] = value->indicators[first + r];
        if (!ds_ColHoldsRefs(dst))
            continue;
        DS_REFVAL ref;
        std::memcpy(&ref, d, sizeof ref);
        size_t bytes = static_cast<size_t>(ref.length) * (dst->type == DS_LONGWCHAR ? 2 : 1);
        ref.data = ref.data != nullptr ? uh_MemDup(ref.data, bytes) : nullptr;
        if (ref.data == nullptr)
            ref.length = 0;
        std::memcpy(d, &ref, sizeof ref);
        if (ref.data == nullptr && bytes != 0)
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

}  // namespace

DB_SQLDABIND::~DB_SQLDABIND() {
    db_BindFree(this);
}

int db_BindAllocCols(DB_SQLDABIND* b, uint16_t n) {
    b->cols.clear();
    b->colIndicators.reset();
    b->colIndicatorCount = 0;
    b->outputRowsSent = -1;
    try {
        b->cols.resize(n);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

int db_BindAllocParams(DB_SQLDABIND* b, uint32_t n) {
    b->params.clear();
    b->inputRowsSent = -1;
    b->inputRowsBeforeSent = b->inputRowsTotalSent = 0;  // a new input SQLDA has no place
    try {
        b->params.resize(n);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return 0;
}

void db_BindFree(DB_SQLDABIND* b) {
    if (b == nullptr)
        return;
    // The areas go first: they point into the buffers below.
    if (b->input != nullptr) {
        PRO_SQLDA_Deallocate(b->input);
        b->input = nullptr;
    }
    if (b->output != nullptr) {
        PRO_SQLDA_Deallocate(b->output);
        b->output = nullptr;
    }
    b->cols.clear();
    b->colIndicators.reset();
    b->colIndicatorCount = 0;
    b->outputRowsSent = -1;
    b->params.clear();
    b->inputRowsSent = -1;
    b->inputRowsBeforeSent = b->inputRowsTotalSent = 0;
}

int db_DescribeCol(DB_SQLDABIND* b, bool output, uint32_t col, bool wide, int odbcVersion,
                   COLDESC* d, int32_t* updatable) {
    if (b == nullptr || b->sqlca == nullptr || d == nullptr || col == 0)
        return ERR_INVALID_ARGUMENT_VALUE;
    PRO_SQLDA* da = output ? b->output : b->input;
    if (da == nullptr)
        return ERR_GENERAL_ERROR;

    const char* name = nullptr;
    int32_t type = 0;
    uint32_t precision = 0;
    uint32_t length = 0;
    int16_t scale = 0;
    int16_t nullable = 0;
    int16_t upd = 0;
    int rc;
    PRO_SQLDA_Get_Col_Attribute_char_p(da, ESQL_COL_NAME, col, &name, b->sqlca);
    if ((rc = Checked(b)) != 0)
        return rc;
    PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, col, &type, b->sqlca);
    if ((rc = Checked(b)) != 0)
        return rc;
    PRO_SQLDA_Get_Col_Attribute_dh_u32_t(da, ESQL_COL_PRECISION, col, &precision, b->sqlca);
    if ((rc = Checked(b)) != 0)
        return rc;
    PRO_SQLDA_Get_Col_Attribute_dh_i16_t(da, ESQL_COL_SCALE, col, &scale, b->sqlca);
    if ((rc = Checked(b)) != 0)
        return rc;
    PRO_SQLDA_Get_Col_Attribute_dh_i16_t(da, ESQL_COL_NULLABLE, col, &nullable, b->sqlca);
    if ((rc = Checked(b)) != 0)
        return rc;
    PRO_SQLDA_Get_Col_Attribute_dh_i16_t(da, ESQL_COL_UPDATABLE, col, &upd, b->sqlca);
    if ((rc = Checked(b)) != 0)
        return rc;
    PRO_SQLDA_Get_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, col, &length, b->sqlca);
    if ((rc = Checked(b)) != 0)
        return rc;

    if (d->name[0] != '*') {
        if (name == nullptr || name[0] == '\0')
            std::snprintf(d->name, sizeof d->name, "EXPR_%u", col);
        else
            CopyName(d->name, name);
    }
    int32_t updValue = upd == 0 ? 0 : upd == 1 ? 1 : 2;
    if (updatable != nullptr)
        *updatable = updValue;
    d->serverType = static_cast<int16_t>(type);
    d->columnSize = precision;
    d->decimalDigits = scale;
    d->flags = (nullable != 0 ? 1u : 0u) | (static_cast<uint32_t>(updValue + 1) << 4);
    d->declaredWidth = length;

    int16_t key = 0;
    bool convert = false;
    d->internalType = db_DbmsTypeToDsCType(type, &key, &convert);
    if (d->internalType == DB_TYPE_NONE) {
        LOG_MSG(LOG_ERR, "Unsupported database type %d", type);
        char text[64];
        std::snprintf(text, sizeof text, "Unsupported database type %d", type);
        return Post(b, ERR_GENERAL_ERROR, text);
    }

    const bool odbc3 = odbcVersion >= static_cast<int>(SQL_OV_ODBC3);
    switch (type) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR:
        if (type == ESQL_CHARACTER)
            d->sqlType = wide ? SQL_WCHAR : SQL_CHAR;
        else
            d->sqlType = wide ? SQL_WVARCHAR : SQL_VARCHAR;
        // The server counts characters: the column size is its declared length, while the
        // element (declaredWidth) holds that many characters in the client's code page
        // (UTF-8 in the Unicode library, whose wide types are converted at delivery).
        d->columnSize = precision;
        d->decimalDigits = 0;
        d->displaySize = precision + 1;
        break;
    case ESQL_NUMERIC:
        // NUMERIC, the type the type catalog lists (it has no DECIMAL row).
        d->sqlType = SQL_NUMERIC;
        d->displaySize = precision + 3;
        // Fetched as text: "-", "0." and the digits must fit the dataset element.
        d->declaredWidth = std::max(length, d->displaySize);
        break;
    case ESQL_INTEGER:
        d->sqlType = SQL_INTEGER;
        d->displaySize = 11;
        break;
    case ESQL_SMALLINT:
        d->sqlType = SQL_SMALLINT;
        d->displaySize = 6;
        break;
    case ESQL_REAL:
        d->sqlType = SQL_REAL;
        d->displaySize = 13;
        break;
    case ESQL_FLOAT:
        d->sqlType = SQL_DOUBLE;
        d->displaySize = 22;
        break;
    case ESQL_DATE:
        d->sqlType = odbc3 ? SQL_TYPE_DATE : SQL_DATE;
        d->columnSize = 10;
        d->displaySize = 10;
        d->declaredWidth = 16;
        break;
    case ESQL_TIME:
        d->sqlType = odbc3 ? SQL_TYPE_TIME : SQL_TIME;
        d->columnSize = 8;
        d->displaySize = 8;
        d->declaredWidth = 16;
        break;
    case ESQL_TIMESTAMP:
        d->sqlType = odbc3 ? SQL_TYPE_TIMESTAMP : SQL_TIMESTAMP;
        d->columnSize = 23;
        d->decimalDigits = 3;
        d->displaySize = 23;
        d->declaredWidth = 16;
        break;
    case ESQL_BIGINT:
        d->sqlType = SQL_BIGINT;
        d->displaySize = 20;
        // Fetched as text: "-9223372036854775808" must fit the dataset element.
        d->declaredWidth = std::max(length, d->displaySize);
        break;
    case ESQL_BIT:
        d->sqlType = SQL_BIT;
        d->displaySize = 1;
        break;
    case ESQL_TINYINT:
        d->sqlType = SQL_TINYINT;
        d->displaySize = 4;
        break;
    case ESQL_VARBINARY:
    case ESQL_BINARY:
        d->sqlType = type == ESQL_BINARY ? SQL_BINARY : SQL_VARBINARY;
        d->columnSize = 2 * length;
        d->decimalDigits = 0;
        d->displaySize = 2 * length;
        break;
    default:
        break;
    }

    if (output && col <= b->cols.size()) {
        DB_COLBIND& slot = b->cols[col - 1];
        slot.convert = convert ? 1 : 0;
        slot.key = key;
        slot.serverType = static_cast<int16_t>(type);
        slot.length = length;
        slot.buffer.reset();
        slot.boundData = nullptr;
        slot.boundIndicators = nullptr;
        slot.boundLength = 0;
    }
    return 0;
}

int db_IntermBuffAlloc(DB_VALBUF* slot, int32_t serverType, uint32_t length, int32_t msgType,
                       int32_t rows, uint32_t* elemSize) {
    slot->reset();
    uint32_t size = db_ServerElemSize(serverType, length);
    if (size == 0) {
        LOG_MSG(LOG_ERR, "db_IntermBuffAlloc: No support for type: %d", msgType);
        return ERR_GENERAL_ERROR;
    }
    if (!slot->alloc(size, rows))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (elemSize != nullptr)
        *elemSize = size;
    return 0;
}

int db_BindResultCols(DB_SQLDABIND* b, DATASET* ds) {
    if (b == nullptr || b->sqlca == nullptr || ds == nullptr || b->output == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (ds->colsUsed != b->cols.size()) {
        LOG_MSG(LOG_ERR, "db_BindResultCols: %u dataset columns for %zu result columns", ds->colsUsed,
                b->cols.size());
        return ERR_GENERAL_ERROR;
    }
    const int32_t rows = ds->rowsAllocated;
    const size_t n = ds->colsUsed;
    int rc;
    if (b->outputRowsSent != rows) {
        b->outputRowsSent = -1;
        PRO_SQLDA_Set_DA_Attribute_dh_u32_t(b->output, ESQL_DA_ROWS, static_cast<uint32_t>(rows), b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
        b->outputRowsSent = rows;
    }
    const size_t indicators = std::max<size_t>(n * static_cast<size_t>(rows), 1);
    if (b->colIndicators == nullptr || b->colIndicatorCount != indicators) {
        auto* ind = static_cast<int32_t*>(uh_Calloc(indicators, sizeof(int32_t)));
        if (ind == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        b->colIndicators.reset(ind);
        b->colIndicatorCount = indicators;
    }
    int32_t* ind = b->colIndicators.get();

    for (size_t i = 0; i < n; ++i) {
        DB_COLBIND& slot = b->cols[i];
        const DATASET_COL& dcol = ds->cols[i];
        void* data = nullptr;
        uint32_t length = 0;
        if (slot.convert != 0) {
            // One buffer for every block of this shape: only another shape allocates.
            const uint32_t size = db_ServerElemSize(slot.key, slot.length);
            if (slot.buffer.data == nullptr || slot.buffer.elemSize != size || slot.buffer.rows != rows) {
                slot.boundData = nullptr;
                rc = db_IntermBuffAlloc(&slot.buffer, slot.key, slot.length, slot.serverType, rows, &length);
                if (rc != 0)
                    return rc;
            }
            data = slot.buffer.data.get();
            length = slot.buffer.elemSize;
        } else {
            slot.buffer.reset();
            data = dcol.data;
            length = dcol.width;
        }
        int32_t* colInd = ind + i * static_cast<size_t>(rows);
        if (slot.boundData == data && slot.boundIndicators == colInd && slot.boundLength == length && data != nullptr)
            continue;
        slot.boundData = nullptr;
        const auto column = static_cast<uint32_t>(i + 1);
        // A value the server writes as another type than the described one (the text of a
        // NUMERIC or BIGINT) is bound as that type; the column's precision and scale stay.
        if (slot.convert == 0 && slot.key != slot.serverType) {
            PRO_SQLDA_Set_Col_Attribute_dh_i32_t(b->output, ESQL_COL_TYPE, column, slot.key, b->sqlca);
            if ((rc = Checked(b)) != 0)
                return rc;
        }
        PRO_SQLDA_Set_Col_Attribute_void_p(b->output, ESQL_COL_DATA, column, data, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(b->output, ESQL_COL_INDICATOR, column, colInd, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(b->output, ESQL_COL_LENGTH, column, length, b->sqlca);
        if ((rc = Checked(b)) != 0)
            return rc;
        slot.boundData = data;
        slot.boundIndicators = colInd;
        slot.boundLength = length;
    }
    return 0;
}

int db_ConvFetchedRows(DB_SQLDABIND* b, DATASET* ds, uint16_t col, int32_t rows) {
    if (b == nullptr || b->sqlca == nullptr || ds == nullptr || b->output == nullptr || col >= ds->colsUsed ||
        col >= b->cols.size() || rows < 0 || rows > ds->rowsAllocated)
        return ERR_INVALID_ARGUMENT_VALUE;
    const DB_COLBIND& slot = b->cols[col];
    const int32_t* ind = slot.boundIndicators;
    DATASET_COL* dcol = &ds->cols[col];
    for (int32_t r = 0; r < rows; ++r) {
        int32_t v = ind != nullptr ? ind[r] : 0;
        dcol->indicators[r] = v == -1 ? DS_IND_NULL : v > 0 ? 1 : 0;
    }
    if (slot.convert == 0 || rows == 0)
        return 0;
    if (slot.buffer.data == nullptr || slot.boundData != slot.buffer.data.get())
        return Post(b, ERR_GENERAL_ERROR, "No buffer bound for a converted result column");
    int rc = db_ConvDBMSColumnToKVR(slot.buffer.data.get(), slot.buffer.elemSize, slot.serverType, dcol, rows);
    if (rc != 0)
        OA_ErrPost(b->errors, rc);
    return rc;
}

int db_BindInputPlace(DB_SQLDABIND* b, uint32_t rowsBefore, uint32_t rowsTotal) {
    if (b->input == nullptr)
        return 0;
    if (b->inputRowsBeforeSent != rowsBefore) {
        PRO_SQLDA_Set_DA_Attribute_dh_u32_t(b->input, ESQL_DA_ROWS_BEFORE, rowsBefore, b->sqlca);
        if (int rc = Checked(b); rc != 0)
            return rc;
        b->inputRowsBeforeSent = rowsBefore;
    }
    if (b->inputRowsTotalSent != rowsTotal) {
        PRO_SQLDA_Set_DA_Attribute_dh_u32_t(b->input, ESQL_DA_ROWS_TOTAL, rowsTotal, b->sqlca);
        if (int rc = Checked(b); rc != 0)
            return rc;
        b->inputRowsTotalSent = rowsTotal;
    }
    return 0;
}

int db_BindInParam(DB_SQLDABIND* b, int16_t scale, uint32_t param, const DATASET_COL* value,
                   int32_t first, int32_t rows) {
    return BindParam(b, Direction::In, scale, param, value, first, rows);
}

int db_BindInOutParam(DB_SQLDABIND* b, int16_t scale, uint32_t param, const DATASET_COL* value,
                      DATASET* result, uint16_t resultCol, int32_t first, int32_t rows) {
    int rc = CopyIntoResult(value, first, rows, result, resultCol);
    if (rc != 0)
        return rc;
    return BindParam(b, Direction::InOut, scale, param, &result->cols[resultCol], 0, rows);
}

int db_BindOutParam(DB_SQLDABIND* b, int16_t scale, uint32_t param, DATASET* result,
                    uint16_t resultCol, int32_t rows) {
    if (result == nullptr || resultCol >= result->colsUsed || rows > result->rowsAllocated)
        return ERR_INVALID_ARGUMENT_VALUE;
    return BindParam(b, Direction::Out, scale, param, &result->cols[resultCol], 0, rows);
}
