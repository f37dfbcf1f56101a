// The archive component on real files: round trips, peers, hostile and broken archives,
// failures that must leave nothing behind.
#include "testsupport.h"

#include "archive/progress.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

constexpr qint64 a_past_time = 981173106; // 2001-02-03

// A tree with what tends to break archivers: empty folders, Chinese names, commas and spaces,
// empty and large files, links, unusual permissions and old times.
QString make_tricky_tree(const QString &root) {
    const QString top = root + QStringLiteral("/树 tree, 1");
    write_file(top + QStringLiteral("/a, b.txt"), "comma and space\n");
    write_file(top + QStringLiteral("/零.bin"), QByteArray());
    write_file(top + QStringLiteral("/big.bin"), random_bytes(3 * 1024 * 1024 + 17, 7));
    write_file(top + QStringLiteral("/sub/deeper/note.txt"), QByteArray(100000, 'n'));
    write_file(top + QStringLiteral("/exec.sh"), "#!/bin/sh\n");
    write_file(top + QStringLiteral("/ro.txt"), "read only\n");
    QDir().mkpath(top + QStringLiteral("/空/"));
    make_link(QStringLiteral("a, b.txt"), top + QStringLiteral("/link"));
    make_link(QStringLiteral("sub/deeper"), top + QStringLiteral("/folder link"));
    ::chmod((top + QStringLiteral("/exec.sh")).toUtf8().constData(), 0755);
    ::chmod((top + QStringLiteral("/ro.txt")).toUtf8().constData(), 0444);
    ::chmod((top + QStringLiteral("/sub")).toUtf8().constData(), 0750);
    for (const QString &path :
         {QStringLiteral("/a, b.txt"), QStringLiteral("/零.bin"), QStringLiteral("/big.bin"),
          QStringLiteral("/sub/deeper/note.txt"), QStringLiteral("/sub/deeper"),
          QStringLiteral("/sub"), QStringLiteral("/空"), QString()})
        set_mtime(top + path, a_past_time);
    return top;
}

// Whether `archive` lists every non-ASCII name with the UTF-8 flag, as Python reads it.
QByteArray names_without_utf8_flag(const QString &archive) {
    return python({QStringLiteral("-c"),
                   QStringLiteral("import sys, zipfile\n"
                                  "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                  "    if not i.filename.isascii() and not i.flag_bits & 0x800:\n"
                                  "        print(i.filename)\n"),
                   archive})
        .output;
}

} // namespace

class TestArchive : public QObject {
    Q_OBJECT

private slots:
    void round_trip_data();
    void round_trip();
    void same_top_level_names_are_numbered();
    void peers_read_our_archives_data();
    void peers_read_our_archives();
    void we_read_peer_archives_data();
    void we_read_peer_archives();
    void names_without_the_utf8_flag_data();
    void names_without_the_utf8_flag();
    void hostile_archives_fail_whole_data();
    void hostile_archives_fail_whole();
    void broken_archives_leave_nothing_data();
    void broken_archives_leave_nothing();
    void inconsistent_archives_fail_whole_data();
    void inconsistent_archives_fail_whole();
    void odd_but_honest_archives_unpack_data();
    void odd_but_honest_archives_unpack();
    void archive_that_is_not_a_file_fails_at_once_data();
    void archive_that_is_not_a_file_fails_at_once();
    void special_files_and_bits_are_never_made();
    void duplicate_entry_names_keep_both_data();
    void duplicate_entry_names_keep_both();
    void existing_target_is_never_merged();
    void pack_failures_leave_nothing_data();
    void pack_failures_leave_nothing();
    void unreadable_file_fails();
    void writes_that_fail_partway_leave_nothing_data();
    void writes_that_fail_partway_leave_nothing();
    void chinese_names_in_the_c_locale();
    void archive_being_written_is_not_packed();
    void cancelling_leaves_nothing_data();
    void cancelling_leaves_nothing();
};

// What a round-trip row packs, and what must come back.
struct Picked {
    QStringList files;
    QStringList folders;
    QString expected;       // a folder holding exactly what unpacking must give
    QString archive_name;   // in the test's folder
    bool peer_times = true; // unzip reads these times too (it cannot beyond 1901-2106)
};

void make_raw_file(const QByteArray &path, const QByteArray &contents) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, contents.constData(), size_t(contents.size())) != contents.size())
        qFatal("cannot write %s", path.constData());
    ::close(fd);
}

