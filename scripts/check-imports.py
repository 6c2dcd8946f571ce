#!/usr/bin/env python3
"""Checks shipped binaries against the platform floor and the product version.

    check-imports.py --exports LIST --floor 0x0601 --version 1.1.0 BINARY...

For each PE file: every function it imports must be in LIST (the floor's exports, one
`dll!function` a line, kept in the tree: packaging/floor-exports.txt), the PE header must name
the floor as the oldest operating system and subsystem version, and the version resource must
carry the product version. Prints one line per binary and every finding; exits 1 on any.
"""
import argparse
import struct
import sys


class PeError(Exception):
    pass


class Pe:
    def __init__(self, path):
        with open(path, 'rb') as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b'MZ':
            raise PeError('not a PE file')
        pe = struct.unpack_from('<I', d, 0x3C)[0]
        if d[pe:pe + 4] != b'PE\0\0':
            raise PeError('not a PE file')
        self.machine, nsections = struct.unpack_from('<HH', d, pe + 4)
        opt_size = struct.unpack_from('<H', d, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from('<H', d, opt)[0]
        if magic == 0x10B:
            self.bits, dirs = 32, opt + 96
        elif magic == 0x20B:
            self.bits, dirs = 64, opt + 112
        else:
            raise PeError('unknown optional header')
        self.os_version = struct.unpack_from('<HH', d, opt + 40)
        self.subsystem_version = struct.unpack_from('<HH', d, opt + 48)
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            vsize, va, rawsize, rawptr = struct.unpack_from('<IIII', d, sec + 40 * i + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))
        self.dirs = [struct.unpack_from('<II', d, dirs + 8 * i) for i in range(16)]

    def offset(self, rva):
        for va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise PeError('address 0x%x lies outside the file' % rva)
                return rawptr + rva - va
        raise PeError('address 0x%x in no section' % rva)

    def cstr(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b'\0', o)].decode('ascii')

    def imports(self):
        """[(dll lower-case, name or '#ordinal')]: the import table and the delay-load table."""
        out = []
        rva, _ = self.dirs[1]
        while rva:
            o = self.offset(rva)
            lookup, _, _, name, thunks = struct.unpack_from('<IIIII', self.data, o)
            if not (lookup or name or thunks):
                break
            out += [(self.cstr(name).lower(), f) for f in self._thunks(lookup or thunks)]
            rva += 20
        rva, _ = self.dirs[13]
        while rva:
            o = self.offset(rva)
            attrs, name, _, _, names = struct.unpack_from('<IIIII', self.data, o)
            if not name:
                break
            out += [(self.cstr(name).lower(), f) for f in self._thunks(names)]
            rva += 32
        return out

    def _thunks(self, rva):
        size, fmt = (8, '<Q') if self.bits == 64 else (4, '<I')
        flag = 1 << (size * 8 - 1)
        while True:
            v = struct.unpack_from(fmt, self.data, self.offset(rva))[0]
            if not v:
                return
            yield '#%d' % (v & 0xFFFF) if v & flag else self.cstr((v & 0x7FFFFFFF) + 2)
            rva += size

    def file_version(self):
        """FILEVERSION of the first VS_FIXEDFILEINFO in the resources, or None."""
        rva, size = self.dirs[2]
        if not rva:
            return None
        o = self.offset(rva)
        blob = self.data[o:o + size]
        at = blob.find(struct.pack('<I', 0xFEEF04BD))
        if at < 0:
            return None
        ms, ls = struct.unpack_from('<II', blob, at + 8)
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def read_exports(path):
    allowed = set()
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith('#'):
                dll, _, name = line.partition('!')
                allowed.add((dll.lower(), name))
    return allowed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--exports', required=True)
    ap.add_argument('--floor', required=True, help='e.g. 0x0601')
    ap.add_argument('--version', required=True, help='e.g. 1.1.0')
    ap.add_argument('binaries', nargs='+')
    a = ap.parse_args()
    allowed = read_exports(a.exports)
    floor = int(a.floor, 16)
    floor = (floor >> 8, floor & 0xFF)
    want = tuple(int(x) for x in (a.version.split('.') + ['0', '0', '0'])[:4])
    dlls = {dll for dll, _ in allowed}
    failures = 0
    for path in a.binaries:
        name = path.replace('\\', '/').rsplit('/', 1)[-1]
        problems = []
        try:
            pe = Pe(path)
            imports = pe.imports()
            for dll, fn in sorted(set(imports)):
                if (dll, fn) in allowed:
                    continue
                if dll not in dlls:
                    problems.append('imports from %s, a DLL the floor list does not know (%s)' % (dll, fn))
                else:
                    problems.append('imports %s!%s, which Windows %d.%d does not export' % (dll, fn, *floor))
            if pe.os_version != floor:
                problems.append('PE header names operating system %d.%d, not the floor %d.%d'
                                % (*pe.os_version, *floor))
            if pe.subsystem_version != floor:
                problems.append('PE header names subsystem %d.%d, not the floor %d.%d'
                                % (*pe.subsystem_version, *floor))
            version = pe.file_version()
            if version != want:
                problems.append('version resource says %s, the product is %s'
                                % ('.'.join(map(str, version)) if version else 'nothing', '.'.join(map(str, want))))
        except (OSError, PeError, struct.error, ValueError) as e:
            problems.append('cannot be read: %s' % e)
            imports = []
        if problems:
            failures += 1
            for p in problems:
                print('FAIL %s: %s' % (name, p))
        else:
            print('ok   %s: %d imports from %d DLLs, all in Windows %d.%d'
                  % (name, len(set(imports)), len({d for d, _ in imports}), *floor))
    print('%d passed, %d failed' % (len(a.binaries) - failures, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
