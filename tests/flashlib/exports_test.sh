#!/usr/bin/env bash
# Checks the dynamic symbol table of libbrindlex (the export table of Brindlex.dll): the
# exported surface is there and nothing of the library's internals (anonymous namespaces, the
# platform layer, the adapter channel, helper namespaces) leaks out, where the program could
# bind to it by accident. mingw's GCC mangles as on Linux, so the names below serve both.
# With a .def file, its exports must be exactly the flat functions (it makes the import library
# for other compilers).
# Usage: exports_test.sh <path of libbrindlex.so or Brindlex.dll> [<brindlex.def>]
set -uo pipefail
lib=${1:?library path}
def=${2:-}

# The flat functions, bound by their plain names.
flat=(
  ApiCreateConnect ApiDelConnect ApiGetTargetNum ApiSysResetPlug ApiSysReset ApiCheckFirm
  ApiCheckTargetName ApiGetSecType ApiChipEraseAll ApiFlashEraseBlockAll ApiFlashWriteAll
  ApiFlashWriteAllWithSN ApiFlashRead ApiUpdateErrorTargetLED ApiErrorTargetLED
  ApiGetEnableFlg ApiSetEnableFlg ApiGetTargetStatus ApiSetTargetStatus
  ApiIsTargetPlugSuccess ApiGetTargetPlugStatus ApiSetTargetPlugStatus ApiGetSerialNumber
  ApiSetSerialNumber ApiGetDevicePathStr
)
# Demangled names that must be exported (extern "C" functions appear as their plain names).
expected=(
  'ApiObj'
  'CQuorvelApi::CQuorvelApi()'
  'CQuorvelApi::ReadTargetInfoFile(unsigned char, unsigned short&)'
  'CQuorvelApi::DeleteTargetInfoSet(TRGINFO**)'
  'CQuorvelApi::GetTrgConnect()'
  'CQuorvelApi::SetTrgConnect(CTrgConnectCtrl*)'
  'CQuorvelApi::SysResetAll()'
  'CQuorvelApi::SysReset(int)'
  'CQuorvelApi::GetFirmVerStr(int, char*, unsigned int, unsigned int&)'
  'CQuorvelApi::IsTargetProtected(int, unsigned short&)'
  'CQuorvelApi::SetSecID(int, unsigned char, unsigned short const*, unsigned short&)'
  'CQuorvelApi::FlashWriteAll(unsigned int, unsigned int, unsigned int, unsigned char const*)'
  'CFlashApi::CFlashApi(char const*)'
  'CFlashApi::FlashWrite_trans(unsigned int, unsigned int, unsigned char const*, unsigned int&)'
  'CTrgConnectCtrl::CTrgConnectCtrl()'
  'CTrgConnectCtrl::GetDevicePathStr(int, char*, unsigned int, unsigned int&)'
  'CUsbPipe::CUsbPipe()'
  'vtable for CUsbPipe'
)
# Internal owners: no exported function, object, vtable or typeinfo may belong to them.
# (Exported methods may still take platform types as parameters.)
internal='^((vtable|typeinfo|typeinfo name|VTT|construction vtable|guard variable) for )?(plat::|AdapterChannel\b|trg::)'
# What may be exported at all: the flat functions, ApiObj, the interface class, the exported
# classes' members, and the standard library's template objects that the compiler emits
# with default visibility (weak or unique, never our own code).
owners='^((vtable|typeinfo|typeinfo name) for )?(CQuorvelApi|CFlashApi|CTrgConnectCtrl|CUsbPipe)(::|$)'

case "$lib" in
  *.dll | *.DLL)
    # The names of the DLL's export table; they carry no symbol type.
    cxxfilt=${CXXFILT:-x86_64-w64-mingw32-c++filt}
    table=$("${OBJDUMP:-x86_64-w64-mingw32-objdump}" -p "$lib" |
      awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
           on && /^\t\[/ { print "X", $NF; next }
           on { on = 0 }')
    ;;
  *)
    cxxfilt=c++filt
    table=$(nm -D --defined-only "$lib" | awk 'NF == 3 { print $2, $3 }')
    ;;
esac
if [ -z "$table" ]; then
  echo "no exported symbols read from $lib"
  exit 1
fi
raw=$(awk '{ print $2 }' <<<"$table")
symbols=$("$cxxfilt" <<<"$raw")

status=0
for name in "${flat[@]}"; do
  if ! grep -qxF -- "$name" <<<"$raw"; then
    echo "flat function not exported under its plain name: $name"
    status=1
  fi
done
api_count=$(grep -cE '^Api[A-Za-z]+$' <<<"$raw")
if [ "$api_count" -ne $((${#flat[@]} + 1)) ]; then  # + ApiObj
  echo "expected ${#flat[@]} flat functions and ApiObj, found $api_count Api names:"
  grep -E '^Api' <<<"$raw"
  status=1
fi
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

# Every symbol must be accounted for.
flat_re="^($(IFS='|'; echo "${flat[*]}")|ApiObj|VEXIL_INTERFACE_GUID)$"
stray=$(paste -d' ' <(awk '{ print $1 }' <<<"$table") <(echo "$symbols") |
  while read -r type name; do
    name=${name#__odr_asan.}  # AddressSanitizer's marker beside each exported global
    if grep -qE -- "$flat_re" <<<"$name" || grep -qE -- "$owners" <<<"$name"; then
      continue
    fi
    if [[ "$type" =~ ^[VWu]$ && "$name" =~ ^((vtable|typeinfo|typeinfo name)\ for\ )?std:: ]]; then
      continue
    fi
    echo "$type $name"
  done)
if [ -n "$stray" ]; then
  echo "exported but not part of the surface:"
  echo "$stray"
  status=1
fi
if [ -n "$def" ]; then
  listed=$(awk '/^EXPORTS/ { on = 1; next } on && NF { print $1 }' "$def" | sort)
  if [ "$listed" != "$(printf '%s\n' "${flat[@]}" | sort)" ]; then
    echo "$def does not list exactly the flat functions:"
    diff <(echo "$listed") <(printf '%s\n' "${flat[@]}" | sort)
    status=1
  fi
fi
exit $status
