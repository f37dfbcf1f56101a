// ZIP64: archives past the classic format's limits of 65,535 entries and 4 GiB, read back by
// us and by the peers. Slow (it inflates several GiB), so it has a test of its own, labelled
// slow.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace testsupport;

class TestArchiveZip64 : public QObject {
    Q_OBJECT

private slots:
    void past_the_classic_limits_data();
    void past_the_classic_limits();
};

void TestArchiveZip64::past_the_classic_limits_data() {
    QTest::addColumn<int>("entries");
    QTest::addColumn<qint64>("huge_size"); // 0: no huge file
    QTest::newRow("70,000 entries") << 70000 << qint64(0);
    // The small entries come after the huge one, so their headers lie past the 4 GiB mark.
    QTest::newRow("a file over 4 GiB, then an executable, a private file and a link")
        << 0 << 4LL * 1024 * 1024 * 1024 + 12345;
}

void TestArchiveZip64::past_the_classic_limits() {
    QFETCH(int, entries);
    QFETCH(qint64, huge_size);
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("in/tree"));
    QDir().mkpath(tree);
    for (int i = 0; i < entries; ++i)
        write_file(tree + QStringLiteral("/%1").arg(i), QByteArray::number(i));
    if (huge_size > 0) {
        // Sparse on disk, with a few real bytes where 32-bit sizes and offsets would wrap.
        QFile file(tree + QStringLiteral("/a huge.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(huge_size));
        QVERIFY(file.seek(0xFFFFFFFFLL - 3));
        file.write("wrap");
        QVERIFY(file.seek(huge_size - 4));
        file.write("tail");
        file.close();
        write_file(tree + QStringLiteral("/b exec.sh"), "#!/bin/sh\n");
        write_file(tree + QStringLiteral("/c private.txt"), "mine\n");
        ::chmod((tree + QStringLiteral("/b exec.sh")).toUtf8().constData(), 0755);
        ::chmod((tree + QStringLiteral("/c private.txt")).toUtf8().constData(), 0600);
        make_link(QStringLiteral("b exec.sh"), tree + QStringLiteral("/d link"));
    }
    const QString archive = dir.filePath(QStringLiteral("big.zrvdata"));
    QVERIFY(pack({}, {tree}, archive, entries > 0 ? 0 : 1));

    for (const auto &[program, arguments] :
         {std::pair{QStringLiteral("unzip"), QStringList{QStringLiteral("-tq"), archive}},
          std::pair{QStringLiteral("7zz"), QStringList{QStringLiteral("t"), archive}}}) {
        const CommandResult tested = run(program, arguments);
        QVERIFY2(tested.exit_code == 0 && !tested.output.contains("Error"),
                 (program + QLatin1Char(' ') + QString::fromUtf8(tested.output.right(2000)))
                     .toUtf8()
                     .constData());
    }
    const CommandResult extracted =
        run(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"),
                                      dir.filePath(QStringLiteral("peer"))});
    QVERIFY2(extracted.exit_code == 0, extracted.output.constData());
    QVERIFY(unpack(archive, dir.filePath(QStringLiteral("ours"))));

    // Names, types, link targets, modes and times, from us and from unzip; the huge file's
    // contents by cmp, the rest by the snapshot.
    const auto without_huge = [](Tree snapshot) {
        snapshot.remove(QStringLiteral("tree/a huge.bin"));
        return snapshot;
    };
    const Tree expected = without_huge(snapshot(dir.filePath(QStringLiteral("in"))));
    QCOMPARE(without_huge(snapshot(dir.filePath(QStringLiteral("ours")))), expected);
    QCOMPARE(without_huge(snapshot(dir.filePath(QStringLiteral("peer")))), expected);
    if (huge_size > 0) {
        for (const QString &copy : {QStringLiteral("ours"), QStringLiteral("peer")}) {
            const CommandResult compared = run(
                QStringLiteral("cmp"), {tree + QStringLiteral("/a huge.bin"),
                                        dir.filePath(copy + QStringLiteral("/tree/a huge.bin"))});
            QVERIFY2(compared.exit_code == 0, compared.output.constData());
        }
    }
}

QTEST_GUILESS_MAIN(TestArchiveZip64)
#include "tst_archive_zip64.moc"