Picked pick(const QString &scenario, const QString &root) {
    Picked picked;
    picked.archive_name = QStringLiteral("a.zrvdata");
    const QString source = root + QStringLiteral("/source");
    picked.expected = root + QStringLiteral("/expected");
    QDir().mkpath(picked.expected);
    if (scenario == QLatin1String("tricky tree")) {
        const QString tree = make_tricky_tree(source);
        write_file(source + QStringLiteral("/单独, 文件.txt"), "top-level file with a comma\n");
        set_mtime(source + QStringLiteral("/单独, 文件.txt"), a_past_time);
        picked.files = QStringList{source + QStringLiteral("/单独, 文件.txt")};
        picked.folders = QStringList{tree};
        picked.expected = source;
    } else if (scenario == QLatin1String("links out")) {
        // Links leading out of the folder come back as the files they lead to.
        write_file(root + QStringLiteral("/outside.txt"), "outside\n");
        set_mtime(root + QStringLiteral("/outside.txt"), a_past_time);
        QDir().mkpath(source + QStringLiteral("/top/sub"));
        make_link(root + QStringLiteral("/outside.txt"), source + QStringLiteral("/top/absolute"));
        make_link(QStringLiteral("../../../outside.txt"), source + QStringLiteral("/top/sub/up"));
        make_link(QStringLiteral("../absolute"), source + QStringLiteral("/top/sub/inside"));
        picked.folders = QStringList{source + QStringLiteral("/top")};
        for (const QString &copy :
             {QStringLiteral("/top/absolute"), QStringLiteral("/top/sub/up")}) {
            write_file(picked.expected + copy, "outside\n");
            set_mtime(picked.expected + copy, a_past_time);
        }
        make_link(QStringLiteral("../absolute"),
                  picked.expected + QStringLiteral("/top/sub/inside"));
        for (const QString &folder : {QStringLiteral("/top/sub"), QStringLiteral("/top")})
            set_mtime(picked.expected + folder,
                      QFileInfo(source + folder).lastModified().toSecsSinceEpoch());
    } else if (scenario == QLatin1String("names not in UTF-8")) {
        QDir().mkpath(source + QStringLiteral("/legacy"));
        make_raw_file(source.toUtf8() + "/legacy/\xd6\xd0\xce\xc4.txt", "GBK name\n");
        make_raw_file(source.toUtf8() + "/legacy/caf\xe9 \x80\xfe", "Latin-1 and stray bytes\n");
        set_mtime(source + QStringLiteral("/legacy"), a_past_time);
        picked.folders = QStringList{source + QStringLiteral("/legacy")};
        picked.expected = source;
    } else if (scenario.startsWith(QLatin1String("times"))) {
        // unzip reads 2038-2106 from the extended timestamp, but no time before 1970.
        const bool beyond = scenario.contains(QLatin1String("beyond"));
        const QList<qint64> times = beyond ? QList<qint64>{-5364662400, -1000000, 7258118400}
                                           : QList<qint64>{2208988800, 4102444800};
        for (qint64 time : times) {
            const QString file = source + QStringLiteral("/dated/%1.txt").arg(time);
            write_file(file, QByteArray::number(time));
            set_mtime(file, time);
        }
        set_mtime(source + QStringLiteral("/dated"), times.first());
        picked.folders = QStringList{source + QStringLiteral("/dated")};
        picked.expected = source;
        picked.peer_times = !beyond;
    } else if (scenario == QLatin1String("dot paths")) {
        write_file(source + QStringLiteral("/tree/sub/f.txt"), "f");
        set_mtime(source + QStringLiteral("/tree/sub"), a_past_time);
        set_mtime(source + QStringLiteral("/tree"), a_past_time);
        picked.folders = QStringList{source + QStringLiteral("/tree/."),
                                     source + QStringLiteral("/tree/sub/..")};
        write_file(picked.expected + QStringLiteral("/tree/sub/f.txt"), "f");
        write_file(picked.expected + QStringLiteral("/tree (2)/sub/f.txt"), "f");
        for (const QString &top : {QStringLiteral("/tree"), QStringLiteral("/tree (2)")}) {
            set_mtime(picked.expected + top + QStringLiteral("/sub/f.txt"),
                      QFileInfo(source + QStringLiteral("/tree/sub/f.txt"))
                          .lastModified()
                          .toSecsSinceEpoch());
            set_mtime(picked.expected + top + QStringLiteral("/sub"), a_past_time);
            set_mtime(picked.expected + top, a_past_time);
        }
    } else if (scenario == QLatin1String("longest names")) {
        const QString longest = QString(251, QLatin1Char('n')) + QStringLiteral(".txt");
        write_file(source + QStringLiteral("/a/") + longest, "first");
        write_file(source + QStringLiteral("/b/") + longest, "second");
        picked.files = QStringList{source + QStringLiteral("/a/") + longest,
                                   source + QStringLiteral("/b/") + longest};
        write_file(picked.expected + QLatin1Char('/') + longest, "first");
        write_file(picked.expected + QLatin1Char('/') + QString(247, QLatin1Char('n')) +
                       QStringLiteral(" (2).txt"),
                   "second");
        set_mtime(picked.expected + QLatin1Char('/') + longest, a_past_time);
        set_mtime(picked.expected + QLatin1Char('/') + QString(247, QLatin1Char('n')) +
                      QStringLiteral(" (2).txt"),
                  a_past_time);
        set_mtime(source + QStringLiteral("/a/") + longest, a_past_time);
        set_mtime(source + QStringLiteral("/b/") + longest, a_past_time);
        picked.archive_name = QString(247, QLatin1Char('z')) + QStringLiteral(".zrvdata");
    }
    return picked;
}

void TestArchive::round_trip_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("flag");
    QTest::newRow("files, folders, links, modes and times") << "tricky tree" << 1;
    QTest::newRow("the same, stored") << "tricky tree" << 0;
    QTest::newRow("links that leave the folder are stored as files") << "links out" << 1;
    QTest::newRow("names that are not UTF-8 keep their bytes") << "names not in UTF-8" << 1;
    QTest::newRow("times from 2038 to 2106") << "times" << 1;
    QTest::newRow("times before 1970 and after 2106") << "times beyond" << 1;
    QTest::newRow("picked paths ending in /. and /..") << "dot paths" << 1;
    QTest::newRow("255-byte names, numbered to fit, in a 255-byte archive") << "longest names" << 1;
    QTest::newRow("nothing picked") << "nothing" << 1;
}

