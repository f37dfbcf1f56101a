// The archive component on real files: round trips checked by peers, peers' archives read,
// unsafe and broken archives refused whole, odd but honest ones unpacked, packing that fails,
// and calls cut short by a full disk or a cancel.
#include "testsupport.h"

#include "archive/progress.h"

#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// What tends to break archivers: empty folders and files, Chinese names, commas and spaces,
// files that compress, that do not, and both in one, links, unusual modes and old times.
const char tricky_tree[] = R"(mkdir -p sub/deeper 空
printf 'comma and space\n' > 'a, b.txt'; : > 零.bin; echo 'read only' > ro.txt
printf '#!/bin/sh\n' > exec.sh; seq 100000 > sub/deeper/note.txt
head -c 3145745 /dev/urandom > big.bin; { seq 200000; head -c 2M /dev/urandom; } > mixed.bin
chmod 755 exec.sh; chmod 444 ro.txt; chmod 750 sub; ln -s 'a, b.txt' link; ln -s sub/deeper 'l 2'
touch -h -d @981173106 'a, b.txt' 零.bin big.bin sub/deeper/note.txt sub/deeper sub 空 .
)";

QString in_folder(const QString &folder, const QString &script) {
    return QString("mkdir -p '%1' && (cd '%1'\n%2)\n").arg(folder, script);
}

// Files with these modification times (seconds) in in/dated, and its copy in expected.
QString dated(const QString &times) {
    return "mkdir -p in/dated expected; set -- " + times +
           "; for t; do echo $t > in/dated/$t; touch -d @$t in/dated/$t; done\n"
           "touch -d @$1 in/dated; cp -a in/dated expected/";
}

// Cancels the call it watches once `fraction` of its total is done: 0 before the call starts,
// 1 at the very end of its data, never when negative.
class CancelAt : public zrv::Progress {
public:
    explicit CancelAt(double fraction) : fraction(fraction) {
        if (fraction == 0)
            cancel();
    }

protected:
    void advanced() override {
        if (fraction > 0 && double(done()) >= double(total()) * fraction)
            cancel();
    }

private:
    double fraction;
};

} // namespace

class TestArchive : public QObject {
    Q_OBJECT

private slots:
    void round_trip_data();
    void round_trip();
    void we_read_peer_archives_data();
    void we_read_peer_archives();
    void refused_archives_leave_nothing_data();
    void refused_archives_leave_nothing();
    void odd_but_honest_archives_unpack_data();
    void odd_but_honest_archives_unpack();
    void existing_targets_are_never_merged();
    void pack_failures_leave_nothing_data();
    void pack_failures_leave_nothing();
    void interrupted_calls_leave_nothing_data();
    void interrupted_calls_leave_nothing();
};

void TestArchive::round_trip_data() {
    // A script that makes in/ and what unpacking must give in expected/; the paths picked (a
    // folder ends with "/"); the compression flag; the archive.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("archive");
    const QString tree = "in/树 tree, 1", file = "in/单独, 文件.txt", archive = "AddData/a.zrvdata";
    const QString tricky = in_folder(tree, tricky_tree) + "echo top > '" + file +
                           "'; mkdir expected; cp -a '" + file + "' '" + tree + "' expected/";
    QTest::newRow("files, folders, links, modes and times")
        << tricky << QStringList{file, tree + "/"} << 1 << archive;
    QTest::newRow("the same, stored") << tricky << QStringList{file, tree + "/"} << 0 << archive;
    QTest::newRow("links that leave the folder are stored as the files they lead to")
        << R"(echo outside > outside.txt; touch -d @981173106 outside.txt; mkdir -p in/top/sub
ln -s "$PWD/outside.txt" in/top/absolute; ln -s ../../../outside.txt in/top/sub/up
ln -s ../absolute in/top/sub/inside; mkdir expected; cp -a in/top expected/
cp -p --remove-destination outside.txt expected/top/absolute
cp -p --remove-destination outside.txt expected/top/sub/up
touch -r in/top/sub expected/top/sub; touch -r in/top expected/top)"
        << QStringList{"in/top/"} << 1 << archive;
    QTest::newRow("names that are not UTF-8 keep their bytes")
        << R"(mkdir -p in/legacy expected; for n in $'\xd6\xd0\xce\xc4.txt' $'caf\xe9 \x80\xfe'
