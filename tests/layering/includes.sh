#!/bin/sh
# Dependencies run downward: each lower folder includes only itself and what lies below it.
#   util/      only util/
#   platform/  only platform/
#   drv_pro9/  drv_pro9/, util/ and platform/ (never driver/ nor scrs/: the ODBC side and the
#              cursor library reach the agent through its operation table, not the reverse)
# Prints every include that breaks this and fails; usage: includes.sh <source dir>.
set -u
root=${1:?usage: includes.sh <source dir>}
cd "$root" || exit 2

status=0
check() {  # folder, allowed top-level folders (a regular-expression alternation)
    folder=$1 allowed=$2
    [ -d "$folder" ] || { echo "no folder $folder under $root"; status=1; return; }
    # Every project include, with quotes or angle brackets, that names a folder of the tree.
    bad=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](util|platform|drv_pro9|driver|scrs|sqlparse|dtc|tests)/' \
              "$folder" | grep -vE "#[[:space:]]*include[[:space:]]*[\"<]($allowed)/")
    if [ -n "$bad" ]; then
        echo "$folder/ includes from above it:"
        echo "$bad"
        status=1
    fi
}

check util 'util'
check platform 'platform'
check drv_pro9 'drv_pro9|util|platform'
[ $status -eq 0 ] && echo "util/, platform/ and drv_pro9/ include nothing above them"
exit $status
