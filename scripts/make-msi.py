#!/usr/bin/env python3
"""Makes the installer package from both builds' binaries with wixl (Debian's msitools):

    make-msi.py --version 1.1.0 --build32 build/win32 --build64 build/win64 \
                --source . --out build/dist/Hookwire-1.1.0.msi

One dual-purpose x64 package (ALLUSERS=2, MSIINSTALLPERUSER=1): per user by default, without
elevation, the COM registration under HKEY_CURRENT_USER\\Software\\Classes; per machine with
ALLUSERS=1, under HKEY_LOCAL_MACHINE\\Software\\Classes. The installer writes the registration
itself (classes, ProgIDs, type libraries and their interfaces, as the servers' own
DllRegisterServer would): the 32-bit servers in the 32-bit view, the 64-bit ones in the 64-bit
view. A higher version replaces a lower one; uninstalling removes what the package wrote.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr

PRODUCT = 'Hookwire'
MANUFACTURER = 'The Hookwire developers'
# Fixed for the product's life: it is how an installed version finds the next one.
UPGRADE_CODE = '5B0E3C1A-7D24-4C6E-9A83-2F61D4B7E905'
# Component GUIDs are made from their names in this namespace: the same in every version.
COMPONENT_NAMESPACE = uuid.UUID('0C9D7E3B-41A8-4F52-B6E1-8A2D5C7F3B19')
FLOOR = 601  # VersionNT of Windows 7
PSOAINTERFACE = '{00020424-0000-0000-C000-000000000046}'  # the automation marshaler

# The COM servers: file, type library, its version and helpstring, the classes it serves.
SERVERS = [
    {'file': 'Hookwire.dll', 'tlb': 'hookwire/hookwire.tlb', 'idl': 'hookwire/hookwire.idl',
     'libid': '485B1F95-F7E3-11D1-9825-204C4F4F5020', 'libname': 'Hookwire window subclassing service',
     'classes': [('602B8906-F7EA-11D1-9825-204C4F4F5020', 'HookwireWindow',
                  'Hookwire.HookwireWindow.1', 'Hookwire.HookwireWindow')]},
    {'file': 'Glyphary.dll', 'tlb': 'menu/glyphary.tlb', 'idl': 'menu/glyphary.idl',
     'libid': '977F1580-3CE9-11D2-8E71-008048E27A77', 'libname': 'Glyphary owner-drawn menus with pictures',
     'classes': [('07E02C91-3CEA-11D2-8E71-008048E27A77', 'CGlyphary',
                  'Glyphary.CGlyphary.1', 'Glyphary.CGlyphary')]},
]
# Beside each Hookwire.dll: the hook DLLs and companions of both bitnesses.
HOOK_FILES = [('HookwireHook32.dll', 32), ('HookwireAgent32.exe', 32), ('HookwireHook64.dll', 64),
              ('HookwireAgent64.exe', 64)]


def automation_interfaces(idl_path):
    """(IID, name) of each dual or oleautomation interface the IDL itself defines: the ones
    RegisterTypeLib writes under Interface."""
    text = open(idl_path, encoding='utf-8').read()
    found = []
    for m in re.finditer(r'\[([^\[\]]*?)\]\s*interface\s+(\w+)\s*:', text, re.S):
        attrs, name = m.group(1), m.group(2)
        u = re.search(r'uuid\(([0-9A-Fa-f-]{36})\)', attrs)
        if u and re.search(r'\b(dual|oleautomation)\b', attrs):
            found.append((u.group(1).upper(), name))
    return found


def staged(path, work):
    """A copy of a binary without its debugging information (the build's own keeps it), made by
    the strip of the binary's bitness."""
    with open(path, 'rb') as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], 'little')
    machine = int.from_bytes(head[pe + 4:pe + 6], 'little')
    tool = {0x14C: 'i686-w64-mingw32-strip', 0x8664: 'x86_64-w64-mingw32-strip'}.get(machine)
    if not tool:
        sys.exit('make-msi: %s is no 32- or 64-bit PE file' % path)
    out_dir = os.path.join(work, 'stage', '%x' % machine)
    os.makedirs(out_dir, exist_ok=True)
    out = os.path.join(out_dir, os.path.basename(path))
    if not os.path.exists(out):
        run([tool, '--strip-all', '-o', out, path])
    return out