do printf %s "$n" > "in/legacy/$n"; done; cp -a in/legacy expected/)"
        << QStringList{"in/legacy/"} << 1 << archive;
    QTest::newRow("times from 2038 to 2106")
        << dated("2208988800 4102444800") << QStringList{"in/dated/"} << 1 << archive;
    QTest::newRow("times before 1970 and after 2106")
        << dated("-5364662400 -1000000 7258118400") << QStringList{"in/dated/"} << 1 << archive;
    QTest::newRow("picked paths ending in /. and /..")
        << "mkdir -p in/tree/sub expected; echo f > in/tree/sub/f; touch -d @981173106 "
           "in/tree/sub\n"
           "cp -a in/tree expected/tree; cp -a in/tree 'expected/tree (2)'"
        << QStringList{"in/tree/./", "in/tree/sub/../"} << 1 << archive;
    const QString longest = QString(251, 'n') + ".txt";
    QTest::newRow("two 255-byte names, the second numbered to fit, in a 255-byte archive")
        << QString("mkdir -p in/a in/b expected; echo 1 > in/a/%1; echo 2 > in/b/%1\n"
                   "cp -p in/a/%1 expected/; cp -p in/b/%1 'expected/%2 (2).txt'")
               .arg(longest, QString(247, 'n'))
        << QStringList{"in/a/" + longest, "in/b/" + longest} << 1
        << "AddData/" + QString(247, 'z') + ".zrvdata";
    QTest::newRow("nothing picked") << "mkdir expected" << QStringList{} << 1 << archive;
    // Slow: run with COFFERBOX_SLOW=1. The small entries follow the huge one, so their headers
    // lie past 4 GiB; the huge one is sparse, with bytes where 32-bit sizes and offsets wrap.
    QTest::newRow("ZIP64: 70,000 entries")
        << "mkdir -p in/many expected; for i in {0..69999}; do echo $i > in/many/$i; done\n"
           "cp -a in/many expected/"
        << QStringList{"in/many/"} << 0 << archive;
    QTest::newRow("ZIP64: a file over 4 GiB, then an executable, a private file and a link")
        << R"(mkdir -p in/big expected && cd in/big; truncate -s 4294979641 'a huge'
printf wrap | dd of='a huge' bs=1 seek=4294967292 conv=notrunc status=none
printf tail | dd of='a huge' bs=1 seek=4294979637 conv=notrunc status=none
echo x > b; echo y > c; chmod 755 b; chmod 600 c; ln -s b d; cd ../..; cp -a in/big expected/)"
        << QStringList{"in/big/"} << 1 << archive;
}

