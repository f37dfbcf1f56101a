// The archive component on real files: round trips checked by peers; unsafe, broken and odd
// archives; packing that fails; calls cut short by a full disk or a cancel.
#include "testsupport.h"

#include "archive/progress.h"
#include "archive/zrv_archive.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// For the set-ups. tricky: what breaks archivers, here: empty folders and files, Chinese names,
// commas, spaces, data that compresses, that does not and both, links, odd modes, old times.
// dated TIMES: in/dated with files of those modification times, and its copy in expected/.
// mixed: in/ with a tricky folder and a file beside it; huge_and_small: in/big with a sparse
// file over 4 GiB, then small entries; both copied to expected/.
// zipped METHOD ARCHIVE FILE...: Python's zipfile packs, to standard output (a pipe, so with data
// descriptors) for "-". peers_read ARCHIVE: unzip and Python's zipfile test it, unzip perhaps
// with a warning. forge ARCHIVE: zipforge from standard input. flip FILE OFFSET: one bit flips.
const char shell_functions[] = "forge() { /usr/bin/python3 '" TESTS_SOURCE_DIR
                               R"(/zipforge.py' "$1"; }
zipped() { /usr/bin/python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer if sys.argv[2] == "-" else sys.argv[2], "w",
                     int(sys.argv[1])) as z:
    [z.write(f) for f in sys.argv[3:]]' "$@"; }
peers_read() { unzip -tq "$1" > /dev/null || [ $? = 1 ]; /usr/bin/python3 -m zipfile -t "$1"; }
flip() { /usr/bin/python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2]))
b = f.read(1)[0]; f.seek(-1, 1); f.write(bytes([b ^ 1]))' "$@"; }
shuffled() { seq 199999 | shuf --random-source=<(yes); }
tricky() {
mkdir -p sub/deeper 空
printf 'comma and space\n' > 'a, b.txt'; : > 零.bin; echo 'read only' > ro.txt
printf '#!/bin/sh\n' > exec.sh; seq 100000 > sub/deeper/note.txt
head -c 3145745 /dev/urandom > big.bin; { seq 200000; head -c 2M /dev/urandom; } > mixed.bin
chmod 755 exec.sh; chmod 444 ro.txt; chmod 750 sub; ln -s 'a, b.txt' link; ln -s sub/deeper 'l 2'
touch -h -d @981173106 'a, b.txt' 零.bin big.bin sub/deeper/note.txt sub/deeper sub 空 .
}
dated() {
mkdir -p in/dated expected; for t; do echo $t > in/dated/$t; touch -d @$t in/dated/$t; done
touch -d @$1 in/dated; cp -a in/dated expected/
}
mixed() {
mkdir -p 'in/树 tree, 1' expected; (cd 'in/树 tree, 1'; tricky)
echo top > 'in/单独, 文件.txt'; cp -a 'in/单独, 文件.txt' 'in/树 tree, 1' expected/
}
huge_and_small() {
mkdir -p in/big expected; cd in/big; truncate -s 4294979641 'a huge'
dd if=<(printf wrap) of='a huge' bs=1 seek=4294967292 conv=notrunc
dd if=<(printf tail) of='a huge' bs=1 seek=4294979637 conv=notrunc
echo x > b; echo y > c; chmod 755 b; chmod 600 c; ln -s b d; cd ../..; cp -a in/big expected/
}
)";

// ae1 [bad]: turns the WinZip AE-2 archive a.zip (of in/) into AE-1, which stores each entry's
// CRC: the CRC of its data, or with "bad" a wrong one.
const char ae1_function[] = R"(ae1() {
/usr/bin/python3 - "$@" <<'END'
import os, struct, sys, zipfile, zlib
z, d = zipfile.ZipFile('a.zip'), bytearray(open('a.zip', 'rb').read())
d = bytearray(bytes(d).replace(b'\x01\x99\x07\x00\x02\x00AE', b'\x01\x99\x07\x00\x01\x00AE'))
at = z.start_dir
for i in z.infolist():
    f = i.filename.rstrip('/')
    data = b'' if i.is_dir() else open(f, 'rb').read()
    if os.path.islink(f):
        data = os.readlink(f).encode()
    crc = zlib.crc32(data) ^ (len(sys.argv) > 1)
    struct.pack_into('<I', d, i.header_offset + 14, crc)
    struct.pack_into('<I', d, at + 16, crc)
    at += 46 + sum(struct.unpack_from('<HHH', d, at + 28))
open('a.zip', 'wb').write(d)
END
}
)";

// Cancels the call it watches once `fraction` of its total is done: 0 before the call starts,
// 1 at the very end of its data, never when negative.
struct CancelAt : zrv::Progress {
    explicit CancelAt(double fraction) : fraction(fraction) {
        if (fraction == 0)
            cancel();
    }
    void advanced() override {
        if (fraction > 0 && double(done()) >= double(total()) * fraction)
            cancel();
    }
    double fraction;
};

// The local time zone is `zone` while this lives.
struct LocalZone {
    explicit LocalZone(const char *zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~LocalZone() {
        ::unsetenv("TZ");
        ::tzset();
    }
};

} // namespace

class TestArchive : public QObject {
    Q_OBJECT

private slots:
    void round_trip_data();
    void round_trip();
    void refused_archives_leave_nothing_data();
    void refused_archives_leave_nothing();
    void odd_but_honest_archives_unpack_data();
    void odd_but_honest_archives_unpack();
    void password_protected_archives_data();
    void password_protected_archives();
    void existing_targets_are_never_merged();
    void many_entries_in_bounded_memory_data();
    void many_entries_in_bounded_memory();
    void pack_failures_leave_nothing_data();
    void pack_failures_leave_nothing();
    void interrupted_calls_leave_nothing_data();
    void interrupted_calls_leave_nothing();
};

