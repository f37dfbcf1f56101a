// Link graphs judged by the kernel: each graph is made on disk and every link resolved there,
// then forged as an archive and unpacked; the unpacker must refuse exactly what the kernel
// resolves outside the folder or cannot resolve at all (ELOOP), and make nothing else.
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// How the kernel resolves `path` below the open folder `top`, following every link: "inside"
// (also at a missing name or past a file, where it stops), "outside" when any step leaves the
// folder, "loops" for ELOOP.
QString kernel_resolves(int top, const QString &path) {
    struct open_how how = {};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH;
    const QByteArray name = path.toUtf8();
    const int fd = int(::syscall(SYS_openat2, top, name.constData(), &how, sizeof how));
    if (fd >= 0)
        ::close(fd);
    const int error = fd >= 0 ? 0 : errno;
    if (error == 0 || error == ENOENT || error == ENOTDIR)
        return "inside";
    return error == EXDEV ? "outside" : error == ELOOP ? "loops" : "error " + path;
}

// Where an ordinary open of the link ends: the real path, or empty when it stops at a missing
// name or a file.
QString opened_at(const QString &link) {
    const int fd = ::open(link.toUtf8().constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return {};
    const QString path = QFile::symLinkTarget("/proc/self/fd/" + QString::number(fd));
    ::close(fd);
    return path;
}

// Entries in zipforge's notation, with two shorthands: {N text} is text N times, and an entry
// PREFIX{chain N TARGET} is the links PREFIX/L1 -> L2 ... PREFIX/LN -> TARGET.
QStringList expand(const QString &entries) {
    QString text = entries;
    static const QRegularExpression repeat(R"(\{(\d+) ([^{} ]*)\})");
    for (auto m = repeat.match(text); m.hasMatch(); m = repeat.match(text))
        text.replace(m.capturedStart(), m.capturedLength(),
                     m.captured(2).repeated(m.captured(1).toInt()));
    static const QRegularExpression chain(R"(^(.*)\{chain (\d+) (.*)\}$)");
    QStringList expanded;
    for (const QString &entry : text.split(", ")) {
        const auto m = chain.match(entry);
        const int length = m.hasMatch() ? m.captured(2).toInt() : 0;
        for (int i = 1; i <= length; ++i)
            expanded << QString("%1L%2 -> %3")
                            .arg(m.captured(1))
                            .arg(i)
                            .arg(i < length ? "L" + QString::number(i + 1) : m.captured(3));
        if (!m.hasMatch())
            expanded << entry;
    }
    return expanded;
}

// A graph from `seed`: a few folders and files, links whose targets mix "..", ".", folders,
// files, other links and missing names, and often a chain of about the kernel's limit.
QStringList random_graph(quint32 seed) {
    QRandomGenerator random(seed);
    const auto pick = [&](const QStringList &from) { return from[random.bounded(from.size())]; };
    QStringList folders{""}, entries, links;
    for (int i = random.bounded(1, 6); i > 0; --i) {
        const QString folder = pick(folders) + pick({"a", "b", "c"}) + "/";
        if (!folders.contains(folder))
            folders << folder;
    }
    for (const QString &folder : folders.mid(1))
        entries << folder;
    for (const QString &folder : folders)
        if (random.bounded(2))
            entries << folder + "f=data";
    for (int i = random.bounded(3, 30); i > 0; --i)
        links << QString("L%1").arg(i);
    const int chain = random.bounded(2) ? random.bounded(36, 45) : 0;
    const QString chain_folder = pick(folders);
    for (int i = 1; i <= chain; ++i)
        links << QString("C%1").arg(i);
    QStringList names{"..", "..", ".", "a", "b", "c", "f", "nothing"};
    names << links;
    for (const QString &link : links) {
        QString target;
        if (link.startsWith('C') && link != QString("C%1").arg(chain)) {
            target = "C" + QString::number(link.mid(1).toInt() + 1);
        } else {
            for (int i = random.bounded(1, 5); i > 0; --i)
                target += (target.isEmpty() ? "" : "/") + pick(names);
            if (random.bounded(40) == 0)
                target = "/" + target;
        }
        entries << (link.startsWith('C') ? chain_folder : pick(folders)) + link + " -> " + target;
    }
    return entries;
}

// Makes what `entries` describe below `top`, as the unpacker would.
void make_on_disk(const QString &top, const QStringList &entries) {
    QDir().mkpath(top);
    for (const QString &entry : entries) {
        const int arrow = entry.indexOf(" -> "), equals = entry.indexOf('=');
        const QString name = entry.left(arrow >= 0 ? arrow : equals >= 0 ? equals : entry.size());
        const QString path = top + "/" + name;
        QDir().mkpath(QFileInfo(path).path());
        if (name.endsWith('/')) {
            QDir().mkpath(path);
        } else if (arrow >= 0) {
            QVERIFY(::symlink(entry.mid(arrow + 4).toUtf8().constData(),
                              path.toUtf8().constData()) == 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(entry.mid(equals + 1).toUtf8());
        }
    }
}

// What the kernel makes of every link below `top`, by name: "inside", "outside" or "loops".
QMap<QString, QString> kernel_verdicts(const QString &top) {
    QMap<QString, QString> verdicts;
    const int fd = ::open(top.toUtf8().constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const Tree tree = snapshot(top);
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        if (it->type == 'l')
            verdicts[it.key()] = kernel_resolves(fd, it.key());
    ::close(fd);
    return verdicts;
}

} // namespace

class TestLinks : public QObject {
    Q_OBJECT

private slots:
    void unpacks_what_the_kernel_resolves_inside_data();
    void unpacks_what_the_kernel_resolves_inside();
};

void TestLinks::unpacks_what_the_kernel_resolves_inside_data() {
    QTest::addColumn<QStringList>("graph");
    QTest::addColumn<QString>("refused");
    for (const QStringList &row : table_rows(R"(
scenario | graph | refused as
a chain of 39 links to a file | f=x, {chain 39 f} | no
a chain of 40 links to a file | f=x, {chain 40 f} | no
a chain of 41 links to a file | f=x, {chain 41 f} | loops
a file reached through 40 links | d/f=x, {chain 39 d}, x -> L1/f | no
a file reached through 41 links | d/f=x, {chain 40 d}, x -> L1/f | loops
twice through a chain of 19, 39 links | d/, {chain 19 d}, x -> L1/../L1 | no
twice through a chain of 20, 41 links | d/, {chain 20 d}, x -> L1/../L1 | loops
eight deep, 41 links, the last climbs out | {8 a/}up -> {8 ../}, {8 a/}{chain 41 up/{9 ../}} | loops
that last link on its own | {8 a/}up -> {8 ../}, {8 a/}L41 -> up/{9 ../} | leads outside
a chain of 41 links, the last climbs out | {chain 41 ..} | loops
a chain of 40 links, the last climbs out | {chain 40 ..} | leads outside
a link to itself | a -> a | loops
two links that point at each other | a -> b, b -> a | loops
a loop through a folder | d/l -> ../m, m -> d/l | loops
a loop behind a missing name | l -> nothing/l | no
a loop behind a file | f=x, l -> f/l | no
.. through a link to the top climbs out | a/b/up -> ../.., x -> a/b/up/.. | leads outside
.. through a link to a folder stays | a/b/c/up -> ../.., x -> a/b/c/up/.. | no
a link to a link in another folder | f=x, p/l -> ../q/m, q/m -> ../f | no
a link to a link in another folder that leads out | p/l -> ../q/m, q/m -> ../../f | leads outside
folders and links in one path | a/b/c/, a/l -> b, x -> a/l/c/../../l/c | no
folders and links in one path, climbing out | a/b/c/, a/l -> b, x -> a/l/../../.. | leads outside
dangling names, also through links | l -> nothing, m -> l, n -> m/more | no
.. past a missing name, where the kernel stops | l -> nothing/../../x | no
.. past a dangling link, where the kernel stops | d -> nothing, x -> d/../.. | no
an absolute link | x -> /tmp | leads outside
climbing out through a link to its own folder | self -> ., x -> self/self/.. | leads outside
)"))
        QTest::newRow(qPrintable(row[0])) << expand(row[1]) << row[2];
    for (quint32 seed = 1; seed <= 40; ++seed)
        QTest::newRow(qPrintable(QString("random graph, seed %1").arg(seed)))
            << random_graph(seed) << QString("as the kernel says");
}

void TestLinks::unpacks_what_the_kernel_resolves_inside() {
    QFETCH(QStringList, graph);
    QFETCH(QString, refused);
    QTemporaryDir dir;
    make_on_disk(dir.filePath("disk"), graph);
    const QMap<QString, QString> verdicts = kernel_verdicts(dir.filePath("disk"));
    QCOMPARE(verdicts.size(), graph.filter(" -> ").size());
    for (auto it = verdicts.cbegin(); it != verdicts.cend(); ++it)
        QVERIFY2(!it->startsWith("error"), qPrintable(*it));
    const bool kernel_refuses =
        verdicts.values().contains("outside") || verdicts.values().contains("loops");
    if (refused != "as the kernel says")
        QCOMPARE(kernel_refuses, refused != "no");

    forge_zip(dir.filePath("a.zip"), QJsonDocument(QJsonArray::fromStringList(graph)).toJson());
    QDir().mkpath(dir.filePath("out"));
    bool unpacked = false;
    const QByteArray error =
        capture(2, [&] { unpacked = unpack(dir.filePath("a.zip"), dir.filePath("out/top")); });
    QVERIFY2(unpacked == !kernel_refuses, error);
    if (!unpacked) {
        QVERIFY2(refused == "as the kernel says" || error.contains(refused.toUtf8()), error);
        QCOMPARE(entries(dir.filePath("out")), QStringList());
        return;
    }
    // Every link made resolves inside, as the kernel sees the unpacked tree.
    const QString top = QFileInfo(dir.filePath("out/top")).canonicalFilePath();
    const QMap<QString, QString> made = kernel_verdicts(top);
    QCOMPARE(made.keys(), verdicts.keys());
    for (auto it = made.cbegin(); it != made.cend(); ++it) {
        QCOMPARE(*it, QString("inside"));
        const QString end = opened_at(top + "/" + it.key());
        QVERIFY2(end.isEmpty() || end == top || end.startsWith(top + "/"), qPrintable(end));
    }
}

QTEST_GUILESS_MAIN(TestLinks)
#include "tst_links.moc"
