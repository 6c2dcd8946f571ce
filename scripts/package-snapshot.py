#!/usr/bin/env python3
"""Snapshots of a Wine prefix for the package test (scripts/test-package.sh):

    package-snapshot.py take PREFIX OUT     the registry and drive C: as plain lines
    package-snapshot.py diff A B            what B adds, changes or lacks against A; exit 1 if any

The registry is read from the prefix's files (system.reg: HKEY_LOCAL_MACHINE, user.reg:
HKEY_CURRENT_USER, userdef.reg: the default user), so the Wine server must have stopped (it writes
them when it ends). Each value is one line `REG <root>\\<key>\\\\<name> = <data>`, each key one line
`KEY <root>\\<key>` (so an empty key left behind shows); each file `FILE <path> <size> <sha1>`, each
folder `DIR <path>`. Only what Wine itself changes while any program runs is left out (NOISE),
never anything under a key or folder the package touches.
"""
import hashlib
import os
import re
import sys

# What Wine itself adds while any program runs in a new prefix (seen around an install and
# uninstall of a package that held nothing but dummy files): its plug-and-play devices, the network
# cards it finds, the service keys its 32-bit side makes on first start.
NOISE = [
    r'^(KEY|REG) HKLM\\System\\ControlSet001\\Enum\\',
    r'^(KEY|REG) HKLM\\System\\ControlSet001\\Control\\(DeviceClasses|Class)\\',
    r'^(KEY|REG) HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards',
    r'^(KEY|REG) HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunServices',
]
ROOTS = {'system.reg': 'HKLM', 'user.reg': 'HKCU', 'userdef.reg': 'HKU\\.Default'}


def reg_lines(path, root):
    out = []
    key = None
    with open(path, encoding='utf-8', errors='replace') as f:
        text = f.read()
    text = re.sub(r'\\\n\s*', '', text)  # continued hex values
    for line in text.split('\n'):
        if line.startswith('['):
            m = re.match(r'\[(.*)\](?:\s+\d+)?\s*$', line)
            key = m.group(1).replace('\\\\', '\\') if m else None
            if key is not None:
                out.append('KEY %s\\%s' % (root, key))
        elif key is None or not line or line.startswith(('#', ';')):
            continue
        else:
            m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if m:
                name = m.group(1)
                out.append('REG %s\\%s\\\\%s = %s' % (root, key, name, m.group(2)))
    return out


def file_lines(drive_c):
    out = []
    for dirpath, dirnames, filenames in os.walk(drive_c):
        dirnames.sort()
        rel = os.path.relpath(dirpath, drive_c)
        if rel != '.':
            out.append('DIR %s' % rel.replace('/', '\\'))
        for n in sorted(filenames):
            p = os.path.join(dirpath, n)
            relp = os.path.relpath(p, drive_c).replace('/', '\\')
            if os.path.islink(p):
                out.append('FILE %s -> %s' % (relp, os.readlink(p)))
                continue
            h = hashlib.sha1()
            with open(p, 'rb') as f:
                for block in iter(lambda: f.read(1 << 20), b''):
                    h.update(block)
            out.append('FILE %s %d %s' % (relp, os.path.getsize(p), h.hexdigest()))
    return out


def noisy(line):
    return any(re.search(p, line, re.I) for p in NOISE)


def take(prefix, out):
    lines = []
    for f, root in ROOTS.items():
        p = os.path.join(prefix, f)
        if os.path.exists(p):
            lines += reg_lines(p, root)
    lines += file_lines(os.path.join(prefix, 'drive_c'))
    with open(out, 'w', encoding='utf-8') as f:
        f.write('\n'.join(l for l in lines if not noisy(l)) + '\n')


def entry(line):
    """The thing a line describes, without its data: a value's name, a file's path."""
    if line.startswith('REG '):
        return line.split(' = ', 1)[0]
    if line.startswith('FILE '):
        return line.rsplit(' ', 2)[0] if ' -> ' not in line else line.split(' -> ')[0]
    return line


def diff(a, b):
    def load(p):
        with open(p, encoding='utf-8') as f:
            return {entry(l): l for l in f.read().split('\n') if l}
    before, after = load(a), load(b)
    found = []
    for k in sorted(set(before) | set(after)):
        if k not in before:
            found.append('+ ' + after[k])
        elif k not in after:
            found.append('- ' + before[k])
        elif before[k] != after[k]:
            found.append('~ ' + after[k])
    for f in found:
        print(f)
    return 1 if found else 0


def main():
    if len(sys.argv) == 4 and sys.argv[1] == 'take':
        take(sys.argv[2], sys.argv[3])
        return 0
    if len(sys.argv) == 4 and sys.argv[1] == 'diff':
        return diff(sys.argv[2], sys.argv[3])
    sys.exit(__doc__)


if __name__ == '__main__':
    sys.exit(main())