void TestArchive::round_trip_data() {
    // A script making in/ and, in expected/, what unpacking must give; the picks (a folder ends
    // with "/"); the compression flag. ZIP64 rows run only with COFFERBOX_SLOW=1: small entries
    // follow the huge, sparse one, so sizes and offsets wrap 32 bits.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("archive");
    for (const QStringList &row : table_rows(R"(
scenario | set-up | picks | flag
files, folders, links, modes and times | mixed | in/单独, 文件.txt; in/树 tree, 1/ | 1
the same, stored | mixed | in/单独, 文件.txt; in/树 tree, 1/ | 0
links that leave the folder are stored as the files they lead to | echo out > out;
    touch -d @981173106 out; mkdir -p in/top/sub expected; ln -s "$PWD/out" in/top/absolute;
    ln -s ../../../out in/top/sub/up; ln -s ../absolute in/top/sub/inside; cp -a in/top expected/;
    cp -p --remove-destination out expected/top/absolute;
    cp -p --remove-destination out expected/top/sub/up;
    touch -r in/top/sub expected/top/sub; touch -r in/top expected/top | in/top/ | 1
names that are not UTF-8 keep their bytes | mkdir -p in/legacy expected;
    for n in $'\xd6\xd0\xce\xc4.txt' $'caf\xe9 \x80\xfe'; do printf %s "$n" > "in/legacy/$n"; done;
    cp -a in/legacy expected/ | in/legacy/ | 1
times from 2038 to 2106 | dated 2208988800 4102444800 | in/dated/ | 1
times before 1970 and after 2106 | dated -5364662400 -1000000 7258118400 | in/dated/ | 1
picked paths ending in /. and /.. | mkdir -p in/tree/sub expected; echo f > in/tree/sub/f;
    touch -d @981173106 in/tree/sub; cp -a in/tree expected/tree; cp -a in/tree 'expected/tree (2)'
    | in/tree/./; in/tree/sub/../ | 1
nothing picked | mkdir expected |  | 1
a directory past the reader's 64 KiB buffer | mkdir -p in/m expected;
    for i in {0..1999}; do echo $i > in/m/named-$i; done; cp -a in/m expected/ | in/m/ | 0
ZIP64: 70,000 entries | mkdir -p in/many expected; for i in {0..69999}; do echo $i > in/many/$i;
    done; cp -a in/many expected/ | in/many/ | 0
ZIP64: a file over 4 GiB, then an executable, a private file and a link | huge_and_small
    | in/big/ | 1
)"))
        QTest::newRow(qPrintable(row[0])) << row[1] << row[2].split("; ", Qt::SkipEmptyParts)
                                          << row[3].toInt() << "AddData/a.zrvdata";
    const QString longest = QString(251, 'n') + ".txt";
    QTest::newRow("two 255-byte names, the second numbered to fit, in a 255-byte archive")
        << QString("mkdir -p in/a in/b expected; echo 1 > in/a/%1; echo 2 > in/b/%1\n"
                   "cp -p in/a/%1 expected/; cp -p in/b/%1 'expected/%2 (2).txt'")
               .arg(longest, QString(247, 'n'))
        << QStringList{"in/a/" + longest, "in/b/" + longest} << 1
        << "AddData/" + QString(247, 'z') + ".zrvdata";
}

void TestArchive::round_trip() {
    QFETCH(QString, setup);
    QFETCH(QStringList, picks);
    QFETCH(int, flag);
    QFETCH(QString, archive);
    if (QByteArray(QTest::currentDataTag()).startsWith("ZIP64") &&
        !qEnvironmentVariableIsSet("COFFERBOX_SLOW"))
        QSKIP("slow: set COFFERBOX_SLOW=1");
    WorkingFolder dir;
    sh(".", shell_functions + setup);
    QStringList files, folders;
    for (const QString &pick : picks)
        (pick.endsWith('/') ? folders : files) << dir.filePath(pick.chopped(pick.endsWith('/')));

    QVERIFY(pack(files, folders, archive, flag));
    QVERIFY(unpack(archive, "ours"));
    QCOMPARE(zip_objections(archive, flag), QByteArray());
    const CommandResult tested = run("7zz", {"t", archive});
    QVERIFY2(tested.exit_code == 0, tested.output.right(2000));
    const CommandResult unzipped = run("unzip", {"-q", archive, "-d", "unzip"});
    QVERIFY2(unzipped.exit_code == (picks.isEmpty() ? 1 : 0), unzipped.output.right(2000));

    // Names as bytes, types, contents, link targets, permissions and times, from us and from
    // unzip, which reads no time before 1970 or after 2106.
    const Tree wanted = snapshot("expected");
    QCOMPARE(snapshot("ours"), wanted);
    Tree from_unzip = snapshot("unzip");
    for (auto it = from_unzip.begin(); it != from_unzip.end(); ++it)
        if (const qint64 time = wanted.value(it.key()).mtime; time < 0 || time > 0xFFFFFFFFLL)
            it->mtime = time;
    QCOMPARE(from_unzip, wanted);
    // The folder made for the archive is an ordinary one, open to others as the umask allows.
    QCOMPARE(QFileInfo("ours").permissions(), QFileInfo("expected").permissions());
    // The same input gives the same archive.
    QVERIFY(pack(files, folders, "again", flag));
    QVERIFY(run("cmp", {archive, "again"}).exit_code == 0);
}

// Archives refused whole, a row each: the cause its one line names; the archive, JSON for zipforge
// or a bash script that makes bad.zip; for an unsafe archive, a control that differs only in the
// unsafe part and unpacks, so the guard is what stops the other. Both get an ok.txt first. OUTSIDE
// is a file beside the work folder.
const char refused_archives[] = R"(
scenario | cause | made by | archive | control
dot-dot name | unsafe | zipforge | ["../../outside.txt=pwned"] | ["inside.txt=pwned"]
dot-dot inside a folder | unsafe | zipforge | ["sub/../../../outside.txt"] | ["sub/inside.txt"]
absolute name | unsafe | zipforge | ["OUTSIDE=pwned"] | ["inside.txt=pwned"]
drive letter from Windows | unsafe | zipforge | ["C:/outside.txt"] | ["C_/outside.txt"]
backslashes from Unix | unsafe | zipforge | [{"name": "..\\..\\outside.txt", "mode": 33188}] |
    [{"name": "sub\\inside.txt", "mode": 33188}]
backslashes from Windows | unsafe | zipforge | ["..\\..\\outside.txt"] | ["sub\\inside.txt"]
UNC name | unsafe | zipforge | ["\\\\server\\share\\outside.txt"] | ["server\\share\\inside.txt"]
control character | unsafe | zipforge | ["bad\u0001name.txt"] | ["badname.txt"]
C1 control character | unsafe | zipforge | ["bad\u0085name.txt"] | ["bad\u00a0name.txt"]
terminal escape in a name | unsafe | zipforge | ["\u001b[2J\u0007.txt\r"] | ["[2J.txt"]
Unicode path field leads out | unsafe | zipforge | [{"name": "a", "unicode_path":
    "../../outside.txt"}] | [{"name": "a", "unicode_path": "b"}]
link out, then a file through it | esc | zipforge | ["esc -> ../..", "esc/outside.txt"] | ["esc ->
    sub", "sub/inside.txt"]
link out, then a link under it | esc | zipforge | ["esc -> ..", "esc/x -> y"] | ["esc/", "esc/x ->
    y"]
a link under a link to its own folder, leading out | esc/x | zipforge | ["esc -> .", "esc/x -> .."]
    | ["esc/", "esc/x -> .."]
links that point at each other | loops | zipforge | ["a -> b", "b -> a"] | ["a -> b", "b -> c"]
absolute link | leads outside | zipforge | ["esc -> OUTSIDE"] | ["esc -> ok.txt"]
link out through another link | leads outside | zipforge | ["a/b/up -> ../..", "esc ->
    a/b/up/../outside.txt"] | ["a/b/up -> ../..", "esc -> a/b/up/ok.txt"]
device node | special file | zipforge | [{"name": "dev", "mode": 8612}] | [{"name": "dev", "mode":
    33188}]
FIFO | special file | zipforge | [{"name": "fifo", "mode": 4516}] | [{"name": "fifo", "mode":
    33188}]
a link target of 4096 bytes, 4095 in the control: a limit off by one either way fails
    | longer than 4095 bytes | zipforge
    | [{"name": "l", "mode": 41471, "data": "a/", "repeat": 2048}]
    | [{"name": "l", "mode": 41471, "data": "a/aa/", "repeat": 819}]
a file where a folder is needed | needs a folder | zipforge | ["f=1", "f/x=2"] | ["f/", "f/x=2"]
bad CRC | CRC | zipforge | [{"name": "big", "method": 8, "data": "0", "repeat": 3000000, "crc":
    1234}] | 
more data than declared | more than it declares | zipforge | [{"name": "big", "method": 8, "data":
    "0", "repeat": 3000000, "declared_size": 1000}] | 
less data than declared | wrong size | zipforge | [{"name": "big", "method": 8, "data": "0",
    "repeat": 3000000, "declared_size": 5000000}] | 
encrypted, no password | no password | zipforge | [{"name": "a", "data": "twelve bytes", "flags":
    1}] | 
strong encryption | strong encryption | zipforge | [{"name": "a", "data": "twelve bytes", "flags":
    65}] | 
method 99, no AES field | method 99 | zipforge | [{"name": "a", "data": "twelve bytes", "method_id":
    99}] | 
unknown compression method | compression method | zipforge | [{"name": "a", "method_id": 77}] | 
PPMd from 7-Zip | uses compression method 98 (PPMd) | bash | seq 9999 > b; 7zz a -tzip -mm=PPMd
    -bso0 bad.zip b | 
Deflate64 from 7-Zip | uses compression method 9 (Deflate64) | bash | seq 9999 > b; 7zz a -tzip
    -mm=Deflate64 -bso0 bad.zip b | 
bzip2 with a bit flipped | damaged entry b: invalid bzip2 data | bash | seq 99999 > b; zipped 12
    bad.zip b; flip bad.zip 1000 | 
LZMA with a bit flipped | damaged entry b: invalid LZMA data | bash | seq 99999 > b; zipped 14
    bad.zip b; flip bad.zip 1000 | 
XZ with a bit flipped | damaged entry b: invalid XZ data | bash | seq 99999 > b; 7zz a -tzip -mm=XZ
    -bso0 bad.zip b; flip bad.zip 1000 | 
Zstandard with a window of 256 MiB | b: its Zstandard window exceeds 128 MiB | zipforge | [{"name":
    "b", "data": "x", "method": 93, "payload_hex": "28b52ffd009009000078"}] | 
Zstandard with a bit flipped | damaged entry b: invalid Zstandard data | zipforge | [{"name": "b",
    "method": 93, "data": "zstd\n", "repeat": 100000, "flip": 12}] | 
declared sizes beyond the free space, the huge one first | free | zipforge | [{"name": "huge",
    "zip64_size": 1125899906842624}, "ok.txt"] | 
truncated | no end of central directory | zipforge | {"entries": [{"name": "a", "data": "x",
    "repeat": 5000}], "keep": 1000} | 
local name differs from the listed one | disagrees | zipforge | [{"name": "a", "local_name":
    "other.txt"}] | 
local name leads out | disagrees | zipforge | [{"name": "a", "local_name": "../../a"}] | 
five listed entries share one local header | overlapping | zipforge | ["f=one", {"name": "f",
    "data": "one", "header_of": 0}, {"name": "f", "data": "one", "header_of": 0}, {"name": "f",
    "data": "one", "header_of": 0}, {"name": "f", "data": "one", "header_of": 0}] | 
an entry overlaps the next | overlapping entries: a.txt and b.txt | zipforge | [{"name": "a.txt",
    "data": "aaaa", "compressed_size": 100}, {"name": "b.txt", "data": "b", "repeat": 200}] | 
the end record counts more entries than listed | end record says 2 | zipforge | {"entries":
    ["a.txt"], "count": 2} | 
the end record counts fewer entries than listed | more entries than the end record | zipforge |
    {"entries": ["a.txt", "b.txt"], "count": 1} | 
the ZIP64 end record on a second disk | several disks | zipforge | {"entries": ["a.txt"],
    "zip64_end": 1} | 
a FIFO that nothing writes to | not a regular file | bash | mkfifo bad.zip | 
a folder | not a regular file | bash | mkdir bad.zip | 
)";

void TestArchive::refused_archives_leave_nothing_data() {
    QTest::addColumn<bool>("scripted");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QByteArray>("control");
    for (const QStringList &row : table_rows(refused_archives)) {
        const auto with_ok = [](const QString &entries) {
            return entries.isEmpty() ? QByteArray()
                                     : "[\"ok.txt=fine\", " + entries.mid(1).toUtf8();
        };
        QTest::newRow(qPrintable(row[0]))
            << (row[2] == "bash") << (row[4].isEmpty() ? row[3].toUtf8() : with_ok(row[3]))
            << row[1].toUtf8() << with_ok(row[4]);
    }
}

void TestArchive::refused_archives_leave_nothing() {
    QFETCH(bool, scripted);
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, reason);
    QFETCH(QByteArray, control);
    TempFolder dir;
    const QString outside = dir.filePath("outside.txt"), work = dir.filePath("work/");
    sh(work, "echo unmodified > ../outside.txt");
    if (!control.isEmpty()) {
        forge_zip(work + "control.zip", control.replace("OUTSIDE", outside.toUtf8()));
        QVERIFY(unpack(work + "control.zip", work + "control"));
    }
    const QString path = work + "bad.zip";
    if (scripted)
        sh(work, shell_functions + archive);
    else
        forge_zip(path, archive.replace("OUTSIDE", outside.toUtf8()));
    const QStringList before = entries(work);

    const QByteArray error = capture(2, [&] { QVERIFY(!unpack(path, work + "out")); });
    QVERIFY2(error.contains("bad.zip") && error.contains(reason) && error.count('\n') == 1, error);
    // Names in the cause line are escaped: no raw C0 or C1 character reaches a terminal.
    for (int i = 0; i + 1 < error.size(); ++i)
        QVERIFY2(uchar(error[i]) >= 0x20 && error[i] != 0x7F &&
                     !(uchar(error[i]) == 0xC2 && uchar(error[i + 1]) < 0xA0),
                 error.toHex());
    QCOMPARE(entries(work), before);
    QCOMPARE(entries(dir.path()), QStringList({"outside.txt", "work"}));
    QCOMPARE(snapshot(dir.path()).value("outside.txt").content, QByteArray("unmodified\n"));
}

// Odd archives that unpack, a row each. The archive: JSON for zipforge, or a bash script making
// odd.zip with a peer, which checks first that unzip and Python read shapes that other readers
// take. What unpacking gives, in the zone UTC+8, in zipforge's notation: " mode 755" or " time
// -31536000" where those matter, names that are not UTF-8 as "bytes:" and hex, $(COMMAND) for what
// the command prints.
const char odd_but_honest_archives[] = R"rows(
scenario | made by | archive | unpacked
empty archive | zipforge | [] | []
Info-ZIP's zip | bash | mkdir -p d/e; echo 1 > d/a; seq 99999 > b; ln -s d/a c; zip -qry odd.zip b c
    d | ["b=SEQ", "c -> d/a", "d/", "d/a=1\n", "d/e/"]
7-Zip | bash | mkdir -p d/e; echo 1 > d/a; seq 99999 > b; 7zz a -tzip -bso0 odd.zip b d | ["b=SEQ",
    "d/", "d/a=1\n", "d/e/"]
Python's zipfile | bash | mkdir -p d/e; echo 1 > d/a; seq 99999 > b; /usr/bin/python3 -m zipfile -c
    odd.zip b d | ["b=SEQ", "d/", "d/a=1\n", "d/e/"]
bzip2 from Python's zipfile | bash | shuffled > b; : > e; zipped 12 odd.zip b e | ["b=$(shuffled)",
    "e="]
LZMA with an end marker, from Python's zipfile | bash | shuffled > b; : > e; zipped 14 odd.zip b e |
    ["b=$(shuffled)", "e="]
LZMA without an end marker, from 7-Zip | bash | shuffled > b; 7zz a -tzip -mm=LZMA:eos=off -bso0
    odd.zip b | ["b=$(shuffled)"]
XZ from 7-Zip | bash | shuffled > b; : > e; 7zz a -tzip -mm=XZ -bso0 odd.zip b e | ["b=$(shuffled)",
    "e="]
Zstandard in two frames, as bsdtar reads it | bash | forge odd.zip <<< '[{"name": "b", "method": 93,
    "data": "zstd\n", "repeat": 100000}]'; bsdtar -xOf odd.zip|cmp - <(yes zstd|head -n 100000) |
    ["b=$(yes zstd|head -n 100000)"]
