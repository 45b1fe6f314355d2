// The agent's catalog operations: templates, description override, row fix-ups.
#include "drv_pro9/oa_catalog.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "drv_pro9/oa_optable.h"
#include "util/charset.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/tmpl.h"

namespace {

// ---- Templates --------------------------------------------------------------------------
// Written readably: {n} inserts argument n; {ifG T n} opens conditional group G, kept when
// test T (given, pattern, exact) holds for argument n; {elseG} and {endG} continue and
// close it. Compile() turns them into the expander's escapes.

const char kColumnPrivilegesSql[] =
    R"T( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", COL "COLUMN_NAME", GRANTOR, GRANTEE, 'REFERENCES' "PRIVILEGE", RTRIM ( DECODE (REF, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSCOLAUTH WHERE {if1 given 2} TBLOWNER = '{2}' AND {end1} {if1 given 3} TBL = '{3}' AND {end1} {if1 given 4} {if2 pattern 4} COL LIKE '{4}' ESCAPE '\' AND {else2} COL = '{4}' AND {end2} {end1} (REF = 'y' OR REF = 'g') UNION ALL SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", COL "COLUMN_NAME", GRANTOR, GRANTEE, 'UPDATE' "PRIVILEGE", RTRIM ( DECODE (UPD, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSCOLAUTH WHERE {if1 given 2} TBLOWNER = '{2}' AND {end1} {if1 given 3} TBL = '{3}' AND {end1} {if1 given 4} {if2 pattern 4} COL LIKE '{4}' ESCAPE '\' AND {else2} COL = '{4}' AND {end2} {end1} (UPD = 'y' OR UPD = 'g') UNION ALL SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", COL "COLUMN_NAME", GRANTOR, GRANTEE, 'SELECT' "PRIVILEGE", RTRIM ( DECODE (SEL, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSCOLAUTH WHERE {if1 given 2} TBLOWNER = '{2}' AND {end1} {if1 given 3} TBL = '{3}' AND {end1} {if1 given 4} {if2 pattern 4} COL LIKE '{4}' ESCAPE '\' AND {else2} COL = '{4}' AND {end2} {end1} (SEL = 'y' OR SEL = 'g') ORDER BY 2, 3, 6 )T";

const char kColumnsSql[] =
    R"T( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", c2."_Owner" "TABLE_SCHEM", c2."_File-Name" "TABLE_NAME", c1."_Field-Name" "COLUMN_NAME", DECODE (c1."_Extent", 0, CAST (DECODE (c1."_Data-Type", 'recid', 4, "_dtype") AS SMALLINT),1) "DATA_TYPE", c1."_Fetch-type" "TYPE_NAME", c1."_Width" "COLUMN_SIZE", c1."_Width" "BUFFER_LENGTH", CAST (c1."_Decimals" AS SMALLINT) "DECIMAL_DIGITS", CAST (10 AS SMALLINT) "NUM_PREC_RADIX", CAST (DECODE ("_Mandatory", 1, 0, 0, 1) AS SMALLINT) "NULLABLE", {if1 given 5} c1."_Desc" "REMARKS", {else1} CAST (NULL AS VARCHAR) "REMARKS", {end1} c1."_Initial" "COLUMN_DEF", CAST (0 AS SMALLINT) "SQL_DATA_TYPE", CAST (0 AS SMALLINT) "SQL_DATETIME_SUB", {if1 given 6} DECODE (c1."_Fetch-type", 'character', c1."_Width" * 2, 'char', c1."_Width" * 2, 'varchar', c1."_Width" * 2, cast (NULL as integer)) {else1} DECODE (c1."_Fetch-type", 'character', c1."_Width", 'char', c1."_Width", 'varchar', c1."_Width", cast (NULL as integer)) {end1} "CHAR_OCTET_LENGTH", c1."_field-rpos" "ORDINAL_POSITION", rtrim (DECODE (c1."_Mandatory", 1, 'NO', 'YES')) "IS_NULLABLE" FROM pub."_Field" c1, pub."_File" c2 WHERE {if1 given 2} {if2 pattern 2} c2."_Owner" LIKE '{2}' ESCAPE '\' AND {else2} c2."_Owner" = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} c2."_File-Name" LIKE '{3}' ESCAPE '\' AND {else2} c2."_File-Name" = '{3}' AND {end2} {end1} {if1 given 4} {if2 pattern 4} c1."_Field-Name" LIKE '{4}' ESCAPE '\' AND {else2} c1."_Field-Name" = '{4}' AND {end2} {end1} c2.rowid = c1."_File-recid" ORDER BY 2, 3, c1."_field-rpos" )T";

const char kForeignKeysSql[] =
    R"T( SELECT CAST (NULL AS VARCHAR) "PKTABLE_CAT", RC.REFOWNER "PKTABLE_SCHEM", RC.REFTBLNAME "PKTABLE_NAME", PK.COLNAME "PKCOLUMN_NAME", CAST (NULL AS VARCHAR) "FKTABLE_CAT", RC.OWNER "FKTABLE_SCHEM", RC.TBLNAME "FKTABLE_NAME", FK.COLNAME "FKCOLUMN_NAME", CAST (FK.COLPOSITION + 1 AS SMALLINT) "KEY_SEQ", CAST (3 AS SMALLINT) "UPDATE_RULE", CAST (3 AS SMALLINT) "DELETE_RULE", RC.CNSTRNAME "FK_NAME", RC.REFCNSTRNAME "PK_NAME", CAST (0 AS SMALLINT) "DEFERRABILITY" FROM SYSPROGRESS.SYS_REF_CONSTRS RC, SYSPROGRESS.SYS_KEYCOL_USAGE PK, SYSPROGRESS.SYS_KEYCOL_USAGE FK WHERE {if1 given 2} RC.REFOWNER = '{2}' AND {end1} {if1 given 3} RC.REFTBLNAME = '{3}' AND {end1} {if1 given 5} RC.OWNER = '{5}' AND {end1} {if1 given 6} RC.TBLNAME = '{6}' AND {end1} PK.OWNER = RC.REFOWNER AND PK.TBLNAME = RC.REFTBLNAME AND PK.CNSTRNAME = RC.REFCNSTRNAME AND FK.OWNER = RC.OWNER AND FK.TBLNAME = RC.TBLNAME AND FK.CNSTRNAME = RC.CNSTRNAME AND FK.COLPOSITION = PK.COLPOSITION ORDER BY {if1 given 3} 5,6,7,9 {else1} 1,2,3,9 {end1} )T";

const char kPrimaryKeysSql[] =
    R"T( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", OWNER "TABLE_SCHEM", TBLNAME "TABLE_NAME", COLNAME "COLUMN_NAME", CAST (COLPOSITION + 1 AS SMALLINT) "KEY_SEQ", CNSTRNAME "PK_NAME" FROM SYSPROGRESS.SYS_KEYCOL_USAGE WHERE {if1 given 2} OWNER = '{2}' AND {end1} {if1 given 3} TBLNAME = '{3}' AND {end1} 1 = 1 AND EXISTS (SELECT * FROM SYSPROGRESS.SYS_TBL_CONSTRS TC WHERE TC.OWNER = SYS_KEYCOL_USAGE.OWNER AND TC.TBLNAME = SYS_KEYCOL_USAGE.TBLNAME AND TC.CNSTRNAME = SYS_KEYCOL_USAGE.CNSTRNAME AND TC.CNSTRTYPE = 'P') UNION SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", "_Owner" "TABLE_SCHEM", "_File-Name" "TABLE_NAME", "_Field-Name" "COLUMN_NAME", CAST ("_Index-Seq" AS SMALLINT) "KEY_SEQ", "_Index-Name" "PK_NAME" FROM PUB."_File", PUB."_Index-Field", PUB."_Field", PUB."_Index" WHERE {if1 given 2} "_Owner" = '{2}' AND {end1} {if1 given 3} "_File-name" = '{3}' AND {end1} "_Index".rowid = "_File"."_Prime-Index" AND cast("_Index-field"."_Index-Recid" as int) = cast ("_File"."_Prime-Index" as int) AND "_Field".rowid ="_Index-field"."_Field-Recid" AND length("_Field"."_Field-Name") > 0 AND NOT EXISTS (SELECT * FROM SYSPROGRESS.SYS_TBL_CONSTRS TC WHERE TC.OWNER = "_File"."_Owner" AND TC.TBLNAME = "_File"."_File-Name" AND TC.CNSTRTYPE = 'P') ORDER BY 2,3,5 )T";

const char kProcedureColumnsSql[] =
    R"T( SELECT DISTINCT CAST (NULL AS VARCHAR) "PROCEDURE_CAT", P.OWNER "PROCEDURE_SCHEM", P.PROC_NAME "PROCEDURE_NAME", COL "COLUMN_NAME", CAST (DECODE (ARGTYPE, 'in', 1, 'out', 4, 'result', 3, 0) AS SMALLINT) "COLUMN_TYPE", CAST (DECODE (DATATYPE, 'varchar', 1, 'date', 2, 'bit', 3, 'integer', 4, 'numeric', 5, 'varbinary', 8, 'tinyint', 21, 'smallint', 22, 'real', 24, 'float', 25, 'character', 31, 'bigint', 32, 'time', 33, 'timestamp', 34, 'binary', 35, CAST (NULL AS SMALLINT)) AS SMALLINT) "DATA_TYPE", DATATYPE "TYPE_NAME", WIDTH "COLUMN_SIZE", WIDTH "BUFFER_LENGTH", CAST (SCALE AS SMALLINT) "DECIMAL_DIGITS", CAST (10 AS SMALLINT) "NUM_PREC_RADIX", CAST (DECODE (NULLFLAG, 'Y', 1, 'N', 0) AS SMALLINT) "NULLABLE", CAST ('' AS VARCHAR) "REMARKS", DFLT_VALUE "COLUMN_DEF", CAST (0 AS SMALLINT) "SQL_DATA_TYPE", CAST (0 AS SMALLINT) "SQL_DATETIME_SUB", {if1 given 5} DECODE ("DATATYPE", 'character', WIDTH * 2, 'varchar', WIDTH * 2, cast (NULL as INTEGER)) {else1} DECODE ("DATATYPE", 'character', WIDTH, 'varchar', WIDTH, cast (NULL as INTEGER)) {end1} "CHAR_OCTET_LENGTH", CAST (NULL AS INTEGER) "ORDINAL_POSITION", RTRIM (DECODE (NULLFLAG, 'Y', 'YES', 'N', 'NO')) "IS_NULLABLE" FROM SYSPROGRESS.SYSPROCCOLUMNS PC, SYSPROGRESS.SYSPROCEDURES P WHERE {if1 given 2} {if2 pattern 2} P.OWNER LIKE '{2}' ESCAPE '\' AND {else2} P.OWNER = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} P.PROC_NAME LIKE '{3}' ESCAPE '\' AND {else2} P.PROC_NAME = '{3}' AND {end2} {end1} {if1 given 4} {if2 pattern 4} COL LIKE '{4}' ESCAPE '\' AND {else2} COL = '{4}' AND {end2} {end1} PC.PROC_ID = P.PROC_ID ORDER BY 2,3,5,18 )T";

const char kProceduresSql[] =
    R"T( SELECT CAST (NULL AS VARCHAR) "PROCEDURE_CAT", OWNER "PROCEDURE_SCHEM", PROC_NAME "PROCEDURE_NAME", CAST (-1 AS INTEGER) "NUM_INPUT_PARAMETERS", CAST (-1 AS INTEGER) "NUM_OUTPUT_PARAMETERS", CAST (-1 AS INTEGER) "NUM_RESULT_SETS", CAST ('' AS VARCHAR) "REMARKS", CAST (DECODE (HAS_RETURN_VAL, 'Y', 2, 'N', 1, 0) AS SMALLINT) "PROCEDURE_TYPE" FROM SYSPROGRESS.SYSPROCEDURES WHERE {if1 given 2} {if2 pattern 2} OWNER LIKE '{2}' ESCAPE '\' AND {else2} OWNER = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} PROC_NAME LIKE '{3}' ESCAPE '\' AND {else2} PROC_NAME = '{3}' AND {end2} {end1} 1 = 1 ORDER BY 2, 3  )T";

const char kBestRowIdSql[] =
    R"T( SELECT CAST (0 AS SMALLINT) "SCOPE", SI.COLNAME "COLUMN_NAME", CAST (DECODE (SC.COLTYPE, 'varchar', 1, 'date', 2, 'bit', 3, 'integer', 4, 'numeric', 5, 'varbinary', 8, 'tinyint', 21, 'smallint', 22, 'real', 24, 'float', 25, 'character', 31, 'bigint', 32, 'time', 33, 'timestamp', 34, 'binary', 35, CAST (NULL AS SMALLINT)) AS SMALLINT) "DATA_TYPE", SC.COLTYPE "TYPE_NAME", SC.WIDTH "COLUMN_SIZE", {if1 given 4} DECODE (SC.COLTYPE, 'character', SC.WIDTH * 2, 'varchar', SC.WIDTH * 2, SC.WIDTH) "BUFFER_LENGTH", {else1} SC.WIDTH "BUFFER_LENGTH", {end1} CAST (SC.SCALE AS SMALLINT) "DECIMAL_DIGITS", 1 "PSEUDO_COLUMN", SI.IDXSEQ "SEQ_IN_INDEX", SI.TBLOWNER "TABLE_SCHEM", SI.TBL "TABLE_NAME", SI.IDXNAME "INDEX_NAME" FROM SYSPROGRESS.SYSCOLUMNS SC, SYSPROGRESS.SYSINDEXES SI WHERE SI.IDXTYPE like 'U%' AND SI.IDXMETHOD = 'B' AND SI.TBL = SC.TBL AND SI.TBLOWNER = SC.OWNER AND SI.COLNAME = SC.COL AND SI.TBL = '{3}' {if1 given 2} AND SI.TBLOWNER = '{2}' {end1} ORDER BY SI.IDXNAME )T";

const char kSpecialOtherSql[] =
    R"T( SELECT CAST (NULL AS SMALLINT) "SCOPE", CAST ('' AS VARCHAR) "COLUMN_NAME", CAST (0 AS SMALLINT) "DATA_TYPE", CAST ('' AS VARCHAR) "TYPE_NAME", 0 "PRECISION", 0 "LENGTH", CAST (0 AS SMALLINT) "SCALE", CAST (0 AS SMALLINT) "PSEUDO_COLUMN" FROM SYSPROGRESS.SYSCOLUMNS WHERE 0 = 1 )T";

const char kStatisticsSql[] =
    R"T( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", SI.TBLOWNER "TABLE_SCHEM", SI.TBL "TABLE_NAME", CAST (DECODE (SI.IDXTYPE, 'U ', 0, 'D ', 1) AS SMALLINT) "NON_UNIQUE", SI.IDXOWNER "INDEX_QUALIFIER", SI.IDXNAME "INDEX_NAME", CAST (3 AS SMALLINT) "TYPE", CAST (SI.IDXSEQ + 1 AS SMALLINT) "ORDINAL_POSITION", SI.COLNAME "COLUMN_NAME", RTRIM (SI.IDXORDER) "ASC_OR_DESC", CAST (NULL AS INTEGER) "CARDINALITY", CAST (NULL AS INTEGER) "PAGES", CAST (NULL AS VARCHAR) "FILTER_CONDITION" FROM SYSPROGRESS.SYSINDEXES SI WHERE {if1 given 2} SI.TBLOWNER = '{2}' AND {end1} {if1 given 3} SI.TBL = '{3}' AND {end1} {if1 given 4} SI.IDXTYPE = 'U ' AND {end1} SI.IDXNAME <> 'default' ORDER BY 4,7,5,6,8 )T";

const char kTablePrivilegesSql[] =
    R"T( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", GRANTOR, GRANTEE, 'REFERENCES' "PRIVILEGE", RTRIM ( DECODE (REF, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSTABAUTH WHERE {if1 given 2} {if2 pattern 2} TBLOWNER LIKE '{2}' ESCAPE '\' AND {else2} TBLOWNER = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} TBL LIKE '{3}' ESCAPE '\' AND {else2} TBL = '{3}' AND {end2} {end1} (REF = 'y' OR REF = 'g') UNION ALL SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", GRANTOR, GRANTEE, 'INSERT' "PRIVILEGE", RTRIM ( DECODE (INS, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSTABAUTH WHERE {if1 given 2} {if2 pattern 2} TBLOWNER LIKE '{2}' ESCAPE '\' AND {else2} TBLOWNER = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} TBL LIKE '{3}' ESCAPE '\' AND {else2} TBL = '{3}' AND {end2} {end1} (INS = 'y' OR INS = 'g') UNION ALL SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", GRANTOR, GRANTEE, 'DELETE' "PRIVILEGE", RTRIM ( DECODE (DEL, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSTABAUTH WHERE {if1 given 2} {if2 pattern 2} TBLOWNER LIKE '{2}' ESCAPE '\' AND {else2} TBLOWNER = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} TBL LIKE '{3}' ESCAPE '\' AND {else2} TBL = '{3}' AND {end2} {end1} (DEL = 'y' OR DEL = 'g') UNION ALL SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", GRANTOR, GRANTEE, 'UPDATE' "PRIVILEGE", RTRIM ( DECODE (UPD, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSTABAUTH WHERE {if1 given 2} {if2 pattern 2} TBLOWNER LIKE '{2}' ESCAPE '\' AND {else2} TBLOWNER = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} TBL LIKE '{3}' ESCAPE '\' AND {else2} TBL = '{3}' AND {end2} {end1} (UPD = 'y' OR UPD = 'g') UNION ALL SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", GRANTOR, GRANTEE, 'SELECT' "PRIVILEGE", RTRIM ( DECODE (SEL, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSTABAUTH WHERE {if1 given 2} {if2 pattern 2} TBLOWNER LIKE '{2}' ESCAPE '\' AND {else2} TBLOWNER = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} TBL LIKE '{3}' ESCAPE '\' AND {else2} TBL = '{3}' AND {end2} {end1} (SEL = 'y' OR SEL = 'g') ORDER BY 2, 3, 6 )T";

const char kTablesSql[] =
    R"T( SELECT cast (null as varchar) TABLE_CAT, "_Owner" TABLE_SCHEM, "_File-Name" TABLE_NAME, rtrim (decode("_Tbl-Type", 'S', 'SYSTEM TABLE', 'T', 'TABLE', 'V', 'VIEW')) TABLE_TYPE, {if1 given 5} "_Desc" REMARKS {else1} cast (null as varchar) REMARKS {end1} FROM PUB."_File" WHERE {if1 given 2} {if2 pattern 2} "_Owner" LIKE '{2}' ESCAPE '\' AND {else2} "_Owner" = '{2}' AND {end2} {end1} {if1 given 3} {if2 pattern 3} "_File-Name" LIKE '{3}' ESCAPE '\' AND {else2} "_File-Name" = '{3}' AND {end2} {end1} {if1 given 4} decode("_Tbl-Type", 'T', 'TABLE', 'S', 'SYSTEM TABLE','V', 'VIEW') in ({4}) {else1} "_Tbl-Type" IN ('T','V','S') {end1} ORDER BY 2, 3 )T";

const char kSchemaListSql[] =
    R"T( SELECT DISTINCT cast (null as varchar) TABLE_CAT, "_Owner" TABLE_SCHEM, cast (null as varchar) TABLE_NAME, cast (null as varchar) TABLE_TYPE, cast (null as varchar) REMARKS FROM PUB."_File" WHERE "_Tbl-Type" IN ('T','V','S') ORDER BY 2 )T";

const char kTableTypeListSql[] =
    R"T( SELECT DISTINCT cast (null as varchar) TABLE_CAT, cast (null as varchar) TABLE_SCHEM, cast (null as varchar) TABLE_NAME, decode("_Tbl-Type", 'T', 'TABLE', 'S', 'SYSTEM TABLE', 'V', 'VIEW') TABLE_TYPE, cast (null as varchar) REMARKS FROM PUB."_File" WHERE "_Tbl-Type" IN ('T', 'V', 'S') ORDER BY 4 )T";

// The readable template in the expander's form (util/tmpl.h).
std::string Compile(std::string_view readable) {
    std::string out;
    for (size_t i = 0; i < readable.size(); ++i) {
        if (readable[i] != '{') {
            out += readable[i];
            continue;
        }
        size_t close = readable.find('}', i);
        std::string_view m = readable.substr(i + 1, close - i - 1);
        i = close;
        auto number = [](std::string_view s) { return static_cast<char>(std::stoi(std::string(s))); };
        out += TMPL_ESC;
        if (m.substr(0, 2) == "if") {
            // "ifG T n"
            size_t a = m.find(' '), b = m.rfind(' ');
            std::string_view test = m.substr(a + 1, b - a - 1);
            char t = test == "given" ? TMPL_GIVEN : test == "pattern" ? TMPL_PATTERN : test == "exact" ? TMPL_EXACT
                                                                                                    : TMPL_EMPTY;
            out += TMPL_IF;
            out += number(m.substr(2, a - 2));
            out += t;
            out += number(m.substr(b + 1));
        } else if (m.substr(0, 4) == "else") {
            out += TMPL_ELSE;
            out += number(m.substr(4));
        } else if (m.substr(0, 3) == "end") {
            out += TMPL_END;
            out += number(m.substr(3));
        } else {
            out += TMPL_INSERT;
            out += number(m);
        }
    }
    return out;
}

// ---- Result descriptions ----------------------------------------------------------------

struct CatColType {
    int32_t sqlType;
    int32_t length;   // -1: the size the server described
};

constexpr int32_t W = SQL_WVARCHAR;
constexpr int32_t V = SQL_VARCHAR;
constexpr int32_t C = SQL_CHAR;
constexpr int32_t S = SQL_SMALLINT;
constexpr int32_t I = SQL_INTEGER;
constexpr CatColType kEnd = {0, 0};

// One table per operation. Texts the server keeps long (remarks, filter conditions) keep
// the server's width: a width of one would cut them.
const CatColType kColumnPrivilegesTypes[] = {{W, 32}, {W, 32}, {W, 32}, {W, 32}, {W, 32}, {W, 32}, {V, -1}, {V, 3}, kEnd};
const CatColType kColumnsTypes[] = {{W, 32}, {W, 32}, {W, 32}, {W, 32}, {S, 0}, {V, 32}, {I, 0}, {I, 0}, {S, 0}, {S, 0},
                                   {S, 0}, {W, -1}, {W, -1}, {S, 0}, {S, 0}, {I, 0}, {I, 0}, {V, 3}, kEnd};
const CatColType kForeignKeysTypes[] = {{W, 32}, {W, 32}, {W, 32}, {W, 32}, {W, 32}, {W, 32}, {W, 32}, {W, 32},
                                        {S, 0},  {S, 0},  {S, 0},  {W, -1}, {W, -1}, {S, 0},  kEnd};
const CatColType kPrimaryKeysTypes[] = {{W, 32}, {W, 32}, {W, 32}, {W, 32}, {S, 0}, {W, -1}, kEnd};
const CatColType kProcedureColumnsTypes[] = {{W, 32}, {W, 32}, {W, 32}, {W, 32}, {S, 0}, {S, 0}, {W, 32},
                                             {I, 0},  {I, 0},  {S, 0},  {S, 0},  {S, 0}, {W, -1}, {W, -1},
                                             {S, 0},  {S, 0},  {I, 0},  {I, 0},  {V, 3}, kEnd};
const CatColType kProceduresTypes[] = {{W, 32}, {W, 32}, {W, 32}, {S, 0}, {S, 0}, {S, 0}, {W, -1}, {S, 0}, kEnd};
const CatColType kSpecialOtherTypes[] = {{S, 0}, {W, 32}, {S, 0}, {W, 32}, {I, 0}, {I, 0}, {S, 0}, {S, 0}, kEnd};
const CatColType kStatisticsTypes[] = {{W, 32}, {W, 32}, {W, 32}, {S, 0}, {W, 32}, {W, -1}, {S, 0},
                                       {S, 0},  {W, 32}, {C, 2},  {I, 0}, {I, 0},  {W, -1}, kEnd};
const CatColType kTablePrivilegesTypes[] = {{W, 32}, {W, 32}, {W, 32}, {W, 32}, {W, 32}, {V, -1}, {V, 3}, kEnd};
const CatColType kTablesTypes[] = {{W, 32}, {W, 32}, {W, 32}, {V, 32}, {W, -1}, kEnd};

// Whether the connection's text columns are described and carried wide: the same rule as
// the describe step's, so that an override never gives a column another kind of text than
// the one its binding delivers.
bool WideTypes(const OA_CONN* conn) {
    return db_WideTypes(conn->wide != 0, conn->unicodeLibrary != 0);
}

// The descriptions of the statement's result, rewritten by the operation's table.
void CatOverrideColDescs(OA_STMT* stmt, const CatColType* types) {
    const bool wide = WideTypes(stmt->conn);
    for (uint16_t i = 0; i < stmt->cols.count && types[i].sqlType != 0; ++i) {
        COLDESC& d = stmt->cols.items[i];
        int32_t type = types[i].sqlType;
        auto length = static_cast<uint32_t>(types[i].length < 0 ? static_cast<int64_t>(d.columnSize) : types[i].length);
        if (!wide && type == SQL_WCHAR)
            type = SQL_CHAR;
        if (!wide && type == SQL_WVARCHAR)
            type = SQL_VARCHAR;
        d.sqlType = type;
        d.decimalDigits = 0;
        d.flags = (d.flags & 0x30u) | SQL_NULLABLE_UNKNOWN;
        switch (type) {
        case SQL_CHAR:
            d.internalType = DS_CHAR;
            d.columnSize = d.displaySize = d.declaredWidth = length;
            break;
        case SQL_VARCHAR:
            d.internalType = DS_CHARZ;
            d.columnSize = d.displaySize = d.declaredWidth = length;
            break;
        case SQL_INTEGER:
            d.internalType = DS_SLONG;
            d.columnSize = 10;
            d.displaySize = 11;
            d.declaredWidth = 4;
            break;
        case SQL_SMALLINT:
            d.internalType = DS_SSHORT;
            d.columnSize = 5;
            d.displaySize = 6;
            d.declaredWidth = 2;
            break;
        default:   // the wide text types: UTF-8 in the dataset, cut to length characters
            d.internalType = DS_CHARZ;
            d.columnSize = d.displaySize = length;
            d.declaredWidth = 4 * length;
            break;
        }
    }
}

// Columns listed (from 1) become nullable and not updatable.
void CatMarkNullable(OA_STMT* stmt, std::initializer_list<uint16_t> columns) {
    for (uint16_t n : columns)
        if (COLDESC* d = stmt->cols.at(n))
            d->flags = SQL_NULLABLE;
}

// ODBC 2 names of the result columns that ODBC 3 renamed; ODBC 2 applications bind and
// look them up by these. The reverse holds for the one template written with ODBC 2 names.
struct Rename {
    const char* odbc3;
    const char* odbc2;
};
const Rename kRenames[] = {
    {"TABLE_CAT", "TABLE_QUALIFIER"},       {"TABLE_SCHEM", "TABLE_OWNER"},
    {"PKTABLE_CAT", "PKTABLE_QUALIFIER"},   {"PKTABLE_SCHEM", "PKTABLE_OWNER"},
    {"FKTABLE_CAT", "FKTABLE_QUALIFIER"},   {"FKTABLE_SCHEM", "FKTABLE_OWNER"},
    {"PROCEDURE_CAT", "PROCEDURE_QUALIFIER"}, {"PROCEDURE_SCHEM", "PROCEDURE_OWNER"},
    {"COLUMN_SIZE", "PRECISION"},           {"BUFFER_LENGTH", "LENGTH"},
    {"DECIMAL_DIGITS", "SCALE"},            {"NUM_PREC_RADIX", "RADIX"},
};
const Rename kStatisticsRenames[] = {{"ORDINAL_POSITION", "SEQ_IN_INDEX"}, {"ASC_OR_DESC", "COLLATION"}};

void SetName(COLDESC& d, const char* name) {
    std::memset(d.name, 0, sizeof d.name);
    std::strncpy(d.name, name, sizeof d.name - 1);
}

void CatNameColumns(OA_STMT* stmt, bool statistics) {
    const bool odbc2 = stmt->conn->odbcVersion < 3;
    for (uint16_t i = 0; i < stmt->cols.count; ++i) {
        COLDESC& d = stmt->cols.items[i];
        for (const Rename& r : kRenames) {
            if (odbc2 && std::strcmp(d.name, r.odbc3) == 0)
                SetName(d, r.odbc2);
            else if (!odbc2 && std::strcmp(d.name, r.odbc2) == 0)
                SetName(d, r.odbc3);
        }
        for (const Rename& r : kStatisticsRenames)
            if (statistics && odbc2 && std::strcmp(d.name, r.odbc3) == 0)
                SetName(d, r.odbc2);
    }
    // ASC_OR_DESC leaves one character wide (CatFixStatistics): described so from the start,
    // not only once the first rows are fetched. Its element width stays the server's until
    // then, since the first block is read as the server sends it.
    if (COLDESC* d = statistics ? stmt->cols.at(10) : nullptr; d != nullptr && d->columnSize == 2)
        d->columnSize = d->displaySize = 1;
}

// ---- Row fix-ups ------------------------------------------------------------------------

OA_CONN* ConnOf(DB_CURSOR* cursor) {
    return cursor != nullptr && cursor->stmt != nullptr ? cursor->stmt->conn : nullptr;
}

// The wide text columns hold UTF-8 elements of four bytes a character: each value is cut
// to the column's size in UTF-16 units, as the application would receive it, never
// inside a pair. Every fix-up starts here.
void CatCutWideText(DB_CURSOR* cursor, DATASET* ds) {
    if (cursor == nullptr || cursor->stmt == nullptr || ds == nullptr)
        return;
    const OA_DESCARRAY& descs = cursor->stmt->cols;
    for (uint16_t i = 0; i < ds->colsUsed && i < descs.count; ++i) {
        const COLDESC& d = descs.items[i];
        DATASET_COL& col = ds->cols[i];
        if ((d.sqlType != SQL_WVARCHAR && d.sqlType != SQL_WCHAR) || col.type != DS_CHARZ)
            continue;
        for (int32_t r = 0; r < ds->rowsUsed; ++r) {
            if (col.indicators[r] < 0)
                continue;
            auto* e = reinterpret_cast<char*>(ds_Elem(&col, r));
            const size_t n = strnlen(e, col.width);
            if (n <= d.columnSize)
                continue;   // fewer bytes than characters allowed: nothing to cut
            SQLLEN used = 0;
            ut_NarrowToUcs2N(e, static_cast<SQLLEN>(n), nullptr, d.columnSize, &used, NarrowCode::Utf8);
            std::memset(e + used, 0, n - static_cast<size_t>(used));
        }
    }
}

void FixTypeRows(DB_CURSOR* cursor, DATASET* ds, const DB_CATTYPECOLS& roles) {
    OA_CONN* conn = ConnOf(cursor);
    if (conn == nullptr || ds == nullptr)
        return;
    for (int32_t r = 0; r < ds->rowsUsed; ++r)
        db_FixCatalogType(ds, r, roles, conn->odbcVersion, WideTypes(conn));
}

void CatFixColumns(DB_CURSOR* cursor, DATASET* ds) {
    CatCutWideText(cursor, ds);
    FixTypeRows(cursor, ds, {4, 6, 7, 8, 9, 13, 14});
    // ORDINAL_POSITION: the server counts from 2. Written only where the column holds the
    // 32-bit integers its description promises.
    if (ds == nullptr || ds->colsUsed <= 16 || ds->cols[16].type != DS_SLONG)
        return;
    DATASET_COL& pos = ds->cols[16];
    for (int32_t r = 0; r < ds->rowsUsed; ++r) {
        if (pos.indicators[r] == DS_IND_NULL)
            continue;
        int32_t v;
        std::memcpy(&v, pos.data + static_cast<size_t>(r) * pos.width, sizeof v);
        --v;
        std::memcpy(pos.data + static_cast<size_t>(r) * pos.width, &v, sizeof v);
    }
}

void CatFixProcColumns(DB_CURSOR* cursor, DATASET* ds) {
    CatCutWideText(cursor, ds);
    FixTypeRows(cursor, ds, {5, 7, 8, 9, 10, 14, 15});
}

void CatFixSpecialColumns(DB_CURSOR* cursor, DATASET* ds) {
    CatCutWideText(cursor, ds);
    FixTypeRows(cursor, ds, {2, 4, 5, 6, -1, -1, -1});
}

// ASC_OR_DESC arrives two characters wide ("A " or "D "): it leaves one character wide,
// in place, and the description follows so that the next block is made that wide.
void CatFixStatistics(DB_CURSOR* cursor, DATASET* ds) {
    CatCutWideText(cursor, ds);
    if (ds == nullptr || ds->colsUsed <= 9 || ds->cols[9].type != DS_CHAR || ds->cols[9].width != 2)
        return;
    DATASET_COL& col = ds->cols[9];
    for (int32_t r = 0; r < ds->rowsUsed; ++r)
        col.data[r] = col.data[static_cast<size_t>(r) * 2];
    col.width = 1;
    if (cursor == nullptr || cursor->stmt == nullptr)
        return;
    if (COLDESC* d = cursor->stmt->cols.at(10))
        d->columnSize = d->displaySize = d->declaredWidth = 1;
}

void CatNoFixUp(DB_CURSOR* cursor, DATASET* ds) {
    CatCutWideText(cursor, ds);
}

// ---- Running an operation ---------------------------------------------------------------

// A name as it goes inside a quoted literal of the SQL: each quote doubled.
std::string Literal(const char* name) {
    std::string out;
    for (const char* p = name != nullptr ? name : ""; *p != '\0'; ++p) {
        out += *p;
        if (*p == '\'')
            out += '\'';
    }
    return out;
}

const char* Flag(bool set) {
    return set ? "Y" : "";
}

struct CatQuery {
    const char* sql;                         // readable template
    std::vector<std::string> args;           // {1}..{n}, already safe for the SQL
    const CatColType* types = nullptr;       // null: keep the server's descriptions
    std::initializer_list<uint16_t> nullable;
    OA_ROWCALLBACK fixUp = CatNoFixUp;   // every fix-up cuts the wide text (CatCutWideText)
    bool statistics = false;
};

int CatRunQuery(uint32_t handle, OA_STMT* stmt, const CatQuery& q) {
    std::string sql;
    std::vector<const char*> argv;
    for (const std::string& a : q.args)
        argv.push_back(a.c_str());
    std::string tmpl = Compile(q.sql);
    ut_TmplExpand(sql, tmpl.c_str(), argv.data(), static_cast<int>(argv.size()));
    LOG_MSG(LOG_DEBUG, "catalog query: %s", sql.c_str());
    int rc = OA_Prepare(handle, sql.c_str());
    if (rc == 0)
        rc = OA_Execute(handle);
    if (rc != 0)
        return rc;
    stmt->rowCallback = q.fixUp;
    if (q.types != nullptr)
        CatOverrideColDescs(stmt, q.types);
    CatMarkNullable(stmt, q.nullable);
    CatNameColumns(stmt, q.statistics);
    return 0;
}

// The first n names of the record, each made safe for a literal.
std::vector<std::string> Names(const OA_CATARGS* args, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back(Literal(args->names[i]));
    return out;
}

OA_STMT* Lookup(uint32_t handle, const OA_CATARGS* args) {
    return args != nullptr ? oa_FindStmt(handle) : nullptr;
}

bool IsSet(const char* s) {
    return s != nullptr && *s != '\0';
}

bool IsAll(const char* s) {
    return s != nullptr && std::strcmp(s, "%") == 0;
}

// A type list as the SQL takes it: quoted items without quotes inside, separated by commas.
bool IsQuotedList(const char* s) {
    std::string_view v = s;
    size_t i = 0;
    while (true) {
        while (i < v.size() && v[i] == ' ')
            ++i;
        if (i >= v.size() || v[i] != '\'')
            return false;
        size_t close = v.find('\'', i + 1);
        if (close == std::string_view::npos)
            return false;
        i = close + 1;
        while (i < v.size() && v[i] == ' ')
            ++i;
        if (i == v.size())
            return true;
        if (v[i++] != ',')
            return false;
    }
}

}  // namespace

int OA_DDColumnPrivileges(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CatRunQuery(handle, stmt, {kColumnPrivilegesSql, Names(args, 4), kColumnPrivilegesTypes, {1, 2, 5, 8}});
}

int OA_DDColumns(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    std::vector<std::string> a = Names(args, 4);
    a.push_back(Flag(stmt->conn->showRemarks != 0));
    a.push_back(Flag(WideTypes(stmt->conn)));
    return CatRunQuery(handle, stmt, {kColumnsSql, a, kColumnsTypes, {1, 2, 7, 8, 9, 10}, CatFixColumns});
}

int OA_DDForeignKeys(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CatRunQuery(handle, stmt,
                       {kForeignKeysSql, Names(args, 6), kForeignKeysTypes, {1, 2, 5, 6, 10, 11, 12, 13, 14}});
}

int OA_DDPrimaryKeys(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CatRunQuery(handle, stmt, {kPrimaryKeysSql, Names(args, 3), kPrimaryKeysTypes, {1, 2, 6}});
}

int OA_DDProcedureColumns(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    std::vector<std::string> a = Names(args, 4);
    a.push_back(Flag(WideTypes(stmt->conn)));
    return CatRunQuery(handle, stmt,
                       {kProcedureColumnsSql, a, kProcedureColumnsTypes, {1, 2, 8, 9, 10, 11, 13, 14, 16, 17, 19},
                        CatFixProcColumns});
}

int OA_DDProcedures(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CatRunQuery(handle, stmt, {kProceduresSql, Names(args, 3), kProceduresTypes, {1, 2, 4, 5, 6, 7, 8}});
}

int OA_DDSpecialColumns(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (args->options[0] != SQL_BEST_ROWID)
        return CatRunQuery(handle, stmt, {kSpecialOtherSql, {}, kSpecialOtherTypes, {1, 5, 6, 7, 8}});
    std::vector<std::string> a = Names(args, 3);
    a.push_back(Flag(WideTypes(stmt->conn)));
    return CatRunQuery(handle, stmt, {kBestRowIdSql, a, nullptr, {}, CatFixSpecialColumns});
}

int OA_DDStatistics(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    std::vector<std::string> a = Names(args, 3);
    a.push_back(args->options[0] == SQL_INDEX_UNIQUE ? "UNIQUE" : "");
    return CatRunQuery(handle, stmt,
                       {kStatisticsSql, a, kStatisticsTypes, {1, 2, 4, 5, 6, 8, 9, 10, 11, 12, 13}, CatFixStatistics,
                        true});
}

int OA_DDTablePrivileges(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CatRunQuery(handle, stmt, {kTablePrivilegesSql, Names(args, 3), kTablePrivilegesTypes, {1, 2, 4, 7}});
}

int OA_DDTables(uint32_t handle, const OA_CATARGS* args) {
    OA_STMT* stmt = Lookup(handle, args);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    const char* cat = args->names[0];
    const char* sch = args->names[1];
    const char* tab = args->names[2];
    const char* types = args->names[3];
    bool ordinary = (IsAll(cat) && (IsSet(sch) || IsSet(tab))) || (IsAll(sch) && (IsSet(cat) || IsSet(tab))) ||
                    (IsAll(types) && (IsSet(cat) || IsSet(sch) || IsSet(tab)));
    // The catalogs cannot be listed: the driver's own refusal, not a message of the server.
    if (!ordinary && IsAll(cat))
        return ERR_DRIVER_NOT_CAPABLE;
    if (!ordinary && IsAll(sch))
        return CatRunQuery(handle, stmt, {kSchemaListSql, {}, kTablesTypes, {}});
    if (!ordinary && IsAll(types))
        return CatRunQuery(handle, stmt, {kTableTypeListSql, {}, kTablesTypes, {}});
    // The type list goes into the SQL as it is: only quoted items may.
    if (IsSet(types) && !IsAll(types) && !IsQuotedList(types)) {
        OA_ErrPost(&stmt->errors, ERR_INVALID_ARGUMENT_VALUE);
        return ERR_INVALID_ARGUMENT_VALUE;
    }
    std::vector<std::string> a = Names(args, 3);
    a.push_back(types != nullptr ? types : "");
    a.push_back(Flag(stmt->conn->showRemarks != 0));
    return CatRunQuery(handle, stmt, {kTablesSql, a, kTablesTypes, {1, 2, 3, 4, 5}});
}
