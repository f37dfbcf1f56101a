// The archive component on real files: round trips checked by peers, peer archives, hostile,
// broken and odd archives, packing that fails, writes that fail part-way, and cancelling.
#include "testsupport.h"

#include "archive/progress.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

constexpr qint64 a_past_time = 981173106; // 2001-02-03

QByteArray text_like(int size, quint32 seed) {
    static const char *const words[] = {"alpha ", "beta ", "gamma\n", "0x7f, ", "return "};
    QByteArray text;
    for (QRandomGenerator generator(seed); text.size() < size;)
        text += words[generator.bounded(5)];
    return text.left(size);
}

// A tree with what tends to break archivers: empty folders, Chinese names, commas and spaces,
// empty and large files, links, unusual permissions and old times.
void make_tricky_tree(const QString &top) {
    write_file(top + "/a, b.txt", "comma and space\n");
    write_file(top + "/零.bin", QByteArray());
    write_file(top + "/big.bin", random_bytes(3 * 1024 * 1024 + 17, 7));
    write_file(top + "/sub/deeper/note.txt", text_like(100000, 1));
    // Pieces that compress and pieces that do not, in one long entry.
    write_file(top + "/mixed.bin",
               text_like(1 << 20, 5) + random_bytes(2 << 20, 6) + text_like(9, 7));
    write_file(top + "/exec.sh", "#!/bin/sh\n");
    write_file(top + "/ro.txt", "read only\n");
    QDir().mkpath(top + "/空");
    make_link("a, b.txt", top + "/link");
    make_link("sub/deeper", top + "/folder link");
    ::chmod((top + "/exec.sh").toUtf8(), 0755);
    ::chmod((top + "/ro.txt").toUtf8(), 0444);
    ::chmod((top + "/sub").toUtf8(), 0750);
    for (const char *path : {"/a, b.txt", "/零.bin", "/big.bin", "/sub/deeper/note.txt",
                             "/sub/deeper", "/sub", "/空", ""})
        set_mtime(top + path, a_past_time);
}

// Every entry below `root` as "name=content", "name/" or "name->target".
QStringList listing(const QString &root) {
    QStringList result;
    const Tree tree = snapshot(root);
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        result << it.key() + (it->type == 'd'   ? QString("/")
                              : it->type == 'l' ? "->" + QString::fromUtf8(it->content)
                                                : "=" + QString::fromUtf8(it->content));
    return result;
}

// Names of entries that are UTF-8 yet lack the UTF-8 flag, as Python reads the archive.
QByteArray utf8_names_without_the_flag(const QString &archive) {
    return python({"-c",
                   "import sys, zipfile\n"
                   "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                   "    if not i.flag_bits & 0x800 and not i.filename.isascii():\n"
                   "        try: print(i.filename.encode('cp437').decode('utf-8'))\n"
                   "        except UnicodeError: pass\n",
                   archive})
        .output;
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
    void hostile_archives_fail_whole_data();
    void hostile_archives_fail_whole();
    void bad_archives_fail_whole_data();
    void bad_archives_fail_whole();
    void odd_but_honest_archives_unpack_data();
    void odd_but_honest_archives_unpack();
    void existing_targets_are_never_merged();
    void pack_failures_leave_nothing_data();
    void pack_failures_leave_nothing();
    void writes_that_fail_partway_leave_nothing_data();
    void writes_that_fail_partway_leave_nothing();
    void cancelling_leaves_nothing_data();
    void cancelling_leaves_nothing();
};

void TestArchive::round_trip_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("flag");
    QTest::newRow("files, folders, links, modes and times") << "tricky" << 1;
    QTest::newRow("the same, stored") << "tricky" << 0;
    QTest::newRow("links that leave the folder are stored as files") << "links out" << 1;
    QTest::newRow("names that are not UTF-8 keep their bytes") << "not UTF-8" << 1;
    QTest::newRow("times from 2038 to 2106, read by unzip too") << "times" << 1;
    QTest::newRow("times before 1970 and after 2106") << "times beyond" << 1;
    QTest::newRow("picked paths ending in /. and /..") << "dot paths" << 1;
    QTest::newRow("255-byte names, numbered to fit, in a 255-byte archive") << "longest" << 1;
    QTest::newRow("nothing picked") << "nothing" << 1;
}