deflate with a data descriptor, 1000 to 1, its last run giving two buffers | bash | printf %0262304d
    0 > z; zipped 8 - z|cat > odd.zip; peers_read odd.zip | ["z=$(printf %0262304d 0)"]
a ZIP64 end record, the end record all 0xFFFF, disk numbers too | bash | forge odd.zip <<<
    '{"entries": ["a.txt=1"], "zip64_end": 0}'; peers_read odd.zip | ["a.txt=1"]
a self-extractor's stub before the archive, offsets not adjusted | bash | echo 1 > a.txt; zip -q
    a.zip a.txt; { printf '#!/bin/sh\nexit\n'; cat a.zip; } > odd.zip; peers_read odd.zip |
    ["a.txt=1\n"]
the same with ZIP64 end records | bash | forge a.zip <<< '{"entries": ["a.txt=1"], "zip64_end": 0}';
    { printf '#!/bin/sh\nexit\n'; cat a.zip; } > odd.zip; peers_read odd.zip | ["a.txt=1"]
local names in UTF-8, the listed ones in CP437, both with Unicode path fields | bash | forge odd.zip
    <<< '[{"name_hex": "63616682", "local_name": "caf\u00e9", "unicode_path": "caf\u00e9", "data":
    "x"}]'; peers_read odd.zip | ["caf\u00e9=x"]