void TestArchive::round_trip() {
    QFETCH(QString, setup);
    QFETCH(QStringList, picks);
    QFETCH(int, flag);
    QFETCH(QString, archive);
    if (QByteArray(QTest::currentDataTag()).startsWith("ZIP64") &&
        !qEnvironmentVariableIsSet("COFFERBOX_SLOW"))
        QSKIP("slow: set COFFERBOX_SLOW=1");
    QTemporaryDir dir;
    sh(dir.path(), setup);
    QStringList files, folders;
    for (const QString &pick : picks)
        (pick.endsWith('/') ? folders : files) << dir.filePath(pick.chopped(pick.endsWith('/')));
    archive = dir.filePath(archive);

    QVERIFY(pack(files, folders, archive, flag));
    QVERIFY(unpack(archive, dir.filePath("ours")));
    QCOMPARE(zip_objections(archive, flag), QByteArray());
    const CommandResult tested = run("7zz", {"t", archive});
    QVERIFY2(tested.exit_code == 0, tested.output.right(2000));
    const CommandResult unzipped = run("unzip", {"-q", archive, "-d", dir.filePath("unzip")});
    QVERIFY2(unzipped.exit_code == (picks.isEmpty() ? 1 : 0), unzipped.output.right(2000));

    // Names as bytes, types, contents, link targets, permissions and times, from us and from
    // unzip, which reads no time before 1970 or after 2106.
    const Tree wanted = snapshot(dir.filePath("expected"));
    QCOMPARE(snapshot(dir.filePath("ours")), wanted);
    Tree from_unzip = snapshot(dir.filePath("unzip"));
    for (auto it = from_unzip.begin(); it != from_unzip.end(); ++it)
        if (const qint64 time = wanted.value(it.key()).mtime; time < 0 || time > 0xFFFFFFFFLL)
            it->mtime = time;
    QCOMPARE(from_unzip, wanted);
    // The folder made for the archive is an ordinary one, open to others as the umask allows.
    QCOMPARE(QFileInfo(dir.filePath("ours")).permissions(),
             QFileInfo(dir.filePath("expected")).permissions());
    // The same input gives the same archive.
    QVERIFY(pack(files, folders, dir.filePath("again"), flag));
    QVERIFY(run("cmp", {archive, dir.filePath("again")}).exit_code == 0);
}

void TestArchive::we_read_peer_archives_data() {
    QTest::addColumn<QStringList>("command");
    QTest::newRow("Info-ZIP zip") << QStringList{"zip", "-qry", "peer.zip", "t"};
    QTest::newRow("7-Zip") << QStringList{"7zz", "a", "-tzip", "-bd", "peer.zip", "t"};
    QTest::newRow("Python") << QStringList{"/usr/bin/python3", "-m", "zipfile", "-c",
                                           "peer.zip",         "t"};
}

void TestArchive::we_read_peer_archives() {
    QFETCH(QStringList, command);
    QTemporaryDir dir;
    sh(dir.filePath("in/t"), QString(tricky_tree) + "rm link 'l 2'");
    const CommandResult made = run(command[0], command.mid(1), dir.filePath("in"));
    QVERIFY2(made.exit_code == 0, made.output);
    QVERIFY(unpack(dir.filePath("in/peer.zip"), dir.filePath("out")));
    // Peers keep names, types and contents; not all keep modes and times.
    Tree ours = snapshot(dir.filePath("out")), theirs = snapshot(dir.filePath("in"));
    theirs.remove("peer.zip");
    for (Tree *tree : {&ours, &theirs})
        for (Node &node : *tree)
            node.perm = node.mtime = 0;
    QCOMPARE(ours, theirs);
}