def library_flags(tlb):
    """The FLAGS that RegisterTypeLib writes: the library's flags from the type library's header,
    with LIBFLAG_FHASDISKIMAGE (8), since it is read from a file."""
    with open(tlb, 'rb') as f:
        head = f.read(0x20)
    if head[:4] != b'MSFT':
        sys.exit('make-msi: %s is not a type library' % tlb)
    return (int.from_bytes(head[0x1C:0x20], 'little') & 0xFFFF) | 8


class Wxs:
    """The package's source text; file sources are written relative to `work`, where wixl runs
    (it takes no absolute source path)."""
    def __init__(self, work):
        self.lines = []
        self.work = work

    def source(self, path):
        if path.lower().endswith(('.dll', '.exe')):
            path = staged(path, self.work)
        return quoteattr(os.path.relpath(os.path.abspath(path), self.work))

    def add(self, text):
        self.lines.append(text)

    def reg(self, key, value, name=None):
        attrs = 'Root="HKMU" Key=%s Type="string" Value=%s' % (quoteattr(key), quoteattr(value))
        if name is not None:
            attrs += ' Name=%s' % quoteattr(name)
        self.add('      <RegistryValue %s/>' % attrs)


def component(wxs, cid, win64, extra=''):
    guid = str(uuid.uuid5(COMPONENT_NAMESPACE, cid)).upper()
    wxs.add('    <Component Id="%s" Guid="%s"%s%s>' % (cid, guid, ' Win64="yes"' if win64 else '', extra))


def server_component(wxs, server, source, bits, interfaces):
    """The server's file and everything its DllRegisterServer would write."""
    base = server['file'].split('.')[0]
    cid = '%s%d' % (base, bits)
    fid = cid.lower()
    component(wxs, cid, bits == 64)
    wxs.add('      <File Id="%s" Name="%s" Source=%s KeyPath="yes"/>' % (fid, server['file'], wxs.source(source)))
    libid = '{%s}' % server['libid']
    for clsid, desc, progid, current in server['classes']:
        key = r'Software\Classes\CLSID\{%s}' % clsid
        wxs.reg(key, desc)
        wxs.reg(key + r'\InprocServer32', '[#%s]' % fid)
        wxs.reg(key + r'\InprocServer32', 'Apartment', 'ThreadingModel')
        wxs.reg(key + r'\ProgID', progid)
        wxs.reg(key + r'\VersionIndependentProgID', current)
        wxs.reg(key + r'\TypeLib', libid)
        for p in (progid, current):
            wxs.reg(r'Software\Classes\%s' % p, desc)
            wxs.reg(r'Software\Classes\%s\CLSID' % p, '{%s}' % clsid)
        wxs.reg(r'Software\Classes\%s\CurVer' % current, progid)
    lib = r'Software\Classes\TypeLib\%s\1.0' % libid
    wxs.reg(lib, server['libname'])
    wxs.reg(lib + r'\FLAGS', str(server['libflags'][bits]))
    wxs.reg(lib + r'\0\win%d' % bits, '[#%s]' % fid)
    wxs.reg(lib + r'\HELPDIR', '[%s]' % ('APPDIR64' if bits == 64 else 'APPDIR'))
    for iid, name in interfaces:
        key = r'Software\Classes\Interface\{%s}' % iid
        wxs.reg(key, name)
        wxs.reg(key + r'\ProxyStubClsid', PSOAINTERFACE)
        wxs.reg(key + r'\ProxyStubClsid32', PSOAINTERFACE)
        wxs.reg(key + r'\TypeLib', libid)
        wxs.reg(key + r'\TypeLib', '1.0', 'Version')
    wxs.add('    </Component>')


def plain_component(wxs, cid, name, source, win64):
    component(wxs, cid, win64)
    wxs.add('      <File Id="%s" Name="%s" Source=%s KeyPath="yes"/>' % (cid.lower(), name, wxs.source(source)))
    wxs.add('    </Component>')