void TestArchive::round_trip() {
    QFETCH(QString, scenario);
    QFETCH(int, flag);
    QTemporaryDir dir;
    const Picked picked = pick(scenario, dir.path());
    const QString archive = dir.filePath(QStringLiteral("AddData/") + picked.archive_name);

    QVERIFY(pack(picked.files, picked.folders, archive, flag));
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("ours"))));
    const CommandResult peer =
        run(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"),
                                      dir.filePath(QStringLiteral("unzip"))});
    QVERIFY2(peer.exit_code == 0 ||
                 (peer.exit_code == 1 && picked.files.isEmpty() && picked.folders.isEmpty()),
             peer.output.constData());
    const CommandResult listed =
        python({QStringLiteral("-m"), QStringLiteral("zipfile"), QStringLiteral("-t"), archive});
    QVERIFY2(listed.exit_code == 0, listed.output.constData());

    // Byte for byte, with names as bytes, types, link targets, permissions and times.
    const Tree expected = snapshot(picked.expected);
    QCOMPARE(snapshot(dir.filePath(QStringLiteral("ours"))), expected);
    Tree from_unzip = snapshot(dir.filePath(QStringLiteral("unzip")));
    if (!picked.peer_times) {
        for (Node &node : from_unzip)
            node.mtime = 0;
    }
    Tree expected_from_unzip = expected;
    for (Node &node : expected_from_unzip)
        node.mtime = picked.peer_times ? node.mtime : 0;
    QCOMPARE(from_unzip, expected_from_unzip);
}

void TestArchive::same_top_level_names_are_numbered() {
    QTemporaryDir dir;
    write_file(dir.filePath(QStringLiteral("one/same.txt")), "first");
    write_file(dir.filePath(QStringLiteral("two/same.txt")), "second");
    write_file(dir.filePath(QStringLiteral("three/same.txt")), "third");
    write_file(dir.filePath(QStringLiteral("x/d/f")), "folder one");
    write_file(dir.filePath(QStringLiteral("y/d/f")), "folder two");
    const QString archive = dir.filePath(QStringLiteral("a.zrvdata"));

    QVERIFY(pack(
        {dir.filePath(QStringLiteral("one/same.txt")), dir.filePath(QStringLiteral("two/same.txt")),
         dir.filePath(QStringLiteral("three/same.txt"))},
        {dir.filePath(QStringLiteral("x/d")), dir.filePath(QStringLiteral("y/d"))}, archive));
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("out"))));

    const QString out = dir.filePath(QStringLiteral("out/"));
    QCOMPARE(read_file(out + QStringLiteral("same.txt")), QByteArray("first"));
    QCOMPARE(read_file(out + QStringLiteral("same (2).txt")), QByteArray("second"));
    QCOMPARE(read_file(out + QStringLiteral("same (3).txt")), QByteArray("third"));
    QCOMPARE(read_file(out + QStringLiteral("d/f")), QByteArray("folder one"));
    QCOMPARE(read_file(out + QStringLiteral("d (2)/f")), QByteArray("folder two"));
}

void TestArchive::peers_read_our_archives_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("test_arguments");
    QTest::addColumn<QStringList>("extract_arguments"); // {archive} and {out} are filled in
    QTest::newRow("Info-ZIP unzip") << "unzip" << QStringList{"-tq", "{archive}"}
                                    << QStringList{"-q", "{archive}", "-d", "{out}"};
    QTest::newRow("7-Zip") << "7zz" << QStringList{"t", "{archive}"}
                           << QStringList{"x", "-bd", "-o{out}", "{archive}"};
    QTest::newRow("Python zipfile")
        << "/usr/bin/python3" << QStringList{"-m", "zipfile", "-t", "{archive}"}
        << QStringList{"-m", "zipfile", "-e", "{archive}", "{out}"};
}

void TestArchive::peers_read_our_archives() {
    QFETCH(QString, program);
    QFETCH(QStringList, test_arguments);
    QFETCH(QStringList, extract_arguments);
    QTemporaryDir dir;
    const QString tree = make_tricky_tree(dir.filePath(QStringLiteral("source")));
    // Links and modes are not every peer's business: these compare contents.
    QFile::remove(tree + QStringLiteral("/link"));
    QFile::remove(tree + QStringLiteral("/folder link"));
    const QString archive = dir.filePath(QStringLiteral("a.zrvdata"));
    const QString out = dir.filePath(QStringLiteral("peer"));
    QVERIFY(pack({}, {tree}, archive));

    const CommandResult tested =
        run(program, test_arguments.replaceInStrings(QStringLiteral("{archive}"), archive));
    QVERIFY2(tested.exit_code == 0, tested.output.constData());
    const CommandResult extracted =
        run(program, extract_arguments.replaceInStrings(QStringLiteral("{archive}"), archive)
                         .replaceInStrings(QStringLiteral("{out}"), out));
    QVERIFY2(extracted.exit_code == 0, extracted.output.constData());
    QCOMPARE(contents(out), contents(dir.filePath(QStringLiteral("source"))));
    QCOMPARE(names_without_utf8_flag(archive), QByteArray());
}

void TestArchive::we_read_peer_archives_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("Info-ZIP zip") << "zip" << QStringList{"-qry", "%1", "树 tree, 1"};
    QTest::newRow("7-Zip") << "7zz" << QStringList{"a", "-tzip", "-bd", "%1", "树 tree, 1"};
    QTest::newRow("Python zipfile")
        << "/usr/bin/python3" << QStringList{"-m", "zipfile", "-c", "%1", "树 tree, 1"};
}

void TestArchive::we_read_peer_archives() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    const QString tree = make_tricky_tree(source);
    QFile::remove(tree + QStringLiteral("/folder link"));
    QFile::remove(tree + QStringLiteral("/link"));
    const QString archive = dir.filePath(QStringLiteral("peer.zip"));
    arguments.replaceInStrings(QStringLiteral("%1"), archive);
    const CommandResult made = run(program, arguments, source);
    QVERIFY2(made.exit_code == 0, made.output.constData());

    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("out"))));
    QCOMPARE(contents(dir.filePath(QStringLiteral("out"))), contents(source));
}

