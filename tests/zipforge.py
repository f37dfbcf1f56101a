#!/usr/bin/python3
"""Writes a ZIP archive byte by byte from a JSON description, so tests can build archives that
no well-behaved tool would write: unsafe names, lying sizes, GBK names without the UTF-8 flag.

Usage: zipforge.py OUTPUT < '[{"name": "a.txt", "data": "hello"}, ...]'  (JSON on standard input)
The JSON may also be an object {"entries": [...], "count": N}: N is then the entry count the end
record declares.

Entry keys (all but name optional):
  name / name_hex     entry name as text (UTF-8) or as raw bytes in hex
  data                contents as text (default empty)
  repeat              how many times `data` is repeated (default 1)
  method              0 stored (default) or 8 deflate
  flags               general purpose bit flags (default 0x800 for non-ASCII text names)
  mode                Unix mode, e.g. 33188 for a regular 0644 file (default: none, DOS host)
  declared_size       uncompressed size written into both headers instead of the real one
  crc                 CRC written into both headers instead of the real one
  unicode_path        a name for an Info-ZIP Unicode path extra field (0x7075)
  zip64_size          a size declared through ZIP64 extra fields (data is still written as given)
  method_id           a raw method number written into the headers instead of `method`
  host                the "made by" host byte (default 3 with a mode, else 0)
  unix_time           seconds for an extended timestamp field (signed 32-bit)
  local_name          a different name for the local header only
  header_of           the index of an earlier entry whose local header this one points at
  compressed_size     a compressed size written into both headers instead of the real one
"""
import json
import struct
import sys
import zlib


def entry_bytes(entry):
    if "name_hex" in entry:
        name = bytes.fromhex(entry["name_hex"])
    else:
        name = entry["name"].encode("utf-8")
    data = entry.get("data", "").encode()
    data *= entry.get("repeat", 1)
    method = entry.get("method", 0)
    payload = data
    if method == 8:
        compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
        payload = compressor.compress(data) + compressor.flush()
    default_flags = 0x800 if "name" in entry and not entry["name"].isascii() else 0
    flags = entry.get("flags", default_flags)
    crc = entry.get("crc", zlib.crc32(data))
    size = entry.get("declared_size", len(data))
    compressed = entry.get("compressed_size", len(payload))
    extra = b""
    if "unicode_path" in entry:
        unicode = entry["unicode_path"].encode("utf-8")
        body = b"\x01" + struct.pack("<I", zlib.crc32(name)) + unicode
        extra += struct.pack("<HH", 0x7075, len(body)) + body
    if "zip64_size" in entry:
        body = struct.pack("<QQ", entry["zip64_size"], compressed)
        extra += struct.pack("<HH", 0x0001, len(body)) + body
        size = compressed = 0xFFFFFFFF
    if "unix_time" in entry:
        body = b"\x01" + struct.pack("<i", entry["unix_time"])
        extra += struct.pack("<HH", 0x5455, len(body)) + body
    mode = entry.get("mode")
    made_by = entry.get("host", 3 if mode is not None else 0) << 8 | 20
    attributes = (mode << 16) if mode is not None else 0
    method_id = entry.get("method_id", method)
    local_name = entry["local_name"].encode("utf-8") if "local_name" in entry else name
    return dict(name=name, local_name=local_name, payload=payload, method=method_id, flags=flags,
                crc=crc, size=size, compressed=compressed, extra=extra, made_by=made_by,
                attributes=attributes)


def forge(output, entries, count=None):
    body = bytearray()
    directory = bytearray()
    offsets = []
    for description in entries:
        e = entry_bytes(description)
        if "header_of" in description:
            offset = offsets[description["header_of"]]
        else:
            offset = len(body)
            body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, e["flags"], e["method"], 0,
                                0x21, e["crc"], e["compressed"], e["size"],
                                len(e["local_name"]), len(e["extra"]))
            body += e["local_name"] + e["extra"] + e["payload"]
        offsets.append(offset)
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, e["made_by"], 45, e["flags"],
                                 e["method"], 0, 0x21, e["crc"], e["compressed"], e["size"],
                                 len(e["name"]), len(e["extra"]), 0, 0, 0, e["attributes"],
                                 offset)
        directory += e["name"] + e["extra"]
    count = len(entries) if count is None else count
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(directory), len(body), 0)
    with open(output, "wb") as f:
        f.write(bytes(body + directory + end))


if __name__ == "__main__":
    description = json.load(sys.stdin)
    if isinstance(description, dict):
        forge(sys.argv[1], description["entries"], description.get("count"))
    else:
        forge(sys.argv[1], description)