void TestArchive::round_trip() {
    QFETCH(QString, scenario);
    QFETCH(int, flag);
    QTemporaryDir dir;
    const QString in = dir.filePath("in"), expected = dir.filePath("expected");
    QDir().mkpath(expected);
    QStringList files, folders;
    QString archive = dir.filePath("AddData/a.zrvdata");
    bool peer_times = true; // unzip reads no time before 1970 or after 2106
    const auto copy = [](const QStringList &arguments) {
        QCOMPARE(run("cp", arguments).exit_code, 0);
    };
    if (scenario == "tricky") {
        make_tricky_tree(in + "/树 tree, 1");
        write_file(in + "/单独, 文件.txt", "top-level file with a comma\n");
        files << in + "/单独, 文件.txt";
        folders << in + "/树 tree, 1";
        copy({"-a", files[0], folders[0], expected});
    } else if (scenario == "links out") {
        write_file(dir.filePath("outside.txt"), "outside\n");
        set_mtime(dir.filePath("outside.txt"), a_past_time);
        QDir().mkpath(in + "/top/sub");
        make_link(dir.filePath("outside.txt"), in + "/top/absolute");
        make_link("../../../outside.txt", in + "/top/sub/up");
        make_link("../absolute", in + "/top/sub/inside");
        folders << in + "/top";
        copy({"-a", in + "/top", expected});
        for (const QString link : {"/top/absolute", "/top/sub/up"}) {
            QVERIFY(QFile::remove(expected + link));
            copy({"-p", dir.filePath("outside.txt"), expected + link});
        }
        for (const QString folder : {"/top/sub", "/top"})
            set_mtime(expected + folder, QFileInfo(in + folder).lastModified().toSecsSinceEpoch());
    } else if (scenario == "not UTF-8") {
        QDir().mkpath(in + "/legacy");
        for (const QByteArray name : {"/legacy/\xd6\xd0\xce\xc4.txt", "/legacy/caf\xe9 \x80\xfe"}) {
            const int fd = ::open(in.toUtf8() + name, O_CREAT | O_WRONLY, 0644);
            QVERIFY(fd >= 0 && ::write(fd, name.constData(), size_t(name.size())) == name.size());
            ::close(fd);
        }
        folders << in + "/legacy";
        copy({"-a", folders[0], expected});
    } else if (scenario.startsWith("times")) {
        peer_times = scenario == "times";
        const QList<qint64> times = peer_times ? QList<qint64>{2208988800, 4102444800}
                                               : QList<qint64>{-5364662400, -1000000, 7258118400};
        for (qint64 time : times) {
            write_file(in + QString("/dated/%1.txt").arg(time), QByteArray::number(time));
            set_mtime(in + QString("/dated/%1.txt").arg(time), time);
        }
        set_mtime(in + "/dated", times.first());
        folders << in + "/dated";
        copy({"-a", folders[0], expected});
    } else if (scenario == "dot paths") {
        write_file(in + "/tree/sub/f.txt", "f");
        set_mtime(in + "/tree/sub", a_past_time);
        folders << in + "/tree/." << in + "/tree/sub/..";
        copy({"-a", in + "/tree", expected + "/tree"});
        copy({"-a", in + "/tree", expected + "/tree (2)"});
    } else if (scenario == "longest") {
        const QString longest = QString(251, 'n') + ".txt";
        write_file(in + "/a/" + longest, "first");
        write_file(in + "/b/" + longest, "second");
        files << in + "/a/" + longest << in + "/b/" + longest;
        copy({"-p", files[0], expected});
        copy({"-p", files[1], expected + "/" + QString(247, 'n') + " (2).txt"});
        archive = dir.filePath("AddData/" + QString(247, 'z') + ".zrvdata");
    }

    QVERIFY(pack(files, folders, archive, flag));
    QVERIFY(unpack(archive, dir.filePath("ours")));
    const CommandResult unzipped = run("unzip", {"-q", archive, "-d", dir.filePath("unzip")});
    QVERIFY2(unzipped.exit_code == 0 || (scenario == "nothing" && unzipped.exit_code == 1),
             unzipped.output.constData());
    for (const QStringList &test :
         {QStringList{"7zz", "t", archive},
          QStringList{"/usr/bin/python3", "-m", "zipfile", "-t", archive}}) {
        const CommandResult tested = run(test.first(), test.mid(1));
        QVERIFY2(tested.exit_code == 0, tested.output.constData());
    }
    QCOMPARE(utf8_names_without_the_flag(archive), QByteArray());
    if (scenario == "tricky") {
        // Deflated where it pays, as Python reads the methods; flag 0 stores everything.
        const CommandResult methods = python(
            {"-c",
             "import sys, zipfile; print(*[zipfile.ZipFile(sys.argv[1]).getinfo('树 tree, 1/' + n)"
             ".compress_type for n in ('sub/deeper/note.txt', 'big.bin', 'mixed.bin')])",
             archive});
        QCOMPARE(methods.output.trimmed(), flag == 1 ? QByteArray("8 0 8") : QByteArray("0 0 0"));
    }

    // Byte for byte, with names as bytes, types, link targets, permissions and times.
    const Tree wanted = snapshot(expected);
    QCOMPARE(snapshot(dir.filePath("ours")), wanted);
    Tree from_unzip = snapshot(dir.filePath("unzip")), wanted_from_unzip = wanted;
    for (Tree *tree : {&from_unzip, &wanted_from_unzip})
        for (Node &node : *tree)
            node.mtime = peer_times ? node.mtime : 0;
    QCOMPARE(from_unzip, wanted_from_unzip);
    // The folder made for the archive is an ordinary one, open to others as the umask allows.
    QDir().mkdir(dir.filePath("plain"));
    QCOMPARE(QFileInfo(dir.filePath("ours")).permissions(),
             QFileInfo(dir.filePath("plain")).permissions());
    // The same input gives the same archive.
    QVERIFY(pack(files, folders, dir.filePath("again.zrvdata"), flag));
    QVERIFY(read_file(archive) == read_file(dir.filePath("again.zrvdata")));
}

