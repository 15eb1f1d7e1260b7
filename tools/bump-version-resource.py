#!/usr/bin/env python3
"""Writes a copy of a program whose version resource names another version.

    bump-version-resource.py IN.exe OUT.exe NEW_VERSION

The update tests need a "newer" build of a program without building the
project twice. The fixed part of the resource (VS_FIXEDFILEINFO: file and
product version) and its FileVersion / ProductVersion texts are rewritten in
place; the new version text must be as long as the old one, so nothing in the
file moves.
"""
import struct
import sys

src, dst, new = sys.argv[1], sys.argv[2], sys.argv[3]
data = bytearray(open(src, 'rb').read())
key = data.find('VS_VERSION_INFO'.encode('utf-16le'))
at = data.find(bytes.fromhex('bd04effe'), key) if key >= 0 else -1
if at < 0:
    sys.exit('no version resource in %s' % src)
ms, ls = struct.unpack_from('<II', data, at + 8)
old = '%d.%d.%d.%d' % (ms >> 16, ms & 0xffff, ls >> 16, ls & 0xffff)
parts = [int(p) for p in new.split('.')]
if len(parts) != 4 or len(new) != len(old):
    sys.exit('new version %s must have four parts and the length of %s' % (new, old))
fixed = struct.pack('<II', parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])
data[at + 8:at + 16] = fixed   # file version
data[at + 16:at + 24] = fixed  # product version
wide_old, wide_new = old.encode('utf-16le'), new.encode('utf-16le')
if data.count(wide_old) == 0:
    sys.exit('no version text %s in %s' % (old, src))
data = data.replace(wide_old, wide_new)
open(dst, 'wb').write(bytes(data))
