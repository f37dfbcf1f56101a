#!/usr/bin/python3
"""Writes a ZIP archive byte by byte from JSON on standard input, archives no well-behaved tool
writes: zipforge.py OUTPUT < '["a.txt=hello", "sub/", "link -> a.txt"]' (a file, a folder, a
link), or {"entries": [...], "count": N, "keep": K, "zip64_end": D}: N entries in the end
record, K bytes kept, a ZIP64 end record on disk D (0 for one disk) whose end record says 0xFFFF
everywhere. An entry may be an object: name (UTF-8) or name_hex; data, repeated `repeat` times;
method (0 stored, 8 deflate, 93 Zstandard in two frames); flags (default 0x800 for non-ASCII
names); mode (Unix; none for DOS); dos_attributes (the low byte of the external attributes);
dos_time ("YYYY-MM-DD HH:MM:SS", local, default 1980-01-01 00:00:00); unix_time (an extended
timestamp); unicode_path (an Info-ZIP Unicode path field, for each header's own name). Lies:
crc, declared_size, compressed_size, zip64_size (in a ZIP64 field), method_id, local_name (in
the local header only, with flags of its own), header_of (the index of an earlier entry whose
local header it shares), flip (the offset of a byte of compressed data with one bit flipped),
payload_hex (the compressed data)."""
import json
import re
import struct
import subprocess
import sys
import zlib


def expand(e):
    if not isinstance(e, str):
        return e
    if " -> " in e:
        return dict(zip(("name", "data"), e.split(" -> ", 1)), mode=0o120777)
    name, _, data = e.partition("=")
    return {"name": name, "mode": 0o40755} if name.endswith("/") else {"name": name, "data": data}


def field(tag, body):
    return struct.pack("<HH", tag, len(body)) + body


def zstd(data):
    return subprocess.run(["zstd", "-q", "-c"], input=data, stdout=subprocess.PIPE).stdout


def compress(method, data):
    if method == 8:
        return zlib.compress(data, 6, -15)
    return zstd(data[: len(data) // 2]) + zstd(data[len(data) // 2 :]) if method == 93 else data


def forge(output, entries, count=None, keep=None, zip64_end=None):
    body, directory, offsets = bytearray(), bytearray(), []
    for e in map(expand, entries):
        name = bytes.fromhex(e["name_hex"]) if "name_hex" in e else e["name"].encode()
        data = e.get("data", "").encode() * e.get("repeat", 1)
        payload = bytearray.fromhex(e["payload_hex"]) if "payload_hex" in e else bytearray(
            compress(e.get("method", 0), data))
        if "flip" in e:
            payload[e["flip"]] ^= 1
        flags = e.get("flags", 0x800 if not e.get("name", "").isascii() else 0)
        local_name = e["local_name"].encode() if "local_name" in e else name
        local_flags = e.get("flags", 0x800 if not local_name.isascii() else 0)
        crc, size = e.get("crc", zlib.crc32(data)), e.get("declared_size", len(data))
        compressed = e.get("compressed_size", len(payload))
        extra = local_extra = b""
        if "unicode_path" in e:
            path = e["unicode_path"].encode()
            extra += field(0x7075, struct.pack("<BI", 1, zlib.crc32(name)) + path)
            local_extra += field(0x7075, struct.pack("<BI", 1, zlib.crc32(local_name)) + path)
        if "zip64_size" in e:
            extra += field(0x0001, struct.pack("<QQ", e["zip64_size"], compressed))
            local_extra += extra[-20:]
            size = compressed = 0xFFFFFFFF
        if "unix_time" in e:
            extra += field(0x5455, b"\x01" + struct.pack("<i", e["unix_time"]))
            local_extra += extra[-9:]
        method = e.get("method_id", e.get("method", 0))
        y, mo, d, h, mi, sec = map(int, re.split("[- :]", e.get("dos_time", "1980-01-01 0:0:0")))
        time, date = h << 11 | mi << 5 | sec // 2, (y - 1980) << 9 | mo << 5 | d
        offsets.append(offsets[e["header_of"]] if "header_of" in e else len(body))
        if "header_of" not in e:
            body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, local_flags, method, time, date,
                                crc, compressed, size, len(local_name), len(local_extra))
            body += local_name + local_extra + payload
        made_by = (3 if "mode" in e else 0) << 8 | 20  # Unix or DOS
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, made_by, 45, flags, method, time,
                                 date, crc, compressed, size, len(name), len(extra), 0, 0, 0,
                                 e.get("mode", 0) << 16 | e.get("dos_attributes", 0),
                                 offsets[-1]) + name + extra
    count = len(entries) if count is None else count
    fields = (0, 0, count, count, len(directory), len(body))
    if zip64_end is not None:
        at, disk = len(body) + len(directory), zip64_end
        directory += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, disk, disk, count, count,
                                 len(directory), len(body))
        directory += struct.pack("<IIQI", 0x07064B50, disk, at, disk + 1)
        fields = (0xFFFF,) * 4 + (0xFFFFFFFF,) * 2
    end = struct.pack("<IHHHHIIH", 0x06054B50, *fields, 0)
    with open(output, "wb") as f:
        f.write(bytes(body + directory + end)[:keep])


archive = json.load(sys.stdin)
forge(sys.argv[1], **(archive if isinstance(archive, dict) else {"entries": archive}))