void TestArchive::we_read_peer_archives_data() {
    QTest::addColumn<QStringList>("command");
    QTest::newRow("Info-ZIP zip") << QStringList{"zip", "-qry", "%1", "树 tree, 1"};
    QTest::newRow("7-Zip") << QStringList{"7zz", "a", "-tzip", "-bd", "%1", "树 tree, 1"};
    QTest::newRow("Python zipfile")
        << QStringList{"/usr/bin/python3", "-m", "zipfile", "-c", "%1", "树 tree, 1"};
}

void TestArchive::we_read_peer_archives() {
    QFETCH(QStringList, command);
    QTemporaryDir dir;
    make_tricky_tree(dir.filePath("source/树 tree, 1"));
    QFile::remove(dir.filePath("source/树 tree, 1/link"));
    QFile::remove(dir.filePath("source/树 tree, 1/folder link"));
    command.replaceInStrings("%1", dir.filePath("peer.zip"));
    const CommandResult made = run(command.first(), command.mid(1), dir.filePath("source"));
    QVERIFY2(made.exit_code == 0, made.output.constData());
    QVERIFY(unpack(dir.filePath("peer.zip"), dir.filePath("out")));
    QCOMPARE(listing(dir.filePath("out")), listing(dir.filePath("source")));
}

void TestArchive::hostile_archives_fail_whole_data() {
    QTest::addColumn<QByteArray>("hostile");
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("control_result");
    const QByteArray ok = R"({"name": "ok.txt", "data": "fine"}, )";
    const auto pair = [&](const char *row, const QByteArray &bad, const QByteArray &good,
                          const QString &result = "inside.txt") {
        QTest::newRow(row) << "[" + ok + bad + "]"
                           << "[" + ok + good + "]" << result;
    };
    const QByteArray inside = R"({"name": "inside.txt", "data": "pwned"})";
    pair("dot-dot name", R"({"name": "../../outside.txt", "data": "pwned"})", inside);
    pair("dot-dot inside a folder", R"({"name": "sub/../../../outside.txt"})", inside);
    pair("absolute name", R"({"name": "OUTSIDE", "data": "pwned"})", inside);
    pair("drive letter from Windows", R"({"name": "C:/outside.txt"})", inside);
    pair("backslashes from Unix", R"({"name": "..\\..\\outside.txt", "mode": 33188})", inside);
    pair("backslashes from Windows", R"({"name": "..\\..\\outside.txt"})",
         R"({"name": "sub\\inside.txt"})", "sub/inside.txt");
    pair("UNC name", R"({"name": "\\\\server\\share\\outside.txt"})", inside);
    pair("control character", R"({"name": "bad\u0001name.txt"})", inside);
    pair("C1 control character", R"({"name": "bad\u0085name.txt"})", inside);
    pair("terminal escape in a name", R"({"name": "\u001b[2J\u0007.txt\r"})", inside);
    pair("Unicode path field leads out",
         R"({"name": "fine.txt", "unicode_path": "../../outside.txt", "data": "pwned"})",
         R"({"name": "fine.txt", "unicode_path": "other.txt", "data": "pwned"})", "other.txt");
    pair("link out, then a file through it",
         R"({"name": "esc", "mode": 41471, "data": "../.."}, {"name": "esc/outside.txt"})",
         R"({"name": "esc", "mode": 41471, "data": "sub"}, {"name": "sub/inside.txt"})",
         "sub/inside.txt");
    pair(
        "link out, then a link under it",
        R"({"name": "esc", "mode": 41471, "data": ".."}, {"name": "esc/x", "mode": 41471, "data": "y"})",
        R"({"name": "esc/", "mode": 16877}, {"name": "esc/x", "mode": 41471, "data": "y"})",
        "esc/x");
    pair("absolute link", R"({"name": "esc", "mode": 41471, "data": "OUTSIDE"})",
         R"({"name": "esc", "mode": 41471, "data": "ok.txt"})", "esc");
    pair(
        "link out through another link",
        R"({"name": "a/b/up", "mode": 41471, "data": "../.."}, {"name": "esc", "mode": 41471, "data": "a/b/up/../outside.txt"})",
        R"({"name": "a/b/up", "mode": 41471, "data": "../.."}, {"name": "esc", "mode": 41471, "data": "a/b/up/ok.txt"})",
        "esc");
    pair("device node", R"({"name": "dev", "mode": 8612})", R"({"name": "dev", "mode": 33188})",
         "dev");
    pair("FIFO", R"({"name": "fifo", "mode": 4516})", R"({"name": "fifo", "mode": 33188})", "fifo");
}

void TestArchive::hostile_archives_fail_whole() {
    QFETCH(QByteArray, hostile);
    QFETCH(QByteArray, control);
    QFETCH(QString, control_result);
    QTemporaryDir dir;
    const QString outside = dir.filePath("outside.txt"), work = dir.filePath("work");
    write_file(outside, "unmodified");
    QDir().mkpath(work);

    // The control differs only in the unsafe part and unpacks, so the guard is what stops it.
    forge_zip(work + "/control.zip", control.replace("OUTSIDE", outside.toUtf8()));
    QVERIFY(unpack(work + "/control.zip", work + "/control"));
    QVERIFY(QFileInfo(work + "/control/" + control_result).isSymLink() ||
            QFileInfo::exists(work + "/control/" + control_result));

    forge_zip(work + "/hostile.zip", hostile.replace("OUTSIDE", outside.toUtf8()));
    const QByteArray error =
        capture_stderr([&] { QVERIFY(!unpack(work + "/hostile.zip", work + "/out")); });
    QVERIFY2(error.contains("hostile.zip") && error.count('\n') == 1, error.constData());
    // Names in the cause line are escaped: no raw C0 or C1 character reaches a terminal.
    for (int i = 0; i + 1 < error.size(); ++i)
        QVERIFY2(uchar(error[i]) >= 0x20 && error[i] != 0x7F &&
                     !(uchar(error[i]) == 0xC2 && uchar(error[i + 1]) < 0xA0),
                 error.toHex().constData());
    QCOMPARE(entries(work), QStringList({"control", "control.zip", "hostile.zip"}));
    QCOMPARE(entries(dir.path()), QStringList({"outside.txt", "work"}));
    QCOMPARE(read_file(outside), QByteArray("unmodified"));
}

void TestArchive::bad_archives_fail_whole_data() {
    QTest::addColumn<QByteArray>("archive"); // for zipforge, or "FIFO" or "folder"
    QTest::addColumn<int>("truncate_to");    // bytes to keep; -1 keeps all
    QTest::addColumn<QByteArray>("reason");
    const auto big = [](const char *defect) {
        return R"([{"name": "big.txt", "method": 8, "data": "0", "repeat": 3000000)" +
               QByteArray(defect) + "}]";
    };
    QTest::newRow("bad CRC") << big(R"(, "crc": 1234)") << -1 << QByteArray("CRC");
    QTest::newRow("more data than declared")
        << big(R"(, "declared_size": 1000)") << -1 << QByteArray("more than it declares");
    QTest::newRow("less data than declared")
        << big(R"(, "declared_size": 5000000)") << -1 << QByteArray("wrong size");
    QTest::newRow("encrypted entry") << big(R"(, "flags": 1)") << -1 << QByteArray("encrypted");
    QTest::newRow("unknown compression method")
        << big(R"(, "method_id": 77)") << -1 << QByteArray("compression method");
    QTest::newRow("declared sizes beyond the free space, the huge one first")
        << QByteArray(R"([{"name": "huge", "zip64_size": 1125899906842624}, {"name": "ok.txt"}])")
        << -1 << QByteArray("free");
    QTest::newRow("truncated") << big("") << 1000 << QByteArray("no end of central directory");
    QTest::newRow("local name differs from the listed one")
        << big(R"(, "local_name": "other.txt")") << -1 << QByteArray("disagrees");
    QTest::newRow("local name leads out")
        << big(R"(, "local_name": "../../big.txt")") << -1 << QByteArray("disagrees");
    QByteArray shared = R"([{"name": "f0", "data": "one local header"})";
    for (int i = 1; i < 20; ++i)
        shared += R"(, {"name": "f0", "data": "one local header", "header_of": 0})";
    QTest::newRow("20 listed entries share one local header")
        << shared + "]" << -1 << QByteArray("overlapping");
    QTest::newRow("an entry overlaps the next")
        << QByteArray(R"([{"name": "a.txt", "data": "aaaa", "compressed_size": 100},
                          {"name": "b.txt", "data": "b", "repeat": 200}])")
        << -1 << QByteArray("overlapping entries: a.txt and b.txt");
    QTest::newRow("the end record counts more entries than listed")
        << QByteArray(R"({"entries": [{"name": "a.txt"}], "count": 2})") << -1
        << QByteArray("end record says 2");
    QTest::newRow("the end record counts fewer entries than listed")
        << QByteArray(R"({"entries": [{"name": "a.txt"}, {"name": "b.txt"}], "count": 1})") << -1
        << QByteArray("more entries than the end record");
    QTest::newRow("a FIFO that nothing writes to")
        << QByteArray("FIFO") << -1 << QByteArray("not a regular file");
    QTest::newRow("a folder") << QByteArray("folder") << -1 << QByteArray("not a regular file");
}