void TestArchive::names_without_the_utf8_flag_data() {
    QTest::addColumn<QByteArray>("entries");
    QTest::addColumn<QStringList>("names");
    // 淺 is 9C 5C in GBK: its second byte is the code of a backslash.
    QTest::newRow("GBK from a Chinese Windows")
        << QByteArray(R"([{"name_hex": "9c5ccbae2e747874", "data": "1"},
                          {"name_hex": "d6d0cec4c4bfc2bc2f"},
                          {"name_hex": "d6d0cec4c4bfc2bc2fcec4bcfe2e747874", "data": "2"}])")
        << QStringList{"中文目录", "中文目录/文件.txt", "淺水.txt"};
    QTest::newRow("UTF-8 without the flag")
        << QByteArray(R"([{"name_hex": "e6b7bae6b0b42e747874", "data": "1", "flags": 0},
                          {"name_hex": "e4b8ade69687e79baee5bd952fe69687e4bbb62e747874", "data": "2"}])")
        << QStringList{"中文目录", "中文目录/文件.txt", "淺水.txt"};
    QTest::newRow("GBK beside a name flagged as UTF-8")
        << QByteArray(R"([{"name_hex": "9c5ccbae2e747874", "data": "1"},
                          {"name": "标记.txt", "data": "2"}])")
        << QStringList{"标记.txt", "淺水.txt"};
}

void TestArchive::names_without_the_utf8_flag() {
    QFETCH(QByteArray, entries);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    forge_zip(dir.filePath(QStringLiteral("names.zip")), entries);
    QVERIFY(unpack(dir.filePath(QStringLiteral("names.zip")), dir.filePath(QStringLiteral("out"))));
    QCOMPARE(contents(dir.filePath(QStringLiteral("out"))).keys(), names);
}

void TestArchive::hostile_archives_fail_whole_data() {
    QTest::addColumn<QByteArray>("hostile");
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("control_result");

    const QByteArray ok = R"({"name": "ok.txt", "data": "fine"})";
    auto pair = [&](const char *row, const QByteArray &bad, const QByteArray &good,
                    const QString &result) {
        QTest::newRow(row) << "[" + ok + ", " + bad + "]"
                           << "[" + ok + ", " + good + "]" << result;
    };
    const QByteArray inside = R"({"name": "inside.txt", "data": "pwned"})";
    pair("dot-dot name", R"({"name": "../../outside.txt", "data": "pwned"})", inside, "inside.txt");
    pair("dot-dot inside a folder", R"({"name": "sub/../../../outside.txt", "data": "pwned"})",
         inside, "inside.txt");
    pair("absolute name", R"({"name": "OUTSIDE", "data": "pwned"})", inside, "inside.txt");
    pair("drive letter", R"({"name": "C:/outside.txt", "data": "pwned"})", inside, "inside.txt");
    pair("backslashes", R"({"name": "..\\..\\outside.txt", "data": "pwned", "mode": 33188})",
         inside, "inside.txt");
    pair("backslashes from a DOS host", R"({"name": "..\\..\\outside.txt", "data": "pwned"})",
         R"({"name": "sub\\inside.txt", "data": "pwned"})", "sub/inside.txt");
    pair("UNC name", R"({"name": "\\\\server\\share\\outside.txt", "data": "pwned"})", inside,
         "inside.txt");
    pair("control character", R"({"name": "bad\u0001name.txt", "data": "pwned"})", inside,
         "inside.txt");
    pair("C1 control character", R"({"name": "bad\u0085name.txt", "data": "pwned"})", inside,
         "inside.txt");
    pair("terminal escape in a name", R"({"name": "\u001b[2J\u0007.txt\r", "data": "pwned"})",
         inside, "inside.txt");
    // libarchive takes the name from the Unicode path field, not from the directory.
    pair("Unicode path field leads out",
         R"({"name": "fine.txt", "unicode_path": "../../outside.txt", "data": "pwned"})",
         R"({"name": "fine.txt", "unicode_path": "other.txt", "data": "pwned"})", "other.txt");
    pair(
        "link out, then a file through it",
        R"({"name": "esc", "mode": 41471, "data": "../.."}, {"name": "esc/outside.txt", "data": "pwned"})",
        R"({"name": "esc", "mode": 41471, "data": "sub"}, {"name": "sub/inside.txt", "data": "pwned"})",
        "sub/inside.txt");
    pair("absolute link", R"({"name": "esc", "mode": 41471, "data": "OUTSIDE"})",
         R"({"name": "esc", "mode": 41471, "data": "ok.txt"})", "esc");
    pair(
        "link out through another link",
        R"({"name": "a/b/c/up", "mode": 41471, "data": "../../.."}, {"name": "esc", "mode": 41471, "data": "a/b/c/up/../outside.txt"})",
        R"({"name": "a/b/c/up", "mode": 41471, "data": "../../.."}, {"name": "esc", "mode": 41471, "data": "a/b/c/up/ok.txt"})",
        "esc");
    pair("device node", R"({"name": "dev", "mode": 8612})", R"({"name": "dev", "mode": 33188})",
         "dev");
}

void TestArchive::hostile_archives_fail_whole() {
    QFETCH(QByteArray, hostile);
    QFETCH(QByteArray, control);
    QFETCH(QString, control_result);
    QTemporaryDir dir;
    const QString outside = dir.filePath(QStringLiteral("outside.txt"));
    write_file(outside, "unmodified");
    const QString work = dir.filePath(QStringLiteral("work"));
    QDir().mkpath(work);
    hostile.replace("OUTSIDE", outside.toUtf8());
    control.replace("OUTSIDE", outside.toUtf8());

    // The control differs only in the unsafe part and unpacks, so the guard is what stops it.
    forge_zip(work + QStringLiteral("/control.zip"), control);
    QVERIFY(unpack(work + QStringLiteral("/control.zip"), work + QStringLiteral("/control")));
    QVERIFY(QFileInfo(work + QStringLiteral("/control/") + control_result).isSymLink() ||
            QFileInfo::exists(work + QStringLiteral("/control/") + control_result));

    forge_zip(work + QStringLiteral("/hostile.zip"), hostile);
    const QByteArray error = capture_stderr([&] {
        QVERIFY(!unpack(work + QStringLiteral("/hostile.zip"), work + QStringLiteral("/out")));
    });
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

void TestArchive::broken_archives_leave_nothing_data() {
    QTest::addColumn<QByteArray>("defect");
    QTest::addColumn<int>("truncate_to");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("bad CRC") << QByteArray(R"(, "crc": 1234)") << -1 << QByteArray("CRC");
    // Far more than one read buffer, so the bytes are counted before libarchive's own check.
    QTest::newRow("more data than declared")
        << QByteArray(R"(, "declared_size": 1000)") << -1 << QByteArray("more than it declares");
    QTest::newRow("less data than declared")
        << QByteArray(R"(, "declared_size": 5000000)") << -1 << QByteArray("wrong size");
    QTest::newRow("encrypted entry")
        << QByteArray(R"(, "flags": 1)") << -1 << QByteArray("encrypted");
    QTest::newRow("unknown compression method")
        << QByteArray(R"(, "method_id": 77)") << -1 << QByteArray("compression method");
    QTest::newRow("declared size beyond the free space")
        << QByteArray(R"(, "zip64_size": 1125899906842624)") << -1 << QByteArray("free");
    QTest::newRow("truncated") << QByteArray() << 1000 << QByteArray("no end of central directory");
    QTest::newRow("no end record")
        << QByteArray() << -22 << QByteArray("no end of central directory");
    QTest::newRow("local name differs from the listed one")
        << QByteArray(R"(, "local_name": "other.txt")") << -1 << QByteArray("disagrees");
    QTest::newRow("local name leads out")
        << QByteArray(R"(, "local_name": "../../big.txt")") << -1 << QByteArray("disagrees");
}

void TestArchive::broken_archives_leave_nothing() {
    QFETCH(QByteArray, defect);
    QFETCH(int, truncate_to);
    QFETCH(QByteArray, reason);
    QTemporaryDir dir;
    const QByteArray entry = R"({"name": "big.txt", "method": 8, "data": "0", "repeat": 3000000)";

    // The same archive without the defect unpacks.
    forge_zip(dir.filePath(QStringLiteral("control.zip")), "[" + entry + "}]");
    QVERIFY(unpack(dir.filePath(QStringLiteral("control.zip")),
                   dir.filePath(QStringLiteral("control"))));
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("control/big.txt"))).size(), 3000000);

    const QString archive = dir.filePath(QStringLiteral("broken.zip"));
    forge_zip(archive, "[" + entry + defect + "}]");
    if (truncate_to != -1) {
        QFile file(archive);
        QVERIFY(file.resize(truncate_to > 0 ? truncate_to : file.size() + truncate_to));
    }
    const QByteArray error =
        capture_stderr([&] { QVERIFY(!unpack(archive, dir.filePath(QStringLiteral("out")))); });
    QVERIFY2(error.contains(reason), error.constData());
    QCOMPARE(entries(dir.path()), QStringList({"broken.zip", "control", "control.zip"}));
}

