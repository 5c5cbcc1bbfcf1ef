#!/usr/bin/env bash
# Checks the dynamic symbol table of libbrindlex: the exported surface is there and nothing of
# the library's internals (anonymous namespaces, the platform layer, the adapter channel,
# helper namespaces) leaks out, where the program could bind to it by accident.
# Usage: exports_test.sh <path of libbrindlex.so>
set -uo pipefail
lib=${1:?library path}

# Demangled names that must be exported (extern "C" functions appear as their plain names).
expected=(
  'ApiObj'
  'CQuorvelApi::CQuorvelApi()'
  'CQuorvelApi::ReadTargetInfoFile(unsigned char, unsigned short&)'
  'CQuorvelApi::DeleteTargetInfoSet(TRGINFO**)'
  'CQuorvelApi::GetTrgConnect()'
  'CQuorvelApi::SetTrgConnect(CTrgConnectCtrl*)'
)
# Fixed strings that no exported name may contain.
forbidden=(
  '(anonymous namespace)'
  'plat::'
  'AdapterChannel'
  'trg::'
)

symbols=$(nm -D --defined-only "$lib" | awk '{ print $3 }' | c++filt)
if [ -z "$symbols" ]; then
  echo "no exported symbols read from $lib"
  exit 1
fi

status=0
for name in "${expected[@]}"; do
  if ! grep -qxF -- "$name" <<<"$symbols"; then
    echo "not exported: $name"
    status=1
  fi
done
for part in "${forbidden[@]}"; do
  leaked=$(grep -F -- "$part" <<<"$symbols")
  if [ -n "$leaked" ]; then
    echo "internal symbols exported:"
    echo "$leaked"
    status=1
  fi
done
exit $status