bsdtar's layout with ./ for the root | zipforge | ["./", "./sub/", "./sub/a.txt=a"] | ["sub/",
    "sub/a.txt=a"]
backslash and colon in names from Unix | zipforge | [{"name": "a\\b", "data": "x", "mode": 33188},
    {"name": "a:b", "data": "y", "mode": 33188}] | ["a:b=y", "a\\b=x"]
backslash in a name from Windows | zipforge | ["a\\b=x"] | ["a/", "a/b=x"]
without the UTF-8 flag: GBK from Windows, one not GBK | zipforge | [{"name_hex": "9c5ccbae2e747874",
    "data": "1"}, {"name_hex": "d6d0cec4c4bfc2bc2fcec4bcfe2e747874", "data": "2"}, {"name_hex":
    "ff", "data": "3"}, "标记=4"] | ["bytes:ff=3", "中文目录/", "中文目录/文件.txt=2",
    "标记=4", "淺水.txt=1"]
without the UTF-8 flag: CP932 from Japanese Windows, one name GBK too | zipforge | [{"name_hex":
    "b12e747874", "data": "1"}, {"name_hex": "8341834a", "data": "2"}] | ["アカ=2", "ｱ.txt=1"]
UTF-8 without the flag | zipforge | [{"name_hex": "e6b7bae6b0b42e747874", "data": "1", "flags": 0}]
    | ["淺水.txt=1"]
