// The parameter-describe analyser: for a statement's parameter markers, the probe queries
// ("SELECT <expressions> FROM <tables> WHERE 1=0 ") whose result columns, as the server
// describes them, describe the markers: the column a marker is compared with, assigned to
// or inserted into.
//
// Each probe column records the ordinal (1-based, in text order) of the marker it
// describes, so the agent assigns descriptions by ordinal and a marker the analysis cannot
// describe (inside a subquery, or in an operand with several markers) only stays as the
// prepare described it instead of shifting the others. The analysis reads node kinds and
// shapes only; parses share nothing, so analyses run on any threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PT_NODE;
struct OA_PARAMPROBES;

struct SCR_PARAMDESC {
    std::string text;  // the statement without leading white space
    std::string errorContext;
    std::string errorMessage;
    PT_NODE* root = nullptr;
    int32_t rootKind = -1;
    std::vector<std::string> probes;
    // Per probe column, over all probes in order: the marker ordinal it describes, or 0.
    std::vector<uint32_t> columnMarkers;
    int32_t described = 0;  // probe columns that describe a marker
    // INSERT ... VALUES without a column list: per VALUES item "?" for a bare marker, "X"
    // for anything else; the probe is then "SELECT * FROM <table> WHERE 1=0 ".
    std::string markerString;
    const char* defaultExpression = nullptr;  // written for a marker tested with IS NULL
};

// Empties the record and sets its default expression (not owned).
void SCR_ParamDescInit(SCR_PARAMDESC* desc, const char* defaultExpression);
// Frees what the record holds; the default expression stays.
void SCR_ParamDescFree(SCR_PARAMDESC* desc);
// Parses the statement and builds the probes. 68 when it does not parse (no probes); 16
// when memory runs out; otherwise 0, also when the analysis gave up part-way (the probes
// built until then stay).
int SCR_ParamDescAnalyse(SCR_PARAMDESC* desc, const char* sql);

// The analyser as the agent's describe refinement asks it (oa_ParamProber): the probes
// with their column ordinals. 0, or the analysis's code; 15 when it built no probe.
int SCR_ParamProber(const char* defaultExpression, const char* sql, OA_PARAMPROBES* out);