void TestArchive::inconsistent_archives_fail_whole_data() {
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("reason");
    QByteArray shared = R"([{"name": "f0", "data": "one local header"})";
    for (int i = 1; i < 20; ++i)
        shared += QByteArray(R"(, {"name": "f0", "data": "one local header", "header_of": 0})");
    QTest::newRow("20 listed entries share one local header")
        << shared + "]" << QByteArray("overlapping");
    QTest::newRow("an entry overlaps the one before")
        << QByteArray(R"([{"name": "a.txt", "data": "aaaaaaaaaa", "compressed_size": 100},
                          {"name": "b.txt", "data": "b", "repeat": 200}])")
        << QByteArray("overlapping entries: a.txt and b.txt");
    QTest::newRow("the end record counts more entries than listed")
        << QByteArray(R"({"entries": [{"name": "a.txt", "data": "a"}], "count": 2})")
        << QByteArray("end record says 2");
    QTest::newRow("the end record counts fewer entries than listed")
        << QByteArray(R"({"entries": [{"name": "a.txt"}, {"name": "b.txt"}], "count": 1})")
        << QByteArray("more entries than the end record");
}

void TestArchive::inconsistent_archives_fail_whole() {
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, reason);
    QTemporaryDir dir;
    forge_zip(dir.filePath(QStringLiteral("odd.zip")), archive);
    const QByteArray error = capture_stderr([&] {
        QVERIFY(
            !unpack(dir.filePath(QStringLiteral("odd.zip")), dir.filePath(QStringLiteral("out"))));
    });
    QVERIFY2(error.contains(reason) && error.count('\n') == 1, error.constData());
    QCOMPARE(entries(dir.path()), QStringList{"odd.zip"});
}