void TestArchive::refused_archives_leave_nothing_data() {
    // The archive (for zipforge, or "FIFO" or "folder"); the cause its one line names; and for
    // an unsafe archive, a control that differs only in the unsafe part and unpacks, so the
    // guard is what stops the other. "OUTSIDE" stands for a file beside the work folder.
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QByteArray>("control");
    const QByteArray ok = R"({"name": "ok.txt", "data": "fine"}, )";
    const auto unsafe = [&](const char *row, const QByteArray &bad, const char *reason,
                            const QByteArray &good = R"({"name": "inside.txt"})") {
        QTest::newRow(row) << "[" + ok + bad + "]" << QByteArray(reason) << "[" + ok + good + "]";
    };
    const auto link = [](const char *name, const char *target) {
        return QByteArray(R"({"name": ")") + name + R"(", "mode": 41471, "data": ")" + target +
               "\"}";
    };
    const auto broken = [](const char *row, const QByteArray &archive, const char *reason) {
        QTest::newRow(row) << archive << QByteArray(reason) << QByteArray();
    };
    unsafe("dot-dot name", R"({"name": "../../outside.txt", "data": "pwned"})", "unsafe");
    unsafe("dot-dot inside a folder", R"({"name": "sub/../../../outside.txt"})", "unsafe");
    unsafe("absolute name", R"({"name": "OUTSIDE", "data": "pwned"})", "unsafe");
    unsafe("drive letter from Windows", R"({"name": "C:/outside.txt"})", "unsafe");
    unsafe("backslashes from Unix", R"({"name": "..\\..\\outside.txt", "mode": 33188})", "unsafe");
    unsafe("backslashes from Windows", R"({"name": "..\\..\\outside.txt"})", "unsafe",
           R"({"name": "sub\\inside.txt"})");
    unsafe("UNC name", R"({"name": "\\\\server\\share\\outside.txt"})", "unsafe");
    unsafe("control character", R"({"name": "bad\u0001name.txt"})", "unsafe");
    unsafe("C1 control character", R"({"name": "bad\u0085name.txt"})", "unsafe");
    unsafe("terminal escape in a name", R"({"name": "\u001b[2J\u0007.txt\r"})", "unsafe");
    unsafe("Unicode path field leads out",
           R"({"name": "fine.txt", "unicode_path": "../../outside.txt"})", "unsafe",
           R"({"name": "fine.txt", "unicode_path": "other.txt"})");
    unsafe("link out, then a file through it",
           link("esc", "../..") + R"(, {"name": "esc/outside.txt"})", "esc",
           link("esc", "sub") + R"(, {"name": "sub/inside.txt"})");
    unsafe("link out, then a link under it", link("esc", "..") + ", " + link("esc/x", "y"), "esc",
           R"({"name": "esc/", "mode": 16877}, )" + link("esc/x", "y"));
    unsafe("a link under a link to its own folder, leading out",
           link("esc", ".") + ", " + link("esc/x", ".."), "esc/x",
           R"({"name": "esc/", "mode": 16877}, )" + link("esc/x", ".."));
    unsafe("absolute link", link("esc", "OUTSIDE"), "leads outside", link("esc", "ok.txt"));
    unsafe("link out through another link",
           link("a/b/up", "../..") + ", " + link("esc", "a/b/up/../outside.txt"), "leads outside",
           link("a/b/up", "../..") + ", " + link("esc", "a/b/up/ok.txt"));
    unsafe("device node", R"({"name": "dev", "mode": 8612})", "special file");
    unsafe("FIFO", R"({"name": "fifo", "mode": 4516})", "special file");

    const auto big = [](const char *defect) {
        return R"([{"name": "big.txt", "method": 8, "data": "0", "repeat": 3000000)" +
               QByteArray(defect) + "}]";
    };
    broken("bad CRC", big(R"(, "crc": 1234)"), "CRC");
    broken("more data than declared", big(R"(, "declared_size": 1000)"), "more than it declares");
    broken("less data than declared", big(R"(, "declared_size": 5000000)"), "wrong size");
    broken("encrypted entry", big(R"(, "flags": 1)"), "encrypted");
    broken("unknown compression method", big(R"(, "method_id": 77)"), "compression method");
    broken("declared sizes beyond the free space, the huge one first",
           R"([{"name": "huge", "zip64_size": 1125899906842624}, {"name": "ok.txt"}])", "free");
    broken("truncated",
           R"({"entries": [{"name": "a", "data": "x", "repeat": 5000}], "keep": 1000})",
           "no end of central directory");
    broken("local name differs from the listed one", big(R"(, "local_name": "other.txt")"),
           "disagrees");
    broken("local name leads out", big(R"(, "local_name": "../../big.txt")"), "disagrees");
    QByteArray shared = R"([{"name": "f0", "data": "one local header"})";
    for (int i = 1; i < 20; ++i)
        shared += R"(, {"name": "f0", "data": "one local header", "header_of": 0})";
    broken("20 listed entries share one local header", shared + "]", "overlapping");
    broken("an entry overlaps the next",
           R"([{"name": "a.txt", "data": "aaaa", "compressed_size": 100},
               {"name": "b.txt", "data": "b", "repeat": 200}])",
           "overlapping entries: a.txt and b.txt");
    broken("the end record counts more entries than listed",
           R"({"entries": [{"name": "a.txt"}], "count": 2})", "end record says 2");
    broken("the end record counts fewer entries than listed",
           R"({"entries": [{"name": "a.txt"}, {"name": "b.txt"}], "count": 1})",
           "more entries than the end record");
    broken("a FIFO that nothing writes to", "FIFO", "not a regular file");
    broken("a folder", "folder", "not a regular file");
}

