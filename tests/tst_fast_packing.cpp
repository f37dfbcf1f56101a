// Packing on every core: entries large and small, compressible or not, come out whole and
// readable by peers; the same input gives the same bytes; any failure leaves nothing.
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

constexpr int mib = 1024 * 1024;

QByteArray text_like(int size, quint32 seed) {
    static const char *const words[] = {"alpha ",  "beta ",    "gamma\n", "delta ", "0x7f, ",
                                        "return ", "value = ", "{ ",      "}\n",    "archive "};
    QRandomGenerator generator(seed);
    QByteArray text;
    text.reserve(size + 16);
    while (text.size() < size)
        text += words[generator.bounded(10)];
    text.truncate(size);
    return text;
}

// Each entry's compression method and sizes as Python's zipfile reads them.
QByteArray methods(const QString &archive) {
    return python(
               {QStringLiteral("-c"),
                QStringLiteral(
                    "import sys, zipfile\n"
                    "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                    "    smaller = 'smaller' if i.compress_size < i.file_size else 'not smaller'\n"
                    "    print(i.filename, i.compress_type, smaller)\n"),
                archive})
        .output;
}

} // namespace

class TestFastPacking : public QObject {
    Q_OBJECT

private slots:
    void entries_of_every_kind_come_out_whole_data();
    void entries_of_every_kind_come_out_whole();
    void same_input_gives_identical_archives();
    void files_that_change_while_packed_fail_data();
    void files_that_change_while_packed_fail();
};

void TestFastPacking::entries_of_every_kind_come_out_whole_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QByteArray>("method");
    QTest::newRow("small and compressible") << text_like(100000, 1) << 1 << QByteArray("8 smaller");
    QTest::newRow("small and incompressible, stored")
        << random_bytes(100000, 2) << 1 << QByteArray("0 not smaller");
    QTest::newRow("several pieces, compressible")
        << text_like(5 * mib + 123, 3) << 1 << QByteArray("8 smaller");
    QTest::newRow("several pieces, incompressible, stored")
        << random_bytes(3 * mib + 8, 4) << 1 << QByteArray("0 not smaller");
    QTest::newRow("pieces that compress and pieces that do not")
        << text_like(mib + 5, 5) + random_bytes(2 * mib, 6) + text_like(mib, 7) +
               random_bytes(100, 8)
        << 1 << QByteArray("8 smaller");
    QTest::newRow("flag 0 stores") << text_like(3 * mib, 9) << 0 << QByteArray("0 not smaller");
}

void TestFastPacking::entries_of_every_kind_come_out_whole() {
    QFETCH(QByteArray, contents);
    QFETCH(int, flag);
    QFETCH(QByteArray, method);
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("in/data.bin"));
    write_file(input, contents);
    const QString archive = dir.filePath(QStringLiteral("a.zrvdata"));

    QVERIFY(pack({input}, {}, archive, flag));

    QCOMPARE(methods(archive).trimmed(), "data.bin " + method);
    for (const QStringList &check :
         {QStringList{"unzip", "-tq", archive}, QStringList{"7zz", "t", archive}}) {
        const CommandResult tested = run(check.first(), check.mid(1));
        QVERIFY2(tested.exit_code == 0, tested.output.constData());
    }
    const CommandResult extracted =
        run(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"),
                                      dir.filePath(QStringLiteral("peer"))});
    QVERIFY2(extracted.exit_code == 0, extracted.output.constData());
    QVERIFY(read_file(dir.filePath(QStringLiteral("peer/data.bin"))) == contents);
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("ours"))));
    QVERIFY(read_file(dir.filePath(QStringLiteral("ours/data.bin"))) == contents);
}

void TestFastPacking::same_input_gives_identical_archives() {
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("tree"));
    for (int i = 0; i < 40; ++i)
        write_file(tree + QStringLiteral("/small/%1.txt").arg(i), text_like(1000 + i * 997, i));
    write_file(tree + QStringLiteral("/large.txt"), text_like(4 * mib, 50));
    write_file(tree + QStringLiteral("/noise.bin"), random_bytes(2 * mib, 51));
    QDir().mkpath(tree + QStringLiteral("/empty"));

    QVERIFY(pack({}, {tree}, dir.filePath(QStringLiteral("first.zrvdata"))));
    QVERIFY(pack({}, {tree}, dir.filePath(QStringLiteral("second.zrvdata"))));

    const QByteArray first = read_file(dir.filePath(QStringLiteral("first.zrvdata")));
    QVERIFY(first.size() > 0);
    QVERIFY(first == read_file(dir.filePath(QStringLiteral("second.zrvdata"))));
}

void TestFastPacking::files_that_change_while_packed_fail_data() {
    QTest::addColumn<QString>("changing");
    // /proc files claim no size and then hold text; /sys files claim a page and hold less.
    QTest::newRow("a file that grows") << "/proc/self/status";
    QTest::newRow("a file that shrinks") << "/sys/devices/system/cpu/online";
}

void TestFastPacking::files_that_change_while_packed_fail() {
    QFETCH(QString, changing);
    if (!QFileInfo::exists(changing))
        QSKIP("this system has no such file");
    QTemporaryDir dir;
    // The changing file sits among many others that other workers are compressing.
    QStringList files;
    for (int i = 0; i < 24; ++i) {
        files << dir.filePath(QStringLiteral("in/%1.txt").arg(i));
        write_file(files.last(), text_like(mib + i, i));
    }
    files.insert(12, changing);

    const QByteArray error = capture_stderr(
        [&] { QVERIFY(!pack(files, {}, dir.filePath(QStringLiteral("AddData/a.zrvdata")))); });

    QVERIFY2(error.contains(changing.toUtf8()), error.constData());
    QCOMPARE(entries(dir.filePath(QStringLiteral("AddData"))), QStringList());
}

QTEST_GUILESS_MAIN(TestFastPacking)
#include "tst_fast_packing.moc"