void TestArchive::odd_but_honest_archives_unpack_data() {
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArrayList>("names"); // as bytes, as the file system holds them
    QTest::addColumn<qint64>("first_mtime");   // 0: not checked
    QTest::newRow("empty archive") << QByteArray("[]") << QByteArrayList{} << qint64(0);
    QTest::newRow("bsdtar's layout with ./ for the root")
        << QByteArray(R"([{"name": "./", "mode": 16877}, {"name": "./sub/", "mode": 16877},
                          {"name": "./sub/a.txt", "data": "a", "mode": 33188}])")
        << QByteArrayList{"sub", "sub/a.txt"} << qint64(0);
    QTest::newRow("backslash in a name from Unix")
        << QByteArray(R"([{"name": "a\\b.txt", "data": "x", "mode": 33188}])")
        << QByteArrayList{"a\\b.txt"} << qint64(0);
    QTest::newRow("backslash in a name from Windows")
        << QByteArray(R"([{"name": "a\\b.txt", "data": "x"}])") << QByteArrayList{"a", "a/b.txt"}
        << qint64(0);
    QTest::newRow("colon in a name from Unix")
        << QByteArray(R"([{"name": "a:b.txt", "data": "x", "mode": 33188}])")
        << QByteArrayList{"a:b.txt"} << qint64(0);
    QTest::newRow("name that is not UTF-8, from Unix")
        << QByteArray(R"([{"name_hex": "ff66e9", "data": "x", "mode": 33188}])")
        << QByteArrayList{"\xff\x66\xe9"} << qint64(0);
    QTest::newRow("name that is not GBK, from Windows")
        << QByteArray(R"([{"name_hex": "d6d02e747874", "data": "1"}, {"name_hex": "ff2e747874"}])")
        << QByteArrayList{"\xff.txt", "中.txt"} << qint64(0);
    QTest::newRow("decomposed name stays decomposed")
        << QByteArray(R"([{"name": "Cafe\u0301", "data": "x"}])") << QByteArrayList{"Cafe\xcc\x81"}
        << qint64(0);
    QTest::newRow("links that point at each other")
        << QByteArray(R"([{"name": "a", "mode": 41471, "data": "b"},
                          {"name": "b", "mode": 41471, "data": "a"}])")
        << QByteArrayList{"a", "b"} << qint64(0);
    QTest::newRow("a time before 1970")
        << QByteArray(
               R"([{"name": "old.txt", "data": "x", "mode": 33188, "unix_time": -31536000}])")
        << QByteArrayList{"old.txt"} << qint64(-31536000);
}

void TestArchive::odd_but_honest_archives_unpack() {
    QFETCH(QByteArray, archive);
    QFETCH(QByteArrayList, names);
    QFETCH(qint64, first_mtime);
    QTemporaryDir dir;
    forge_zip(dir.filePath(QStringLiteral("odd.zip")), archive);
    QVERIFY(unpack(dir.filePath(QStringLiteral("odd.zip")), dir.filePath(QStringLiteral("out"))));
    const QByteArray listing =
        python({QStringLiteral("-c"),
                QStringLiteral("import os, sys\n"
                               "for top, folders, files in os.walk(sys.argv[1].encode()):\n"
                               "    for name in folders + files:\n"
                               "        print(os.path.relpath(os.path.join(top, name),\n"
                               "              sys.argv[1].encode()).hex())\n"),
                dir.filePath(QStringLiteral("out"))})
            .output;
    QByteArrayList found;
    for (const QByteArray &line : listing.split('\n'))
        if (!line.isEmpty())
            found << QByteArray::fromHex(line);
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    QCOMPARE(found, names);
    if (first_mtime != 0) {
        struct stat info;
        QVERIFY(::lstat((dir.filePath(QStringLiteral("out/")) + names.first()).toUtf8().constData(),
                        &info) == 0);
        QCOMPARE(qint64(info.st_mtime), first_mtime);
    }
}

void TestArchive::archive_that_is_not_a_file_fails_at_once_data() {
    QTest::addColumn<bool>("fifo");
    QTest::newRow("a FIFO, which nothing writes to") << true;
    QTest::newRow("a folder") << false;
}

void TestArchive::archive_that_is_not_a_file_fails_at_once() {
    QFETCH(bool, fifo);
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("a.zrvdata"));
    QVERIFY(fifo ? ::mkfifo(archive.toUtf8().constData(), 0600) == 0 : QDir().mkdir(archive));
    const QByteArray error =
        capture_stderr([&] { QVERIFY(!unpack(archive, dir.filePath(QStringLiteral("out")))); });
    QVERIFY2(error.contains("not a regular file"), error.constData());
    QCOMPARE(entries(dir.path()), QStringList{"a.zrvdata"});
}

void TestArchive::special_files_and_bits_are_never_made() {
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("modes.zip"));
    forge_zip(archive, R"([{"name": "suid", "mode": 36333, "data": "x"},
                          {"name": "plain", "mode": 33261, "data": "x"}])");
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("out"))));
    const Tree tree = snapshot(dir.filePath(QStringLiteral("out")));
    QCOMPARE(tree.value(QStringLiteral("plain")).perm, 0755u);
    QCOMPARE(tree.value(QStringLiteral("suid")).perm, 0755u);
}

void TestArchive::duplicate_entry_names_keep_both_data() {
    QTest::addColumn<QByteArray>("entries");
    QTest::addColumn<QStringList>("names_and_contents");
    QTest::newRow("same name twice")
        << QByteArray(R"([{"name": "d/dup.txt", "data": "1"}, {"name": "d/dup.txt", "data": "2"}])")
        << QStringList{"d", "<folder>", "d/dup (2).txt", "2", "d/dup.txt", "1"};
    QTest::newRow("a third of the same name")
        << QByteArray(R"([{"name": "d.txt", "data": "1"}, {"name": "d.txt", "data": "2"},
                          {"name": "d.txt", "data": "3"}])")
        << QStringList{"d (2).txt", "2", "d (3).txt", "3", "d.txt", "1"};
    // Names are written as stored: composed and decomposed forms are two files.
    QTest::newRow("composed and decomposed forms")
        << QByteArray(
               R"([{"name": "caf\u00e9.txt", "data": "1"}, {"name": "cafe\u0301.txt", "data": "2"}])")
        << QStringList{QString::fromUtf8("cafe\u0301.txt"), "2", QString::fromUtf8("caf\u00e9.txt"),
                       "1"};
}