void TestArchive::refused_archives_leave_nothing() {
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, reason);
    QFETCH(QByteArray, control);
    QTemporaryDir dir;
    const QString outside = dir.filePath("outside.txt"), work = dir.filePath("work/");
    write_file(outside, "unmodified");
    QDir().mkpath(work);
    if (!control.isEmpty()) {
        forge_zip(work + "control.zip", control.replace("OUTSIDE", outside.toUtf8()));
        QVERIFY(unpack(work + "control.zip", work + "control"));
    }
    const QString path = work + "bad.zip";
    if (archive == "FIFO")
        QCOMPARE(::mkfifo(path.toUtf8(), 0600), 0);
    else if (archive == "folder")
        QVERIFY(QDir().mkdir(path));
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
    QCOMPARE(read_file(outside), QByteArray("unmodified"));
}

void TestArchive::odd_but_honest_archives_unpack_data() {
    // The archive, and what unpacking gives: "name=contents", "name/", "name->target", with
    // " mode 755" or " time -31536000" where those matter.
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("empty archive") << QByteArray("[]") << QStringList{};
    QTest::newRow("bsdtar's layout with ./ for the root")
        << QByteArray(R"([{"name": "./", "mode": 16877}, {"name": "./sub/", "mode": 16877},
                          {"name": "./sub/a.txt", "data": "a", "mode": 33188}])")
        << QStringList{"sub/", "sub/a.txt=a"};
    QTest::newRow("backslash and colon in names from Unix")
        << QByteArray(R"([{"name": "a\\b.txt", "data": "x", "mode": 33188},
                          {"name": "a:b.txt", "data": "y", "mode": 33188}])")
        << QStringList{"a:b.txt=y", "a\\b.txt=x"};
    QTest::newRow("backslash in a name from Windows")
        << QByteArray(R"([{"name": "a\\b.txt", "data": "x"}])") << QStringList{"a/", "a/b.txt=x"};
    QTest::newRow("names without the UTF-8 flag: GBK from a Chinese Windows, one not GBK")
        << QByteArray(R"([{"name_hex": "9c5ccbae2e747874", "data": "1"},
                          {"name_hex": "d6d0cec4c4bfc2bc2fcec4bcfe2e747874", "data": "2"},
                          {"name_hex": "ff2e747874", "data": "3"}, {"name": "标记.txt", "data": "4"}])")
        << QStringList{"bytes:ff2e747874=3", "中文目录/", "中文目录/文件.txt=2", "标记.txt=4",
                       "淺水.txt=1"};
    QTest::newRow("UTF-8 without the flag")
        << QByteArray(R"([{"name_hex": "e6b7bae6b0b42e747874", "data": "1", "flags": 0}])")
        << QStringList{"淺水.txt=1"};
    QTest::newRow("a name that is not UTF-8, from Unix")
        << QByteArray(R"([{"name_hex": "ff66e9", "data": "x", "mode": 33188}])")
        << QStringList{"bytes:ff66e9=x"};
    QTest::newRow("composed and decomposed forms are two files")
        << QByteArray(
               R"([{"name": "caf\u00e9", "data": "1"}, {"name": "cafe\u0301", "data": "2"}])")
        << QStringList{"cafe\u0301=2", "caf\u00e9=1"};
    QTest::newRow("one name three times")
        << QByteArray(R"([{"name": "d.txt", "data": "1"}, {"name": "d.txt", "data": "2"},
                          {"name": "d.txt", "data": "3"}])")
        << QStringList{"d (2).txt=2", "d (3).txt=3", "d.txt=1"};
    QTest::newRow("links that point at each other")
        << QByteArray(R"([{"name": "a", "mode": 41471, "data": "b"},
                          {"name": "b", "mode": 41471, "data": "a"}])")
        << QStringList{"a->b", "b->a"};
    QTest::newRow("setuid bits are dropped")
        << QByteArray(R"([{"name": "suid", "mode": 36333, "data": "x"}])")
        << QStringList{"suid=x mode 755"};
    QTest::newRow("a time before 1970")
        << QByteArray(R"([{"name": "old", "data": "x", "mode": 33188, "unix_time": -31536000}])")
        << QStringList{"old=x time -31536000"};
}

