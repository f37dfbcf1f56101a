// ZIP64: archives past the classic format's limits of 65,535 entries and 4 GiB per file.
// Slow (it inflates several GiB), so it has a test of its own, labelled slow.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class TestArchiveZip64 : public QObject {
    Q_OBJECT

private slots:
    void more_than_65535_entries();
    void file_over_4_gib();
};

void TestArchiveZip64::more_than_65535_entries() {
    QTemporaryDir dir;
    const QString many = dir.filePath(QStringLiteral("many"));
    QDir().mkpath(many);
    constexpr int count = 70000;
    for (int i = 0; i < count; ++i)
        write_file(many + QStringLiteral("/%1").arg(i), QByteArray::number(i));
    const QString archive = dir.filePath(QStringLiteral("many.zrvdata"));

    QVERIFY(pack({}, {many}, archive, 0));

    const CommandResult listed =
        python({QStringLiteral("-c"),
                QStringLiteral("import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                               "print(len(z.infolist()), z.testzip())"),
                archive});
    QCOMPARE(listed.output.trimmed(), QByteArray("70001 None"));
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("out"))));
    const QStringList names = entries(dir.filePath(QStringLiteral("out/many")));
    QCOMPARE(names.size(), count);
    QCOMPARE(read_file(dir.filePath(QStringLiteral("out/many/69999"))), QByteArray("69999"));
}

void TestArchiveZip64::file_over_4_gib() {
    QTemporaryDir dir;
    const QString huge = dir.filePath(QStringLiteral("huge.bin"));
    constexpr qint64 size = 4LL * 1024 * 1024 * 1024 + 12345;
    {
        // Sparse on disk, with a few real bytes where 32-bit sizes and offsets would wrap.
        QFile file(huge);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        QVERIFY(file.seek(0xFFFFFFFFLL - 3));
        file.write("wrap");
        QVERIFY(file.seek(size - 4));
        file.write("tail");
    }
    const QString archive = dir.filePath(QStringLiteral("huge.zrvdata"));
    QVERIFY(pack({huge}, {}, archive));

    const CommandResult tested = run(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive});
    QVERIFY2(tested.exit_code == 0, tested.output.constData());
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("out"))));
    const QString copy = dir.filePath(QStringLiteral("out/huge.bin"));
    QCOMPARE(QFileInfo(copy).size(), size);
    const CommandResult compared = run(QStringLiteral("cmp"), {huge, copy});
    QVERIFY2(compared.exit_code == 0, compared.output.constData());
}

QTEST_GUILESS_MAIN(TestArchiveZip64)
#include "tst_archive_zip64.moc"
