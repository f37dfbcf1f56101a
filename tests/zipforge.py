#!/usr/bin/python3
"""Writes a ZIP archive byte by byte from JSON on standard input, archives no well-behaved tool
writes: zipforge.py OUTPUT < '["a.txt=hello", "sub/", "link -> a.txt"]' (a file, a folder, a
link), or {"entries": [...], "count": N, "keep": K}: N entries in the end record, K bytes kept.
An entry may be an object: name (UTF-8) or name_hex; data, repeated `repeat` times; method (0
stored, 8 deflate); flags (default 0x800 for non-ASCII names); mode (Unix; none for DOS);
unix_time (an extended timestamp); unicode_path (an Info-ZIP Unicode path field). Lies: crc,
declared_size, compressed_size, zip64_size (in a ZIP64 field), method_id, local_name (in the
local header only), header_of (the index of an earlier entry whose local header it shares)."""
import json
import struct
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


def forge(output, entries, count=None, keep=None):
    body, directory, offsets = bytearray(), bytearray(), []
    for e in map(expand, entries):
        name = bytes.fromhex(e["name_hex"]) if "name_hex" in e else e["name"].encode()
        data = e.get("data", "").encode() * e.get("repeat", 1)
        payload = zlib.compress(data, 6, -15) if e.get("method", 0) == 8 else data
        flags = e.get("flags", 0x800 if not e.get("name", "").isascii() else 0)
        crc, size = e.get("crc", zlib.crc32(data)), e.get("declared_size", len(data))
        compressed = e.get("compressed_size", len(payload))
        extra = b""
        if "unicode_path" in e:
            unicode = struct.pack("<BI", 1, zlib.crc32(name)) + e["unicode_path"].encode()
            extra += field(0x7075, unicode)
        if "zip64_size" in e:
            extra += field(0x0001, struct.pack("<QQ", e["zip64_size"], compressed))
            size = compressed = 0xFFFFFFFF
        if "unix_time" in e:
            extra += field(0x5455, b"\x01" + struct.pack("<i", e["unix_time"]))
        method = e.get("method_id", e.get("method", 0))
        offsets.append(offsets[e["header_of"]] if "header_of" in e else len(body))
        if "header_of" not in e:
            local_name = e["local_name"].encode() if "local_name" in e else name
            body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, flags, method, 0, 0x21, crc,
                                compressed, size, len(local_name), len(extra))
            body += local_name + extra + payload
        made_by = (3 if "mode" in e else 0) << 8 | 20  # Unix or DOS
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, made_by, 45, flags, method, 0,
                                 0x21, crc, compressed, size, len(name), len(extra), 0, 0, 0,
                                 e.get("mode", 0) << 16, offsets[-1]) + name + extra
    count = len(entries) if count is None else count
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(directory), len(body), 0)
    with open(output, "wb") as f:
        f.write(bytes(body + directory + end)[:keep])


archive = json.load(sys.stdin)
archive = archive if isinstance(archive, dict) else {"entries": archive}
forge(sys.argv[1], archive["entries"], archive.get("count"), archive.get("keep"))