void TestArchive::bad_archives_fail_whole() {
    QFETCH(QByteArray, archive);
    QFETCH(int, truncate_to);
    QFETCH(QByteArray, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.zip");
    if (archive == "FIFO")
        QCOMPARE(::mkfifo(path.toUtf8(), 0600), 0);
    else if (archive == "folder")
        QVERIFY(QDir().mkdir(path));
    else
        forge_zip(path, archive);
    if (truncate_to >= 0)
        QVERIFY(QFile(path).resize(truncate_to));
    const QByteArray error = capture_stderr([&] { QVERIFY(!unpack(path, dir.filePath("out"))); });
    QVERIFY2(error.contains(reason) && error.count('\n') == 1, error.constData());
    QCOMPARE(entries(dir.path()), QStringList{"bad.zip"});
}

void TestArchive::odd_but_honest_archives_unpack_data() {
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QStringList>("listed"); // as listing() shows it
    QTest::addColumn<QStringList>("checks"); // "name perm 755" or "name mtime seconds"
    QTest::newRow("empty archive") << QByteArray("[]") << QStringList{} << QStringList{};
    QTest::newRow("bsdtar's layout with ./ for the root")
        << QByteArray(R"([{"name": "./", "mode": 16877}, {"name": "./sub/", "mode": 16877},
                          {"name": "./sub/a.txt", "data": "a", "mode": 33188}])")
        << QStringList{"sub/", "sub/a.txt=a"} << QStringList{};
    QTest::newRow("backslash and colon in names from Unix")
        << QByteArray(R"([{"name": "a\\b.txt", "data": "x", "mode": 33188},
                          {"name": "a:b.txt", "data": "y", "mode": 33188}])")
        << QStringList{"a:b.txt=y", "a\\b.txt=x"} << QStringList{};
    QTest::newRow("backslash in a name from Windows")
        << QByteArray(R"([{"name": "a\\b.txt", "data": "x"}])") << QStringList{"a/", "a/b.txt=x"}
        << QStringList{};
    QTest::newRow("names without the UTF-8 flag: GBK from a Chinese Windows, one not GBK")
        << QByteArray(R"([{"name_hex": "9c5ccbae2e747874", "data": "1"},
                          {"name_hex": "d6d0cec4c4bfc2bc2fcec4bcfe2e747874", "data": "2"},
                          {"name_hex": "ff2e747874", "data": "3"}, {"name": "标记.txt", "data": "4"}])")
        << QStringList{"bytes:ff2e747874=3", "中文目录/", "中文目录/文件.txt=2", "标记.txt=4",
                       "淺水.txt=1"}
        << QStringList{};
    QTest::newRow("UTF-8 without the flag")
        << QByteArray(R"([{"name_hex": "e6b7bae6b0b42e747874", "data": "1", "flags": 0}])")
        << QStringList{"淺水.txt=1"} << QStringList{};
    QTest::newRow("a name that is not UTF-8, from Unix")
        << QByteArray(R"([{"name_hex": "ff66e9", "data": "x", "mode": 33188}])")
        << QStringList{"bytes:ff66e9=x"} << QStringList{};
    QTest::newRow("composed and decomposed forms are two files")
        << QByteArray(
               R"([{"name": "caf\u00e9", "data": "1"}, {"name": "cafe\u0301", "data": "2"}])")
        << QStringList{"cafe\u0301=2", "caf\u00e9=1"} << QStringList{};
    QTest::newRow("one name three times")
        << QByteArray(R"([{"name": "d.txt", "data": "1"}, {"name": "d.txt", "data": "2"},
                          {"name": "d.txt", "data": "3"}])")
        << QStringList{"d (2).txt=2", "d (3).txt=3", "d.txt=1"} << QStringList{};
    QTest::newRow("links that point at each other")
        << QByteArray(R"([{"name": "a", "mode": 41471, "data": "b"},
                          {"name": "b", "mode": 41471, "data": "a"}])")
        << QStringList{"a->b", "b->a"} << QStringList{};
    QTest::newRow("setuid bits are dropped")
        << QByteArray(R"([{"name": "suid", "mode": 36333, "data": "x"}])") << QStringList{"suid=x"}
        << QStringList{"suid perm 755"};
    QTest::newRow("a time before 1970")
        << QByteArray(R"([{"name": "old", "data": "x", "mode": 33188, "unix_time": -31536000}])")
        << QStringList{"old=x"} << QStringList{"old mtime -31536000"};
}

