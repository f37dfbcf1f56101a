#!/usr/bin/env bash
# Makes the fuzz targets' seed corpus, which is committed as made (a few hundred bytes a file):
#  corpus/unpack: small archives of one tree (files, a folder, an empty folder, links) from our
#    packer (deflated and stored), Info-ZIP zip (also ZIP64 and encrypted), 7-Zip, bsdtar and
#    Python's zipfile (also a link chain that climbs out);
#  corpus/entries: entry lists for fuzz_entries, byte by byte (see fuzz_entries.cpp).
# Usage: fuzz/make_corpus.sh [BUILD_DIR], where BUILD_DIR holds the built archive component.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p t/sub t/empty
echo hello > t/a.txt
printf 'x%.0s' {1..200} > t/sub/b.txt
chmod 755 t/sub/b.txt
ln -s a.txt t/link
ln -s ../a.txt t/sub/up
touch -h -d @981173106 t/* t/sub/* t

g++ -std=c++17 -I"$here/.." -x c++ -o pack - -x none "$build/archive/libzrv_archive.a" \
    -ldeflate -lz -pthread <<'PROGRAM'
#include "archive/zrv_archive.h"
#include <cstdlib>
#include <cstring>
#include <string>
int main(int, char **argv) {
    const std::wstring folder(argv[1], argv[1] + std::strlen(argv[1]));
    const std::wstring archive(argv[2], argv[2] + std::strlen(argv[2]));
    return ZWZipCompress_t(L"", folder.c_str(), archive.c_str(), std::atoi(argv[3])) ? 0 : 1;
}
PROGRAM

out=$here/corpus/unpack
rm -rf "$out" && mkdir -p "$out"
./pack "$work/t" "$out/ours-deflated.zip" 1
./pack "$work/t" "$out/ours-stored.zip" 0
(cd t && zip -qry -X "$out/infozip.zip" .)
(cd t && zip -qry -X -fz "$out/infozip-zip64.zip" a.txt sub)
(cd t && zip -qr -X -P secret "$out/infozip-encrypted.zip" a.txt)
(cd t && 7zz a -tzip -bso0 "$out/7zip.zip" a.txt sub empty)
(cd t && bsdtar --format zip -cf "$out/bsdtar.zip" a.txt link sub)
/usr/bin/python3 - "$out" <<'PYTHON'
import sys, zipfile
def link(z, name, target):
    info = zipfile.ZipInfo(name)
    info.create_system, info.external_attr = 3, 0o120777 << 16
    z.writestr(info, target)
with zipfile.ZipFile(sys.argv[1] + "/python.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a.txt", "hello\n")
    z.writestr("sub/", "")
    link(z, "sub/up", "../a.txt")
with zipfile.ZipFile(sys.argv[1] + "/python-chain.zip", "w") as z:
    link(z, "a/a/up", "../..")
    for i in range(1, 41):
        link(z, f"a/a/L{i}", f"L{i + 1}")
    link(z, "a/a/L41", "up/../../..")
PYTHON

# Each entry: kind (0 file, 1 folder, 2 link, 3 chain), name shape and components, two mode
# bytes, then a file's length and bytes, a link's target, or a chain's length and last target.
out=$here/corpus/entries
rm -rf "$out" && mkdir -p "$out"
printf '\x00\x00\x00\x01\xa4\x05hello\x01\x01\x01\x01\xed' > "$out/file-and-folder"
printf '\x00\x00\x03\x01\xa4\x01x\x02\x00\x04\x00\x00\x00\x03' > "$out/link-to-file"
printf '\x02\x00\x04\x00\x00\x00\x08\x02\x00\x05\x00\x00\x00\x07' > "$out/loop"
printf '\x03\x00\x00\x00\x00\x27\x01\x00\x00' > "$out/chain-of-40-out"
printf '\x03\x00\x00\x00\x00\x28\x00\x03' > "$out/chain-of-41"
printf '\x01\x01\x00\x01\x01\xed\x02\x01\x00\x04\x00\x00\x02\x00\x01\x02\x00\x06\x00\x00\x00\x00' \
    > "$out/up-through-a-link"
printf '\x00\x00\x03\x0f\xff\x00' > "$out/setuid-file"