void TestArchive::duplicate_entry_names_keep_both() {
    QFETCH(QByteArray, entries);
    QFETCH(QStringList, names_and_contents);
    QTemporaryDir dir;
    forge_zip(dir.filePath(QStringLiteral("dup.zip")), entries);
    QVERIFY(unpack(dir.filePath(QStringLiteral("dup.zip")), dir.filePath(QStringLiteral("out"))));
    QMap<QString, QByteArray> expected;
    for (int i = 0; i < names_and_contents.size(); i += 2)
        expected.insert(names_and_contents.at(i), names_and_contents.at(i + 1).toUtf8());
    QCOMPARE(contents(dir.filePath(QStringLiteral("out"))), expected);
}

void TestArchive::existing_target_is_never_merged() {
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("a.zip"));
    forge_zip(archive, R"([{"name": "keep.txt", "data": "from the archive"}])");
    write_file(dir.filePath(QStringLiteral("a/keep.txt")), "already here");

    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("a"))));
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("a"))));

    QCOMPARE(read_file(dir.filePath(QStringLiteral("a/keep.txt"))), QByteArray("already here"));
    QCOMPARE(read_file(dir.filePath(QStringLiteral("a (2)/keep.txt"))),
             QByteArray("from the archive"));
    QCOMPARE(read_file(dir.filePath(QStringLiteral("a (3)/keep.txt"))),
             QByteArray("from the archive"));
    QCOMPARE(entries(dir.path()), QStringList({"a", "a (2)", "a (3)", "a.zip"}));

    // A target name as long as the file system allows: staging needs no longer one.
    const QString longest(255, QLatin1Char('n'));
    QVERIFY(unpack(archive, dir.filePath(longest)));
    QCOMPARE(read_file(dir.filePath(longest + QStringLiteral("/keep.txt"))),
             QByteArray("from the archive"));
}

void TestArchive::pack_failures_leave_nothing_data() {
    QTest::addColumn<QString>("files");
    QTest::addColumn<QString>("folders");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("named_in_error");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("missing file") << "in/file.txt,in/missing.txt"
                                  << ""
                                  << "AddData/a.zrvdata"
                                  << "in/missing.txt" << QByteArray("No such file");
    QTest::newRow("missing folder") << ""
                                    << "in/gone"
                                    << "AddData/a.zrvdata"
                                    << "in/gone" << QByteArray("No such file");
    QTest::newRow("a pipe, neither file nor folder") << "in/pipe"
                                                     << ""
                                                     << "AddData/a.zrvdata"
                                                     << "in/pipe" << QByteArray("not a regular");
    QTest::newRow("a pipe inside a folder") << ""
                                            << "in"
                                            << "AddData/a.zrvdata"
                                            << "in/pipe" << QByteArray("not a regular");
    QTest::newRow("a file whose size is not what it was when listed")
        << "/proc/self/status"
        << ""
        << "AddData/a.zrvdata"
        << "/proc/self/status" << QByteArray("size is not");
    QTest::newRow("archive already exists") << "in/file.txt"
                                            << ""
                                            << "AddData/old.zrvdata"
                                            << "AddData/old.zrvdata" << QByteArray("exists");
    QTest::newRow("archive folder is a file") << "in/file.txt"
                                              << ""
                                              << "in/file.txt/a.zrvdata"
                                              << "in/file.txt" << QByteArray("Not a directory");
    QTest::newRow("archive folders made for a call that fails")
        << "in/missing.txt"
        << ""
        << "new/deeper/a.zrvdata"
        << "in/missing.txt" << QByteArray("No such file");
    QTest::newRow("a control character in a name")
        << ""
        << "odd/control"
        << "AddData/a.zrvdata"
        << "odd/control/bad\\x1B[0m.txt" << QByteArray("control character");
    QTest::newRow("a link that leads out to a folder")
        << ""
        << "odd/to a folder"
        << "AddData/a.zrvdata"
        << "odd/to a folder/link" << QByteArray("outside the folder, to a folder");
    QTest::newRow("a link that leads out to nothing")
        << ""
        << "odd/to nothing"
        << "AddData/a.zrvdata"
        << "odd/to nothing/link" << QByteArray("outside the folder, to nothing");
}