void TestArchive::odd_but_honest_archives_unpack() {
    QFETCH(QByteArray, archive);
    QFETCH(QStringList, listed);
    QTemporaryDir dir;
    forge_zip(dir.filePath("odd.zip"), archive);
    QVERIFY(unpack(dir.filePath("odd.zip"), dir.filePath("out")));
    const Tree tree = snapshot(dir.filePath("out"));
    QStringList shown;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString kind = it->type == 'd' ? "/" : it->type == 'l' ? "->" : "=";
        shown << it.key() + kind + (it->type == 'd' ? "" : QString::fromUtf8(it->content));
        for (const QString &wanted : listed) {
            if (wanted.startsWith(shown.last() + " mode "))
                shown.last() += " mode " + QString::number(it->perm, 8);
            else if (wanted.startsWith(shown.last() + " time "))
                shown.last() += " time " + QString::number(it->mtime);
        }
    }
    QCOMPARE(shown, listed);
}

void TestArchive::existing_targets_are_never_merged() {
    QTemporaryDir dir;
    const QString archive = dir.filePath("a.zip"), longest(255, 'n');
    forge_zip(archive, R"([{"name": "keep.txt", "data": "from the archive"}])");
    write_file(dir.filePath("a/keep.txt"), "already here");
    QDir().mkdir(dir.filePath("empty"));
    // A full folder, twice; an empty one; a name as long as the file system allows.
    for (const QString &target : QStringList{"a", "a", "empty", longest})
        QVERIFY(unpack(archive, dir.filePath(target)));
    QCOMPARE(read_file(dir.filePath("a/keep.txt")), QByteArray("already here"));
    for (const QString &copy : QStringList{"a (2)", "a (3)", "empty (2)", longest})
        QCOMPARE(read_file(dir.filePath(copy + "/keep.txt")), QByteArray("from the archive"));
    QCOMPARE(entries(dir.filePath("empty")), QStringList());
}

void TestArchive::pack_failures_leave_nothing_data() {
    // Files and folders picked, the archive, the path the cause names, and the cause.
    QTest::addColumn<QStringList>("call");
    QTest::addColumn<QByteArray>("reason");
    const auto row = [](const char *name, QStringList call, const char *reason) {
        QTest::newRow(name) << call << QByteArray(reason);
    };
    const QString archive = "AddData/a.zrvdata";
    row("missing file", {"in/file.txt,in/missing.txt", "", archive, "in/missing.txt"},
        "No such file");
    row("missing folder", {"", "in/gone", archive, "in/gone"}, "No such file");
    row("a pipe", {"in/pipe", "", archive, "in/pipe"}, "not a regular");
    row("a pipe inside a folder", {"", "in", archive, "in/pipe"}, "not a regular");
    row("a file that grows past its listed size",
        {"in/file.txt,/proc/self/status", "", archive, "/proc/self/status"}, "size is not");
    row("a file that shrinks below its listed size",
        {"in/file.txt,/sys/devices/system/cpu/online", "", archive,
         "/sys/devices/system/cpu/online"},
        "size is not");
    row("archive already exists", {"in/file.txt", "", "AddData/old.zrvdata", "AddData/old.zrvdata"},
        "exists");
    row("archive folder is a file", {"in/file.txt", "", "in/file.txt/a.zrvdata", "in/file.txt"},
        "Not a directory");
    row("archive folders made for a call that fails",
        {"in/missing.txt", "", "new/deeper/a.zrvdata", "in/missing.txt"}, "No such file");
    row("a control character in a name",
        {"", "odd/control", archive, "odd/control/bad\\x1B[0m.txt"}, "control character");
    row("a link that leads out to a folder", {"", "odd/to a folder", archive, "odd/to a folder/l"},
        "outside the folder, to a folder");
    row("a link that leads out to nothing", {"", "odd/to nothing", archive, "odd/to nothing/l"},
        "outside the folder, to nothing");
}