a name that is not UTF-8, from Unix | zipforge | [{"name_hex": "ff66e9", "data": "x", "mode":
    33188}] | ["bytes:ff66e9=x"]
composed and decomposed forms are two files | zipforge | ["caf\u00e9=1", "cafe\u0301=2"] |
    ["cafe\u0301=2", "caf\u00e9=1"]
one name three times | zipforge | ["d.txt=1", "d.txt=2", "d.txt=3"] | ["d (2).txt=2", "d (3).txt=3",
    "d.txt=1"]
a file, then a link and a file of its name | zipforge | ["x=1", "x -> y", "x=2"] | ["x=1", "x (2) ->
    y", "x (3)=2"]
DOS time alone, read in the local zone, UTC+8: a reading as UTC or an hour off fails | zipforge
    | [{"name": "d", "data": "x", "dos_time": "2001-02-03 04:05:00"}] | ["d=x time 981144300"]
DOS seconds in 2-second steps: a field of 29 read undoubled fails | zipforge
    | [{"name": "d", "data": "x", "dos_time": "2001-02-03 04:05:58"}] | ["d=x time 981144358"]
setuid bits are dropped | zipforge | [{"name": "suid", "mode": 36333, "data": "x"}] | ["suid=x mode
    755"]
the read-only attribute of a Windows entry: write bits kept when it is ignored fails | zipforge
    | [{"name": "ro", "data": "x", "dos_attributes": 1}] | ["ro=x mode 444"]
a time before 1970 | zipforge | [{"name": "old", "data": "x", "mode": 33188, "unix_time":
    -31536000}] | ["old=x time -31536000"]
)rows";

void TestArchive::odd_but_honest_archives_unpack_data() {
    QTest::addColumn<bool>("scripted");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QStringList>("listed");
    for (const QStringList &row : table_rows(odd_but_honest_archives))
        QTest::newRow(qPrintable(row[0]))
            << (row[1] == "bash") << row[2].toUtf8()
            << QJsonDocument::fromJson(row[3].toUtf8()).toVariant().toStringList();
}

void TestArchive::odd_but_honest_archives_unpack() {
    QFETCH(bool, scripted);
    QFETCH(QByteArray, archive);
    QFETCH(QStringList, listed);
    TempFolder dir;
    const LocalZone east_of_utc("Asia/Shanghai"); // so a DOS time read as UTC shows
    if (scripted)
        sh(dir.filePath("peer"), shell_functions + archive + "; mv odd.zip ..");
    else
        forge_zip(dir.filePath("odd.zip"), archive);
    QVERIFY(unpack(dir.filePath("odd.zip"), dir.filePath("out")));
    listed.replaceInStrings("SEQ", run("seq", {"99999"}).output);
    static const QRegularExpression command(R"(\$\((.*)\)$)");
    for (QString &line : listed)
        if (const QRegularExpressionMatch found = command.match(line); found.hasMatch())
            line.replace(found.capturedStart(), found.capturedLength(),
                         run("bash", {"-c", shell_functions + found.captured(1)}).output);
    const Tree tree = snapshot(dir.filePath("out"));
    QStringList shown;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString line = it.key() + (it->type == 'd'   ? "/"
                                         : it->type == 'l' ? " -> " + it->content
                                                           : "=" + it->content);
        const QString mode = line + " mode " + QString::number(it->perm, 8);
        const QString time = line + " time " + QString::number(it->mtime);
        shown << (listed.contains(mode) ? mode : listed.contains(time) ? time : line);
    }
    QCOMPARE(shown, listed);
}

