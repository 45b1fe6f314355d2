#!/bin/sh
# Dependencies run downward: each lower folder includes only itself and what lies below it.
#   util/      only util/
#   platform/  only platform/
#   sqlparse/  sqlparse/ and util/
#   scrs/      scrs/, sqlparse/, util/ and of drv_pro9/ only oa_optable.h and oa_services.h (the
#              cursor library sits on the agent's operation table and reaches the rest of the
#              agent through its services header alone)
#   drv_pro9/  drv_pro9/, util/ and platform/ (never driver/ nor scrs/: the ODBC side and the
#              cursor library reach the agent through its operation table, not the reverse)
#   dtc/       dtc/, util/, platform/ and drv_pro9/oa_optable.h alone (the operation table
#              the XA slots are called through); never driver/: the connection hands what
#              it shares in a DTC_CONN_LINK, and the library hands down the installer's
#              values, the XA trace and the XA switch's connection look-up as a DTC_HOST
# and inside driver/, from the bottom: diag/, frame/ (the dispatcher and the handle header),
# outstr/, exec/convert/ (value conversion: pure, util/ only), objects/, exec/ (execution and
# fetching), handlers/, library/, entry/; no layer includes one above it.
# Prints every include that breaks this and fails; usage: includes.sh <source dir>.
set -u
root=${1:?usage: includes.sh <source dir>}
cd "$root" || exit 2

status=0
check() {  # folder, allowed folders (an alternation), optionally allowed single files
    folder=$1 allowed=$2 files=${3:-}
    [ -d "$folder" ] || { echo "no folder $folder under $root"; status=1; return; }
    # Every project include, with quotes or angle brackets, that names a folder of the tree.
    bad=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](util|platform|drv_pro9|driver|scrs|sqlparse|dtc|tests)/' \
              "$folder" | grep -vE "#[[:space:]]*include[[:space:]]*[\"<]($allowed)/")
    if [ -n "$files" ] && [ -n "$bad" ]; then
        bad=$(printf '%s\n' "$bad" | grep -vE "#[[:space:]]*include[[:space:]]*[\"<]($files)[\">]")
    fi
    if [ -n "$bad" ]; then
        echo "$folder/ includes from above it:"
        echo "$bad"
        status=1
    fi
}

check util 'util'
check platform 'platform'
check sqlparse 'sqlparse|util'
check scrs 'scrs|sqlparse|util' 'drv_pro9/oa_(optable|services)\.h'
check drv_pro9 'drv_pro9|util|platform'
check dtc 'dtc|util|platform' 'drv_pro9/oa_optable\.h'
check driver/diag 'driver/diag|util'
check driver/frame 'driver/(frame|diag)|util|platform|drv_pro9|scrs'
check driver/outstr 'driver/(outstr|frame|diag)|util'
check driver/exec/convert 'driver/exec/convert|util'
check driver/objects 'driver/(objects|exec/convert|outstr|frame|diag)|util|platform|drv_pro9|scrs|dtc'
check driver/exec 'driver/(exec|objects|outstr|frame|diag)|util|platform|drv_pro9|scrs|dtc'
check driver/handlers 'driver/(handlers|exec|objects|outstr|frame|diag)|util|platform|drv_pro9|scrs|dtc'
check driver/library 'driver/(library|objects|frame|diag)|util|platform|drv_pro9|scrs|dtc'
check driver/entry 'driver/(entry|library|handlers|frame)|dtc'
[ $status -eq 0 ] && echo "no folder includes one above it"
exit $status