void TestArchive::pack_failures_leave_nothing() {
    QFETCH(QStringList, call);
    QFETCH(QByteArray, reason);
    QTemporaryDir dir;
    sh(dir.path(), R"(mkdir -p in AddData odd/control 'odd/to a folder' 'odd/to nothing'
echo data > in/file.txt; mkfifo in/pipe; echo old > AddData/old.zrvdata
echo data > $'odd/control/bad\e[0m.txt'; ln -s /usr 'odd/to a folder/l'
ln -s ../../../nowhere 'odd/to nothing/l')");
    const Tree before = snapshot(dir.path());
    const auto absolute = [&](const QString &list) {
        QStringList paths;
        for (const QString &path : list.split(',', Qt::SkipEmptyParts))
            paths << (path.startsWith('/') ? path : dir.filePath(path));
        return paths;
    };
    const QByteArray error = capture(
        2, [&] { QVERIFY(!pack(absolute(call[0]), absolute(call[1]), dir.filePath(call[2]))); });
    QVERIFY2(error.contains(absolute(call[3])[0].toUtf8()) && error.contains(reason) &&
                 error.count('\n') == 1,
             error);
    QCOMPARE(snapshot(dir.path()), before);
}

void TestArchive::interrupted_calls_leave_nothing_data() {
    // Packing or unpacking a folder with one large file, 50 small ones and a link; stopped by a
    // file-size limit of 256 KiB, or cancelled once a fraction of the work is done (0 before it
    // starts, 1 at the very end of its data).
    QTest::addColumn<bool>("packing");
    QTest::addColumn<int>("large");
    QTest::addColumn<bool>("disk_fills");
    QTest::addColumn<double>("cancel_at");
    QTest::newRow("packing, the disk fills") << true << (2 << 20) << true << -1.0;
    // Small enough that nothing reaches the disk before the archive is closed.
    QTest::newRow("packing, the disk fills at the close") << true << (512 << 10) << true << -1.0;
    QTest::newRow("unpacking, the disk fills") << false << (2 << 20) << true << -1.0;
    // More than unpacking holds in memory: inflating still runs when writing fails.
    QTest::newRow("unpacking a large file, the disk fills") << false << (24 << 20) << true << -1.0;
    for (const bool packing : {true, false}) {
        const char *call = packing ? "packing" : "unpacking";
        for (const double fraction : {0.0, 0.5, 1.0})
            QTest::addRow("%s, cancelled at %g", call, fraction)
                << packing << (24 << 20) << false << fraction;
        QTest::addRow("%s, not cancelled: the counters reach their totals", call)
            << packing << (24 << 20) << false << -1.0;
    }
}

void TestArchive::interrupted_calls_leave_nothing() {
    QFETCH(bool, packing);
    QFETCH(int, large);
    QFETCH(bool, disk_fills);
    QFETCH(double, cancel_at);
    QTemporaryDir dir;
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
    if (disk_fills) {
        // A child process whose files may not grow past 256 KiB: a write fails part-way.
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {256 << 10, 256 << 10};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(call() ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    } else {
        CancelAt progress(cancel_at);
        zrv::attach_progress(&progress);
        bool ok = false;
        const QByteArray error = capture(2, [&] { ok = call(); });
        zrv::attach_progress(nullptr);
        QCOMPARE(ok, cancel_at < 0);
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