void TestArchive::odd_but_honest_archives_unpack() {
    QFETCH(QByteArray, archive);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, checks);
    QTemporaryDir dir;
    forge_zip(dir.filePath("odd.zip"), archive);
    QVERIFY(unpack(dir.filePath("odd.zip"), dir.filePath("out")));
    QCOMPARE(listing(dir.filePath("out")), listed);
    const Tree tree = snapshot(dir.filePath("out"));
    for (const QString &check : checks) {
        const QStringList parts = check.split(' ');
        const Node node = tree.value(parts[0]);
        QCOMPARE(parts[1] == "perm" ? qint64(node.perm) : node.mtime,
                 parts[2].toLongLong(nullptr, parts[1] == "perm" ? 8 : 10));
    }
}

void TestArchive::existing_targets_are_never_merged() {
    QTemporaryDir dir;
    const QString archive = dir.filePath("a.zip");
    forge_zip(archive, R"([{"name": "keep.txt", "data": "from the archive"}])");
    write_file(dir.filePath("a/keep.txt"), "already here");
    QDir().mkdir(dir.filePath("empty"));
    const QString longest(255, 'n');

    // A full folder, an empty one, and a name as long as the file system allows.
    for (const QString &target : QStringList{"a", "a", "empty", longest})
        QVERIFY(unpack(archive, dir.filePath(target)));
    QCOMPARE(read_file(dir.filePath("a/keep.txt")), QByteArray("already here"));
    for (const QString &copy : QStringList{"a (2)", "a (3)", "empty (2)", longest})
        QCOMPARE(read_file(dir.filePath(copy + "/keep.txt")), QByteArray("from the archive"));
    QCOMPARE(entries(dir.filePath("empty")), QStringList());
}

