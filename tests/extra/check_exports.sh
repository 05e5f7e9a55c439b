#!/usr/bin/env bash
# usage: check_exports.sh LIBRARY EXPORT_LIST HEADER
set -euo pipefail
lib=$1 list=$2 header=$3
want=$(grep -E '^[A-Za-z]' "$list" | awk '{print $1}' | sort)
have=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sed 's/@.*//' | sort -u)
status=0
if [ "$want" != "$have" ]; then
    echo "exported symbols differ from $list:"
    diff <(echo "$want") <(echo "$have") || true
    status=1
fi
for name in $want; do
    grep -qE "\\b$name\\(" "$header" || { echo "$name is not declared in $header"; status=1; }
done
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[ "$soname" = "libnxtka.so.1" ] || { echo "SONAME is '$soname', not libnxtka.so.1"; status=1; }
[ $status -eq 0 ] && echo "$(echo "$want" | wc -l) exports match"
exit $status