void TestArchive::password_protected_archives_data() {
    // Who makes a.zip of in/ ("ours" with a password through the C API, else a peer's command);
    // the password given to unpack it (none when empty); whether one bit in the middle of the
    // archive, inside a large file's ciphertext, is flipped first; the kind of failure
    // ZWZipLastFailure then reports, 0 when in/ unpacks whole.
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("flipped");
    QTest::addColumn<int>("kind");
    for (const QStringList &row : table_rows(R"(
scenario | packed by | password | bit flipped | failure kind
ours, a password that is not ASCII | ours 密码 pass | 密码 pass | 0 | 0
ours, the wrong password | ours 密码 pass | 密码 pasS | 0 | 3
ours, no password | ours 密码 pass |  | 0 | 2
ours, one bit of ciphertext flipped | ours 密码 pass | 密码 pass | 1 | 8
7-Zip, AES-256 | 7zz a -tzip -snl -pk7 -mem=AES256 a.zip in | k7 | 0 | 0
7-Zip, AES-128 | 7zz a -tzip -snl -pk7 -mem=AES128 a.zip in | k7 | 0 | 0
7-Zip, AES-256, the wrong password | 7zz a -tzip -snl -pk7 -mem=AES256 a.zip in | k8 | 0 | 3
7-Zip's made AE-1 | 7zz a -tzip -snl -pk7 -mem=AES256 a.zip in; ae1 | k7 | 0 | 0
AE-1 with a wrong CRC | 7zz a -tzip -snl -pk7 -mem=AES256 a.zip in; ae1 bad | k7 | 0 | 8
7-Zip, AES-256, one bit flipped | 7zz a -tzip -snl -pk7 -mem=AES256 a.zip in | k7 | 1 | 8
7-Zip's ZipCrypto (CRC check byte) | 7zz a -tzip -snl -pk7 -mem=ZipCrypto a.zip in | k7 | 0 | 0
7-Zip, ZipCrypto, the wrong password | 7zz a -tzip -snl -pk7 -mem=ZipCrypto a.zip in | k8 | 0 | 3
zip -e's ZipCrypto (time check byte) | zip -qry -P z1 a.zip in | z1 | 0 | 0
zip -e, the wrong password | zip -qry -P z1 a.zip in | z2 | 0 | 3
zip -e, no password | zip -qry -P z1 a.zip in |  | 0 | 2
zip -e, one bit flipped | zip -qry -P z1 a.zip in | z1 | 1 | 8
mixed, plain and encrypted | zip -qry a.zip in -x in/small; zip -qP m a.zip in/small | m | 0 | 0
)"))
        QTest::newRow(qPrintable(row[0])) << row[1] << row[2] << (row[3] == "1") << row[4].toInt();
}

void TestArchive::password_protected_archives() {
    QFETCH(QString, maker);
    QFETCH(QString, password);
    QFETCH(bool, flipped);
    QFETCH(int, kind);
    WorkingFolder dir;
    // Files of one piece and of several, stored and deflated, an empty one and a link.
    sh(".", R"(mkdir -p in/sub; head -c 1500000 /dev/urandom > in/random.bin; echo hi > in/small
: > in/empty; seq 300000 > in/sub/seq.txt; ln -s small in/link)");
    if (maker.startsWith("ours ")) {
        const QString secret = maker.mid(5);
        QVERIFY(pack({}, {dir.filePath("in")}, "a.zip", 1, secret));
        const CommandResult tested = run("7zz", {"t", "-p" + secret, "a.zip"});
        QVERIFY2(tested.exit_code == 0, tested.output.right(2000));
        QVERIFY(run("7zz", {"x", "-p" + secret, "-o7z", "a.zip"}).exit_code == 0);
        QCOMPARE(snapshot("7z/in"), snapshot("in"));
        QVERIFY(run("7zz", {"t", "-p" + secret + "x", "a.zip"}).exit_code != 0);
    } else {
        sh(".", ae1_function + maker);
    }
    if (flipped)
        sh(".", R"sh(n=$(($(stat -c %s a.zip) / 2)); b=$(od -An -tu1 -j$n -N1 a.zip)
printf "\\$(printf %o $((b ^ 4)))" | dd of=a.zip bs=1 seek=$n conv=notrunc status=none)sh");
    const QStringList before = entries(".");
    bool ok = false;
    const QByteArray error = capture(2, [&] { ok = unpack("a.zip", "out", password); });
    QCOMPARE(ZWZipLastFailure(), kind);
    QVERIFY2(ok == (kind == 0) && error.count('\n') == int(!ok), error);
    if (kind == 0)
        QCOMPARE(snapshot("out/in"), snapshot("in"));
    else
        QCOMPARE(entries("."), before);
}

void TestArchive::existing_targets_are_never_merged() {
    // A full folder, twice; an empty one; a name as long as the file system allows.
    WorkingFolder dir;
    forge_zip("a.zip", R"(["keep=new"])");
    sh(".", "mkdir a empty; echo old > a/keep");
    const QString longest(255, 'n');
    for (const QString &target : QStringList{"a", "a", "empty", longest})
        QVERIFY(unpack("a.zip", target));
    QCOMPARE(run("bash", {"-c", "grep -r '' --exclude=a.zip * | sort"}).output,
             "a (2)/keep:new\na (3)/keep:new\na/keep:old\nempty (2)/keep:new\n" + longest.toUtf8() +
                 "/keep:new\n");
}

void TestArchive::many_entries_in_bounded_memory_data() {
    // Each call runs in a child whose address space may grow only this much past what it had:
    // packing holds pieces in flight and a stack a thread; unpacking once held every entry,
    // name and staging node, and needed more than 48 MiB for these.
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("headroom");
    for (const QStringList &row : table_rows(R"(
scenario | call | MiB past the start
packing 70,000 files | pack | 64
unpacking them | unpack | 32
)"))
        QTest::newRow(qPrintable(row[0])) << row[1] << row[2].toInt();
}

void TestArchive::many_entries_in_bounded_memory() {
    QFETCH(QString, call);
    QFETCH(int, headroom);
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves its shadow memory in the address space");
#endif
    if (!qEnvironmentVariableIsSet("COFFERBOX_SLOW"))
        QSKIP("slow: set COFFERBOX_SLOW=1");
    WorkingFolder dir;
    sh(".", "mkdir -p in/many; cd in/many; for i in {0..69999}; do echo $i > $i; done");
    const QString archive = dir.filePath("many.zip");
    if (call == "unpack")
        QVERIFY(pack({}, {dir.filePath("in/many")}, archive, 0));
    const pid_t child = ::fork();
    if (child == 0) {
        const long page = ::sysconf(_SC_PAGESIZE);
        long pages = 0;
        std::FILE *statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1)
            ::_exit(100);
        std::fclose(statm);
        const rlim_t bytes = rlim_t(pages) * rlim_t(page) + (rlim_t(headroom) << 20);
        const struct rlimit limit = {bytes, bytes};
        ::setrlimit(RLIMIT_AS, &limit);
        const bool ok = call == "pack" ? pack({}, {dir.filePath("in/many")}, archive, 0)
                                       : unpack(archive, dir.filePath("out"));
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    const QString unpacked = call == "pack" ? "check" : "out";
    if (call == "pack")
        QVERIFY(unpack(archive, dir.filePath(unpacked)));
    QCOMPARE(QDir(dir.filePath(unpacked + "/many")).count(), 70002u); // with . and ..
}

void TestArchive::pack_failures_leave_nothing_data() {
    // Files and folders picked, the archive, the path the cause names, and the cause; whether a
    // watcher is attached, which keeps the default answer to "skip what cannot be packed?": no.
    QTest::addColumn<QStringList>("call");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<bool>("watched");
    for (const QStringList &row : table_rows(R"(
scenario | files | folders | archive | path named | cause | watched
missing file | in/file.txt,in/missing.txt |  | AddData/a.zrvdata | in/missing.txt | No such file |
    no
missing folder |  | in/gone | AddData/a.zrvdata | in/gone | No such file | no
a pipe | in/pipe |  | AddData/a.zrvdata | in/pipe | not a regular | no
a pipe inside a folder |  | in | AddData/a.zrvdata | in/pipe | not a regular file, folder or link,
    but a FIFO | no
a pipe inside a folder, watched |  | in | AddData/a.zrvdata | in/pipe | not a regular file, folder
    or link, but a FIFO | yes
a file that grows past its listed size | in/file.txt,/proc/self/status |  | AddData/a.zrvdata |
    /proc/self/status | size is not | no
a file that shrinks below its listed size | in/file.txt,/sys/devices/system/cpu/online |  |
    AddData/a.zrvdata | /sys/devices/system/cpu/online | size is not | no
archive already exists | in/file.txt |  | AddData/old.zrvdata | AddData/old.zrvdata | exists | no
archive folder is a file | in/file.txt |  | in/file.txt/a.zrvdata | in/file.txt | Not a directory |
    no
archive folders made for a call that fails | in/missing.txt |  | new/deeper/a.zrvdata |
    in/missing.txt | No such file | no
a control character in a name |  | odd/control | AddData/a.zrvdata | odd/control/bad\x1B[0m.txt |
    control character | no
a link that leads out to a folder |  | odd/to a folder | AddData/a.zrvdata | odd/to a folder/l |
    outside the folder, to a folder | no
a link that leads out to nothing |  | odd/to nothing | AddData/a.zrvdata | odd/to nothing/l |
    outside the folder, to nothing | no
a link that leads out to nothing, watched |  | odd/to nothing | AddData/a.zrvdata | odd/to nothing/l
    | outside the folder, to nothing | yes
a link that leads out to a pipe |  | odd/to a pipe | AddData/a.zrvdata | odd/to a pipe/l | outside
    the folder, to a FIFO | no
links that loop |  | odd/loop | AddData/a.zrvdata | odd/loop/a | loops | no
)"))
        QTest::newRow(qPrintable(row[0])) << row.mid(1, 4) << row[5].toUtf8() << (row[6] == "yes");
}

void TestArchive::pack_failures_leave_nothing() {
    QFETCH(QStringList, call);
    QFETCH(QByteArray, reason);
    QFETCH(bool, watched);
    WorkingFolder dir;
    sh(".", R"(mkdir -p in AddData odd/control 'odd/to a folder' 'odd/to nothing' 'odd/to a pipe'
mkdir odd/loop; echo data > in/file.txt; mkfifo in/pipe; echo old > AddData/old.zrvdata
echo data > $'odd/control/bad\e[0m.txt'; ln -s /usr 'odd/to a folder/l'
ln -s ../../../nowhere 'odd/to nothing/l'; ln -s ../../in/pipe 'odd/to a pipe/l'
ln -s b odd/loop/a; ln -s a odd/loop/b; find . -type d -exec touch -d 2000-01-01 {} +)");
    // A failed call may have made and removed its temporary archive, which moves folder times.
    const auto contents = [] {
        Tree tree = snapshot(".");
        for (Node &node : tree)
            node.mtime = node.type == 'd' ? 0 : node.mtime;
        return tree;
    };
    const Tree before = contents();
    // Picked paths are absolute, as the dialogs give them: lists split at commas before a "/".
    const auto absolute = [](const QString &list) {
        QStringList paths;
        for (const QString &path : list.split(',', Qt::SkipEmptyParts))
            paths << QDir::current().absoluteFilePath(path);
        return paths;
    };
    zrv::Progress watcher;
    zrv::attach_progress(watched ? &watcher : nullptr);
    const QByteArray error =
        capture(2, [&] { QVERIFY(!pack(absolute(call[0]), absolute(call[1]), call[2])); });
    zrv::attach_progress(nullptr);
    QVERIFY2(error.contains(call[3].toUtf8()) && error.contains(reason) && error.count('\n') == 1,
             error);
    QCOMPARE(contents(), before);
    // The watcher learns the cause as data, naming the same path.
    QCOMPARE(watcher.failure().path, watched ? dir.filePath(call[3]).toStdString() : "");
}

void TestArchive::interrupted_calls_leave_nothing_data() {
    // Packing, or unpacking, a folder with one large file of this size, 50 small ones and a
    // link; stopped by a file-size limit of 256 KiB ("disk"), or cancelled once this fraction
    // of the work is done (0 before it starts, 1 at the very end of its data), or not at all.
    QTest::addColumn<bool>("packing");
    QTest::addColumn<int>("large");
    QTest::addColumn<QString>("stop");
    for (const QStringList &row : table_rows(R"(
scenario | packing | large file | stop
packing, the disk fills | 1 | 2097152 | disk
packing, the disk fills at the close, before anything reached it | 1 | 524288 | disk
unpacking, the disk fills | 0 | 2097152 | disk
unpacking a large file, the disk fills while inflating still runs | 0 | 25165824 | disk
packing, cancelled before it starts | 1 | 25165824 | 0
packing, cancelled in the middle | 1 | 25165824 | 0.5
packing, cancelled at the very end of its data | 1 | 25165824 | 1
packing, not cancelled: the counters reach their totals | 1 | 25165824 | never
unpacking, cancelled before it starts | 0 | 25165824 | 0
unpacking, cancelled in the middle | 0 | 25165824 | 0.5
unpacking, cancelled at the very end of its data | 0 | 25165824 | 1
unpacking, not cancelled: the counters reach their totals | 0 | 25165824 | never
)"))
        QTest::newRow(qPrintable(row[0])) << (row[1] == "1") << row[2].toInt() << row[3];
}

void TestArchive::interrupted_calls_leave_nothing() {
    QFETCH(bool, packing);
    QFETCH(int, large);
    QFETCH(QString, stop);
    TempFolder dir;
    const QString tree = dir.filePath("in/tree"), archive = dir.filePath("out/a.zrvdata");
    sh(tree, QString("head -c %1 /dev/urandom > large; ln -s large link; mkdir small\n"
                     "for i in {0..49}; do head -c $((1000 + i)) /dev/zero > small/$i; done")
                 .arg(large));
    if (!packing)
        QVERIFY(pack({}, {tree}, archive));
    const QStringList before = entries(dir.filePath("out"));
    const auto call = [&] {
        return packing ? pack({}, {tree}, archive) : unpack(archive, dir.filePath("out/a"));
    };
    if (stop == "disk") {
        // A child process whose files may not grow past 256 KiB: a write fails part-way.
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {256 << 10, 256 << 10};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(call() ? 0 : ZWZipLastFailure());
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), int(zrv::FailureKind::disk_full));
    } else {
        CancelAt progress(stop == "never" ? -1 : stop.toDouble());
        zrv::attach_progress(&progress);
        bool ok = false;
        const QByteArray error = capture(2, [&] { ok = call(); });
        zrv::attach_progress(nullptr);
        QCOMPARE(ok, stop == "never");
        QVERIFY2(ok || (error.contains("cancelled") && error.count('\n') == 1), error);
        if (ok) {
            QCOMPARE(qint64(progress.total()), large + 50 * 1000 + 49 * 50 / 2);
            QCOMPARE(progress.done(), progress.total());
            return;
        }
    }
    QCOMPARE(entries(dir.filePath("out")), before);
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