void TestArchive::pack_failures_leave_nothing_data() {
    // Files, folders, the archive, and the path the cause names, then the cause.
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
    row("a link that leads out to a folder",
        {"", "odd/to a folder", archive, "odd/to a folder/link"},
        "outside the folder, to a folder");
    row("a link that leads out to nothing", {"", "odd/to nothing", archive, "odd/to nothing/link"},
        "outside the folder, to nothing");
}

void TestArchive::pack_failures_leave_nothing() {
    QFETCH(QStringList, call);
    QFETCH(QByteArray, reason);
    QTemporaryDir dir;
    write_file(dir.filePath("in/file.txt"), "data");
    QCOMPARE(::mkfifo(dir.filePath("in/pipe").toUtf8(), 0600), 0);
    write_file(dir.filePath("AddData/old.zrvdata"), "old archive");
    write_file(dir.filePath("odd/control/bad\x1b[0m.txt"), "data");
    QDir().mkpath(dir.filePath("odd/to a folder"));
    QDir().mkpath(dir.filePath("odd/to nothing"));
    make_link("/usr", dir.filePath("odd/to a folder/link"));
    make_link("../../../nowhere", dir.filePath("odd/to nothing/link"));
    const Tree before = snapshot(dir.path());
    const auto absolute = [&](const QString &list) {
        QStringList paths;
        for (const QString &path : list.split(',', Qt::SkipEmptyParts))
            paths << (path.startsWith('/') ? path : dir.filePath(path));
        return paths;
    };

    const QByteArray error = capture_stderr(
        [&] { QVERIFY(!pack(absolute(call[0]), absolute(call[1]), dir.filePath(call[2]))); });
    QVERIFY2(error.contains(absolute(call[3]).first().toUtf8()) && error.contains(reason) &&
                 error.count('\n') == 1,
             error.constData());
    QCOMPARE(snapshot(dir.path()), before);
}

