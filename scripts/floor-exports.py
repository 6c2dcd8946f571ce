#!/usr/bin/env python3
"""Makes packaging/floor-exports.txt, the functions the platform floor (Windows 7) exports, for
scripts/check-imports.py. Run by hand when a binary starts importing from a DLL the list lacks:

    python3 scripts/floor-exports.py [0x0601] > packaging/floor-exports.txt

How the list is made (see the file's header for its limits):
1. The exports of each DLL, from the MinGW-w64 import libraries of both bitnesses (what a binary
   can link against at all: every Windows version up to the newest).
2. The system DLLs' functions are kept only when the MinGW-w64 SDK headers declare them with
   _WIN32_WINNT / WINVER / NTDDI_VERSION set to the floor: the headers hide what came later
   (GetSystemTimePreciseAsFileTime is declared from 0x0602 on).
3. LATER_THAN_FLOOR below removes what the headers declare at the floor although the platform's
   documentation gives a later minimum version.
msvcrt.dll is not versioned by those headers: its list is the import library's (it describes the
system's msvcrt.dll, which MinGW-w64 targets from Windows XP on).
"""
import os
import re
import subprocess
import sys
import tempfile

DLLS = ['kernel32', 'user32', 'gdi32', 'advapi32', 'ole32', 'oleaut32', 'comctl32', 'comdlg32',
        'shell32', 'shlwapi', 'uxtheme', 'msimg32', 'version', 'msvcrt']
HEADERS = ['windows.h', 'commctrl.h', 'commdlg.h', 'shellapi.h', 'shlobj.h', 'shlwapi.h', 'ole2.h',
           'oleauto.h', 'olectl.h', 'ocidl.h', 'uxtheme.h', 'winver.h', 'psapi.h', 'tlhelp32.h',
           'winternl.h', 'wincrypt.h', 'sddl.h', 'aclapi.h']
LIBDIRS = {'i686': '/usr/i686-w64-mingw32/lib', 'x86_64': '/usr/x86_64-w64-mingw32/lib'}

# Declared by the headers at the floor, but documented as newer than Windows 7 (Microsoft's
# function pages, "Minimum supported client"). Add to it whenever the two disagree.
LATER_THAN_FLOOR = {
    'kernel32!GetSystemTimePreciseAsFileTime',   # Windows 8; sysinfoapi.h declares it unguarded
}


def exports(dll):
    names = set()
    for arch, libdir in LIBDIRS.items():
        lib = os.path.join(libdir, 'lib%s.a' % dll)
        if not os.path.exists(lib):
            continue
        out = subprocess.run(['%s-w64-mingw32-nm' % arch, '--defined-only', lib],
                             capture_output=True, text=True).stdout
        for m in re.finditer(r' I __imp_(\S+)', out):
            n = m.group(1)
            if arch == 'i686':
                n = n[1:] if n.startswith('_') else n   # the C decoration
                n = re.sub(r'@\d+$', '', n)             # __stdcall's argument size
            names.add(n)
    return names


def declared(winnt):
    src = ''.join('#include <%s>\n' % h for h in HEADERS)
    src += '#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n#include <wchar.h>\n'
    with tempfile.NamedTemporaryFile('w', suffix='.c', delete=False) as f:
        f.write(src)
    try:
        out = subprocess.run(['x86_64-w64-mingw32-gcc', '-E', '-P', '-D_WIN32_WINNT=%s' % winnt,
                              '-DWINVER=%s' % winnt, '-DNTDDI_VERSION=%s0000' % winnt,
                              '-DWIN32_LEAN_AND_MEAN', f.name],
                             capture_output=True, text=True, check=True).stdout
    finally:
        os.unlink(f.name)
    return set(re.findall(r'\b([A-Za-z_]\w*)\s*\(', out))


def main():
    floor = sys.argv[1] if len(sys.argv) > 1 else '0x0601'
    at_floor = declared(floor)
    print('# The functions Windows %d.%d (_WIN32_WINNT %s) exports, per DLL, that our binaries may import.'
          % (int(floor, 16) >> 8, int(floor, 16) & 255, floor))
    print('# Made by scripts/floor-exports.py: the MinGW-w64 import libraries, less what the MinGW-w64')
    print('# headers declare only above the floor, less the documented exceptions listed in that script.')
    print('# Limits: a function the headers declare unguarded although it is newer, and that the script')
    print('# does not list, passes; msvcrt.dll is taken from its import library as a whole.')
    for dll in DLLS:
        names = exports(dll)
        if dll != 'msvcrt':
            names = {n for n in names if n in at_floor}
        names = {n for n in names if '%s!%s' % (dll, n) not in LATER_THAN_FLOOR}
        for n in sorted(names):
            print('%s.dll!%s' % (dll, n))


if __name__ == '__main__':
    main()
