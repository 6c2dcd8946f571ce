#!/usr/bin/env python3
"""Adds type flags to one type of a built type library (MSFT format).

widl has no attribute for every type flag (predeclared identity, for one), so the
build sets them here: tlb_flags.py <in.tlb> <out.tlb> <guid> <flags-to-add>.
The type is found by its GUID; anything else in the file stays as it was.
"""
import struct
import sys
import uuid


def patch(data, guid, add):
    magic, = struct.unpack_from('<I', data, 0)
    if magic != 0x5446534D:
        raise SystemExit('not an MSFT type library')
    varflags, = struct.unpack_from('<i', data, 0x14)
    count, = struct.unpack_from('<i', data, 0x20)
    pos = 0x54 + (4 if varflags & 0x100 else 0)  # a help DLL adds one field
    offsets = struct.unpack_from('<%di' % count, data, pos)
    pos += 4 * count
    segments = [struct.unpack_from('<4i', data, pos + 16 * i) for i in range(15)]
    typeinfo_base = segments[0][0]
    guid_base = segments[5][0]
    wanted = uuid.UUID(guid).bytes_le
    for off in offsets:
        entry = typeinfo_base + off
        posguid, = struct.unpack_from('<i', data, entry + 0x2C)
        if posguid < 0 or data[guid_base + posguid:guid_base + posguid + 16] != wanted:
            continue
        flags, = struct.unpack_from('<i', data, entry + 0x30)
        struct.pack_into('<i', data, entry + 0x30, flags | add)
        return flags | add
    raise SystemExit('type %s not found' % guid)


def main():
    src, dst, guid, add = sys.argv[1:5]
    data = bytearray(open(src, 'rb').read())
    patch(data, guid, int(add, 0))
    open(dst, 'wb').write(bytes(data))


if __name__ == '__main__':
    main()
