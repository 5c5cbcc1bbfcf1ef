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
# Internal owners: no exported function, object, vtable or typeinfo may belong to them.
# (Exported methods may still take platform types as parameters.)
internal='^((vtable|typeinfo|typeinfo name|VTT|construction vtable|guard variable) for )?(plat::|AdapterChannel\b|trg::)'

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
leaked=$(grep -E -- "$internal" <<<"$symbols"; grep -F -- '(anonymous namespace)' <<<"$symbols")
if [ -n "$leaked" ]; then
  echo "internal symbols exported:"
  echo "$leaked"
  status=1
fi
exit $status