def build_wxs(version, build32, build64, source, readme_txt, work):
    wxs = Wxs(work)
    comps = []
    wxs.add('<?xml version="1.0" encoding="utf-8"?>')
    wxs.add('<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    # One product code per version: a package built again for the same version is the same product
    # (installed over it as a repair), never a second copy beside it.
    product_code = str(uuid.uuid5(COMPONENT_NAMESPACE, 'product ' + version)).upper()
    wxs.add('  <Product Id="%s" Name="%s" Language="1033" Version="%s" Manufacturer="%s" UpgradeCode="%s">'
            % (product_code, PRODUCT, version, MANUFACTURER, UPGRADE_CODE))
    wxs.add('    <Package InstallerVersion="500" Compressed="yes" InstallScope="perUser"'
            ' Description="%s %s: Snoopet, Glyphary and Hookwire"/>' % (PRODUCT, version))
    wxs.add('    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>')
    wxs.add('    <Icon Id="Snoopet.exe" SourceFile=%s/>' % wxs.source(os.path.join(build32, 'bin', 'Snoopet.exe')))
    wxs.add('    <MajorUpgrade DowngradeErrorMessage="A newer version of %s is already installed."/>' % PRODUCT)
    wxs.add('    <Condition Message="%s needs Windows 7 or later.">Installed OR VersionNT &gt;= %d</Condition>'
            % (PRODUCT, FLOOR))
    # Dual purpose: per user unless ALLUSERS=1 (or MSIINSTALLPERUSER="") is given.
    wxs.add('    <Property Id="ALLUSERS" Value="2"/>')
    wxs.add('    <Property Id="MSIINSTALLPERUSER" Value="1"/>')
    wxs.add('    <Property Id="ARPNOMODIFY" Value="1"/>')
    wxs.add('    <Directory Id="TARGETDIR" Name="SourceDir">')
    wxs.add('     <Directory Id="ProgramMenuFolder">')
    wxs.add('      <Directory Id="MenuDir" Name="%s">' % PRODUCT)
    # The menu folder goes at uninstall; the component needs a key path of its own.
    component(wxs, 'MenuDir', False)
    wxs.add('      <RemoveFolder Id="RemoveMenuDir" On="uninstall"/>')
    wxs.reg(r'Software\%s' % PRODUCT, '1', 'StartMenuFolder')
    wxs.add('    </Component>')
    comps.append('MenuDir')
    wxs.add('      </Directory>')
    wxs.add('     </Directory>')
    wxs.add('     <Directory Id="ProgramFilesFolder">')
    wxs.add('      <Directory Id="APPDIR" Name="%s">' % PRODUCT)
    bin32, bin64 = os.path.join(build32, 'bin'), os.path.join(build64, 'bin')
    interfaces = {s['file']: automation_interfaces(os.path.join(source, s['idl'])) for s in SERVERS}
    for s in SERVERS:
        s['libflags'] = {32: library_flags(os.path.join(build32, s['tlb'])),
                         64: library_flags(os.path.join(build64, s['tlb']))}
    # 32-bit: what 32-bit programs load, Snoopet, the README.
    for s in SERVERS:
        server_component(wxs, s, os.path.join(bin32, s['file']), 32, interfaces[s['file']])
        comps.append('%s32' % s['file'].split('.')[0])
    for f, bits in HOOK_FILES:
        cid = 'x86_' + f.replace('.', '_')
        plain_component(wxs, cid, f, os.path.join(bin32 if bits == 32 else bin64, f), False)
        comps.append(cid)
    # Snoopet, and its Start-menu shortcut (advertised: wixl makes no other kind).
    component(wxs, 'Snoopet', False)
    wxs.add('      <File Id="snoopet" Name="Snoopet.exe" Source=%s KeyPath="yes">' % wxs.source(os.path.join(bin32, 'Snoopet.exe')))
    wxs.add('        <Shortcut Id="SnoopetMenu" Directory="MenuDir" Name="Snoopet" Advertise="yes"'
            ' Icon="Snoopet.exe" IconIndex="0" WorkingDirectory="APPDIR"/>')
    wxs.add('      </File>')
    wxs.add('    </Component>')
    comps.append('Snoopet')
    for s in SERVERS:
        cid = 'x86_' + s['tlb'].split('/')[-1].replace('.', '_')
        plain_component(wxs, cid, os.path.basename(s['file']).replace('.dll', '.tlb'),
                                    os.path.join(build32, s['tlb']), False)
        comps.append(cid)
    plain_component(wxs, 'Readme', 'README.txt', readme_txt, False)
    comps.append('Readme')
    # 64-bit: the servers for 64-bit programs, with their own hook DLLs and companions beside them.
    wxs.add('      <Directory Id="APPDIR64" Name="x64">')
    for s in SERVERS:
        server_component(wxs, s, os.path.join(bin64, s['file']), 64, interfaces[s['file']])
        comps.append('%s64' % s['file'].split('.')[0])
    for f, bits in HOOK_FILES:
        cid = 'x64_' + f.replace('.', '_')
        plain_component(wxs, cid, f, os.path.join(bin32 if bits == 32 else bin64, f), True)
        comps.append(cid)
    for s in SERVERS:
        cid = 'x64_' + s['tlb'].split('/')[-1].replace('.', '_')
        plain_component(wxs, cid, os.path.basename(s['file']).replace('.dll', '.tlb'),
                        os.path.join(build64, s['tlb']), True)
        comps.append(cid)
    wxs.add('      </Directory>')
    wxs.add('      </Directory>')
    wxs.add('     </Directory>')
    wxs.add('    </Directory>')
    wxs.add('    <Feature Id="Complete" Level="1" Title="%s">' % PRODUCT)
    for c in comps:
        wxs.add('      <ComponentRef Id="%s"/>' % c)
    wxs.add('    </Feature>')
    wxs.add('  </Product>')
    wxs.add('</Wix>')
    return '\n'.join(wxs.lines) + '\n'


def run(cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        sys.exit('make-msi: %s failed (%d):\n%s%s' % (cmd[0], r.returncode, r.stdout, r.stderr))
    return r.stdout


def fix_registry_roots(msi, work):
    """wixl 0.101 writes HKMU as root 4, which no installer knows; the Registry table's root for
    'HKCU when per user, HKLM when per machine' is -1."""
    idt = run(['msiinfo', 'export', msi, 'Registry'])
    rows = idt.split('\n')
    fixed = rows[:3]
    changed = 0
    for row in rows[3:]:
        cols = row.split('\t')
        if len(cols) >= 2 and cols[1] == '4':
            cols[1] = '-1'
            changed += 1
        fixed.append('\t'.join(cols))
    path = os.path.join(work, 'Registry.idt')
    with open(path, 'w', newline='') as f:
        f.write('\r\n'.join(r.rstrip('\r') for r in fixed))
    run(['msibuild', msi, '-i', path])
    return changed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--version', required=True)
    ap.add_argument('--build32', required=True)
    ap.add_argument('--build64', required=True)
    ap.add_argument('--source', required=True)
    ap.add_argument('--out', required=True)
    a = ap.parse_args()
    if not re.fullmatch(r'\d+\.\d+\.\d+', a.version):
        sys.exit('make-msi: the version must be major.minor.build, not %r' % a.version)
    os.makedirs(os.path.dirname(os.path.abspath(a.out)), exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        readme = os.path.join(work, 'README.txt')
        with open(os.path.join(a.source, 'README.md'), encoding='utf-8') as f:
            text = f.read()
        with open(readme, 'w', encoding='utf-8-sig', newline='\r\n') as f:
            f.write(text)
        wxs_path = os.path.join(work, '%s.wxs' % PRODUCT)
        with open(wxs_path, 'w', encoding='utf-8') as f:
            f.write(build_wxs(a.version, a.build32, a.build64, a.source, readme, work))
        tmp_out = os.path.abspath(a.out) + '.part'
        run(['wixl', '-a', 'x64', '-o', tmp_out, wxs_path], cwd=work)
        if fix_registry_roots(tmp_out, work) == 0:
            sys.exit('make-msi: no registry value to write per user or per machine')
        os.replace(tmp_out, a.out)
    print('make-msi: %s (%d bytes)' % (a.out, os.path.getsize(a.out)))


if __name__ == '__main__':
    main()
