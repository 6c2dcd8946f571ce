#!/usr/bin/env bash
# Checks the shipped binaries: 32-bit PE files (but for the hook DLL and the companion that serve
# 64-bit programs, which must be 64-bit ones), COM servers exporting the entry points, and no MinGW
# runtime DLL among their imports.
set -uo pipefail
dir="${1:?usage: check-binaries.sh <bin dir>}"
fail=0; checked=0
for f in "$dir"/*.dll "$dir"/*.exe; do
  [ -e "$f" ] || continue
  case "$(basename "$f")" in *_tests.exe|*_test.exe) continue ;; esac
  checked=$((checked + 1))
  case "$(basename "$f")" in
    HookwireHook64.dll|HookwireAgent64.exe|HookTarget64.exe) format=pei-x86-64; objdump=x86_64-w64-mingw32-objdump; what=64 ;;
    *) format=pei-i386; objdump=i686-w64-mingw32-objdump; what=32 ;;
  esac
  info="$($objdump -p "$f" 2>&1)"
  if ! grep -q "file format $format" <<<"$info"; then echo "FAIL $f: not a $what-bit PE file"; fail=1; continue; fi
  if grep -iqE 'DLL Name: (libstdc\+\+|libgcc|libwinpthread)' <<<"$info"; then echo "FAIL $f: imports a MinGW runtime DLL"; fail=1; fi
  if [[ "$f" == *.dll ]] && grep -q DllRegisterServer "$f"; then
    for e in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer; do
      grep -qE "\] $e\$" <<<"$info" || { echo "FAIL $f: does not export $e"; fail=1; }
    done
  fi
  echo "ok   $(basename "$f")"
done
[ "$checked" -gt 0 ] || { echo "FAIL no binaries in $dir"; exit 1; }
exit $fail