void TestArchive::writes_that_fail_partway_leave_nothing_data() {
    QTest::addColumn<bool>("packing");
    QTest::addColumn<int>("file_size");
    QTest::newRow("packing") << true << 2 * 1024 * 1024;
    // Small enough that nothing reaches the disk before the archive is closed.
    QTest::newRow("packing, failing at the close") << true << 512 * 1024;
    QTest::newRow("unpacking") << false << 2 * 1024 * 1024;
    // Larger than what unpacking holds in memory, so inflating is still going on when writing
    // fails, and has to be stopped.
    QTest::newRow("unpacking a large file") << false << 24 * 1024 * 1024;
}

void TestArchive::writes_that_fail_partway_leave_nothing() {
    QFETCH(bool, packing);
    QFETCH(int, file_size);
    QTemporaryDir dir;
    const QString big = dir.filePath("in/big.bin"), archive = dir.filePath("out/a.zrvdata");
    write_file(big, random_bytes(file_size, 3));
    if (!packing)
        QVERIFY(pack({big}, {}, archive));
    const QStringList before = entries(dir.filePath("out"));

    // A child process whose files may not grow past 256 KiB: the write fails part-way.
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool ok = packing ? pack({big}, {}, archive) : unpack(archive, dir.filePath("out/a"));
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    QCOMPARE(entries(dir.filePath("out")), before);
}