void TestArchive::pack_failures_leave_nothing() {
    QFETCH(QString, files);
    QFETCH(QString, folders);
    QFETCH(QString, archive);
    QFETCH(QString, named_in_error);
    QFETCH(QByteArray, reason);
    QTemporaryDir dir;
    write_file(dir.filePath(QStringLiteral("in/file.txt")), "data");
    QVERIFY(::mkfifo(dir.filePath(QStringLiteral("in/pipe")).toUtf8().constData(), 0600) == 0);
    write_file(dir.filePath(QStringLiteral("AddData/old.zrvdata")), "old archive");
    write_file(dir.filePath(QStringLiteral("odd/control/bad\x1b[0m.txt")), "data");
    QDir().mkpath(dir.filePath(QStringLiteral("odd/to a folder")));
    QDir().mkpath(dir.filePath(QStringLiteral("odd/to nothing")));
    make_link(QStringLiteral("/usr"), dir.filePath(QStringLiteral("odd/to a folder/link")));
    make_link(QStringLiteral("../../../nowhere"),
              dir.filePath(QStringLiteral("odd/to nothing/link")));
    const QStringList before = entries(dir.path());
    auto absolute = [&](const QString &list) {
        QStringList paths;
        for (const QString &path : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
            paths << (path.startsWith(QLatin1Char('/')) ? path : dir.filePath(path));
        return paths;
    };

    const QByteArray error = capture_stderr(
        [&] { QVERIFY(!pack(absolute(files), absolute(folders), dir.filePath(archive))); });

    const QString named =
        named_in_error.startsWith(QLatin1Char('/')) ? named_in_error : dir.filePath(named_in_error);
    QVERIFY2(error.contains(named.toUtf8()) && error.contains(reason) && error.count('\n') == 1,
             error.constData());
    QCOMPARE(entries(dir.path()), before);
    QCOMPARE(entries(dir.filePath(QStringLiteral("AddData"))), QStringList{"old.zrvdata"});
    QCOMPARE(read_file(dir.filePath(QStringLiteral("AddData/old.zrvdata"))),
             QByteArray("old archive"));
    QCOMPARE(entries(dir.filePath(QStringLiteral("in"))), QStringList({"file.txt", "pipe"}));
}

void TestArchive::unreadable_file_fails() {
    if (::geteuid() == 0)
        QSKIP("permissions do not stop root from reading a file");
    QTemporaryDir dir;
    write_file(dir.filePath(QStringLiteral("secret.txt")), "data");
    ::chmod(dir.filePath(QStringLiteral("secret.txt")).toUtf8().constData(), 0);
    QVERIFY(!pack({dir.filePath(QStringLiteral("secret.txt"))}, {},
                  dir.filePath(QStringLiteral("a.zrvdata"))));
    QCOMPARE(entries(dir.path()), QStringList{"secret.txt"});
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
    const QString big = dir.filePath(QStringLiteral("in/big.bin"));
    write_file(big, random_bytes(file_size, 3));
    const QString archive = dir.filePath(QStringLiteral("out/a.zrvdata"));
    if (!packing)
        QVERIFY(pack({big}, {}, archive));
    const QStringList before = entries(dir.filePath(QStringLiteral("out")));

    // A child process whose files may not grow past 256 KiB: the write fails part-way.
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool ok = packing ? pack({big}, {}, archive)
                                : unpack(archive, dir.filePath(QStringLiteral("out/a")));
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 1);
    QCOMPARE(entries(dir.filePath(QStringLiteral("out"))), before);
}

void TestArchive::chinese_names_in_the_c_locale() {
    QTemporaryDir dir;
    write_file(dir.filePath(QStringLiteral("中文/文件.txt")), "内容");
    const QString archive = dir.filePath(QStringLiteral("c.zrvdata"));
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const bool packed = pack({}, {dir.filePath(QStringLiteral("中文"))}, archive);
    const bool unpacked = unpack(archive, dir.filePath(QStringLiteral("out")));
    std::setlocale(LC_ALL, previous.c_str());

    QVERIFY(packed);
    QVERIFY(unpacked);
    QCOMPARE(names_without_utf8_flag(archive), QByteArray());
    const CommandResult listing =
        python({QStringLiteral("-m"), QStringLiteral("zipfile"), QStringLiteral("-l"), archive});
    QVERIFY2(listing.output.contains("中文/文件.txt"), listing.output.constData());
    QCOMPARE(read_file(dir.filePath(QStringLiteral("out/中文/文件.txt"))), QByteArray("内容"));
}

void TestArchive::archive_being_written_is_not_packed() {
    QTemporaryDir dir;
    write_file(dir.filePath(QStringLiteral("home/note.txt")), "note");
    const QString archive = dir.filePath(QStringLiteral("home/AddData/a.zrvdata"));
    QVERIFY(pack({}, {dir.filePath(QStringLiteral("home"))}, archive));
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("out"))));
    QCOMPARE(contents(dir.filePath(QStringLiteral("out"))).keys(),
             QStringList({"home", "home/AddData", "home/note.txt"}));
}

// Cancels the call it watches once `fraction` of its total is done: 0 before the call starts,
// 1 at the very end of its data, and never when negative.
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
    const QString tree = dir.filePath(QStringLiteral("in/tree"));
    write_file(tree + QStringLiteral("/large.bin"), random_bytes(24 * 1024 * 1024, 5));
    for (int i = 0; i < 50; ++i)
        write_file(tree + QStringLiteral("/small/%1.txt").arg(i), QByteArray(1000 + i, 'x'));
    make_link(QStringLiteral("large.bin"), tree + QStringLiteral("/link"));
    const qint64 data_bytes = 24 * 1024 * 1024 + 50 * 1000 + 49 * 50 / 2;
    const QString archive = dir.filePath(QStringLiteral("out/a.zrvdata"));
    if (!packing)
        QVERIFY(pack({}, {tree}, archive));
    const QStringList before = entries(dir.filePath(QStringLiteral("out")));

    CancelAt progress(fraction);
    zrv::attach_progress(&progress);
    bool ok = false;
    const QByteArray error = capture_stderr([&] {
        ok = packing ? pack({}, {tree}, archive)
                     : unpack(archive, dir.filePath(QStringLiteral("out/a")));
    });
    zrv::attach_progress(nullptr);

    if (fraction < 0) {
        QVERIFY2(ok, error.constData());
        QCOMPARE(qint64(progress.total()), data_bytes);
        QCOMPARE(qint64(progress.done()), data_bytes);
        return;
    }
    QVERIFY(!ok);
    QVERIFY2(error.contains("cancelled") && error.count('\n') == 1, error.constData());
    QCOMPARE(entries(dir.filePath(QStringLiteral("out"))), before);
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