void TestArchive::cancelling_leaves_nothing_data() {
    QTest::addColumn<bool>("packing");
    QTest::addColumn<double>("fraction");
    for (const bool packing : {true, false}) {
        const char *call = packing ? "packing" : "unpacking";
        QTest::addRow("%s, cancelled at the start", call) << packing << 0.0;
        QTest::addRow("%s, cancelled in the middle", call) << packing << 0.5;
        QTest::addRow("%s, cancelled at the very end", call) << packing << 1.0;
        QTest::addRow("%s, not cancelled: the counters reach their totals", call)
            << packing << -1.0;
    }
}

void TestArchive::cancelling_leaves_nothing() {
    QFETCH(bool, packing);
    QFETCH(double, fraction);
    QTemporaryDir dir;
    const QString tree = dir.filePath("in/tree"), archive = dir.filePath("out/a.zrvdata");
    write_file(tree + "/large.bin", random_bytes(24 * 1024 * 1024, 5));
    for (int i = 0; i < 50; ++i)
        write_file(tree + QString("/small/%1.txt").arg(i), QByteArray(1000 + i, 'x'));
    make_link("large.bin", tree + "/link");
    if (!packing)
        QVERIFY(pack({}, {tree}, archive));
    const QStringList before = entries(dir.filePath("out"));

    CancelAt progress(fraction);
    zrv::attach_progress(&progress);
    bool ok = false;
    const QByteArray error = capture_stderr(
        [&] { ok = packing ? pack({}, {tree}, archive) : unpack(archive, dir.filePath("out/a")); });
    zrv::attach_progress(nullptr);
    if (fraction < 0) {
        QVERIFY2(ok, error.constData());
        QCOMPARE(qint64(progress.total()), 24 * 1024 * 1024 + 50 * 1000 + 49 * 50 / 2);
        QCOMPARE(progress.done(), progress.total());
        return;
    }
    QVERIFY(!ok);
    QVERIFY2(error.contains("cancelled") && error.count('\n') == 1, error.constData());
    QCOMPARE(entries(dir.filePath("out")), before);
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
