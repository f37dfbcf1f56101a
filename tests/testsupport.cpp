#include "testsupport.h"

#include "archive/zrv_archive.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace testsupport {

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path().toStdString()), ignored);
}

CommandResult run(const QString &program, const QStringList &arguments, const QString &folder,
                  const QByteArray &input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    // Peers read and write names as UTF-8 whatever the test's own locale.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C.UTF-8");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.readAll() + process.errorString().toUtf8()};
    return {process.exitCode(), process.readAll()};
}

void sh(const QString &folder, const QString &script) {
    QDir().mkpath(folder);
    const CommandResult result = run("bash", {"-euc", script}, folder);
    if (result.exit_code != 0)
        qFatal("%s\nfailed: %s", qPrintable(script), result.output.constData());
}

void forge_zip(const QString &path, const QByteArray &entries) {
    const CommandResult made =
        run("/usr/bin/python3", {TESTS_SOURCE_DIR "/zipforge.py", path}, {}, entries);
    if (made.exit_code != 0)
        qFatal("zipforge failed: %s", made.output.constData());
}

QByteArray zip_objections(const QString &archive, int flag) {
    return run("/usr/bin/python3", {"-c", R"(import sys, zipfile, zlib
z, deflate = zipfile.ZipFile(sys.argv[1]), sys.argv[2] == '1'
for i in z.infolist():
    data = z.read(i) if i.file_size < 1 << 26 else b''
    shrinks = len(zlib.compress(data, 1)) < 0.9 * len(data)
    fits = ((0, 8) if len(data) <= 4096 else (8,) if shrinks else (0,)) if deflate else (0,)
    if i.compress_type not in fits:
        print(i.filename, 'has method', i.compress_type)
    if not i.flag_bits & 0x800 and not i.filename.isascii():
        try: print(i.filename.encode('cp437').decode(), 'is UTF-8 without the flag')
        except UnicodeError: pass)",
                                    archive, QString::number(flag)})
        .output;
}

QStringList entries(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool pack(const QStringList &files, const QStringList &folders, const QString &archive, int flag,
          const QString &password) {
    const std::wstring file_list = files.join(',').toStdWString();
    const std::wstring folder_list = folders.join(',').toStdWString();
    const std::wstring path = archive.toStdWString();
    if (password.isNull())
        return ZWZipCompress_t(file_list.c_str(), folder_list.c_str(), path.c_str(), flag) != 0;
    return ZWZipCompressWithPassword(file_list.c_str(), folder_list.c_str(), path.c_str(), flag,
                                     password.toStdWString().c_str()) != 0;
}

bool unpack(const QString &archive, const QString &target, const QString &password) {
    const std::wstring path = archive.toStdWString(), folder = target.toStdWString();
    if (password.isNull())
        return ZWZipExtract(path.c_str(), folder.c_str()) != 0;
    return ZWZipExtractWithPassword(path.c_str(), folder.c_str(),
                                    password.toStdWString().c_str()) != 0;
}

static void snapshot_below(const QByteArray &folder, const QByteArray &relative, Tree &tree) {
    DIR *dir = ::opendir(folder.constData());
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        const QByteArray name(entry->d_name), path = folder + '/' + name;
        const QByteArray key = relative.isEmpty() ? name : relative + '/' + name;
        struct stat info;
        if (name == "." || name == ".." || ::lstat(path.constData(), &info) != 0)
            continue;
        Node node{'f', info.st_mode & 07777U, info.st_mtim.tv_sec, {}};
        if (S_ISLNK(info.st_mode)) {
            char target[4096] = {}; // empty should readlink fail
            node = {'l', node.perm, 0, {target, int(::readlink(path.constData(), target, 4096))}};
        } else if (S_ISDIR(info.st_mode)) {
            node.type = 'd';
            snapshot_below(path, key, tree);
        } else if (S_ISREG(info.st_mode)) {
            QFile file;
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (file.open(::open(path.constData(), O_RDONLY | O_CLOEXEC), QIODevice::ReadOnly,
                          QFileDevice::AutoCloseHandle))
                node.content = info.st_size < (64 << 20) || !hash.addData(&file)
                                   ? file.readAll()
                                   : "sha256:" + hash.result().toHex();
        }
        const QString text = QString::fromUtf8(key);
        tree.insert(text.toUtf8() == key ? text : "bytes:" + key.toHex(), node);
    }
    if (dir)
        ::closedir(dir);
}

Tree snapshot(const QString &root) {
    Tree tree;
    snapshot_below(root.toUtf8(), QByteArray(), tree);
    return tree;
}

QList<QStringList> table_rows(const char *text) {
    QStringList lines;
    for (const QString &line : QString(text).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(' ') && !lines.isEmpty()) {
            QString &row = lines.last();
            const QString rest = line.mid(line.indexOf(QRegularExpression("[^ ]")));
            row = row.endsWith('\\') ? row.chopped(1) + rest : row + ' ' + rest;
        } else {
            lines << line;
        }
    }
    QList<QStringList> rows;
    for (const QString &line : lines) {
        rows << line.split(" | ");
        if (rows.last().size() != rows.first().size())
            qFatal("the table row \"%s\" has %d cells, its header \"%s\" names %d columns",
                   qPrintable(line), int(rows.last().size()), qPrintable(lines.first()),
                   int(rows.first().size()));
    }
    return rows.mid(1);
}

QByteArray capture(int fd, const std::function<void()> &work) {
    std::fflush(nullptr);
    const int saved = ::dup(fd);
    QTemporaryFile buffer;
    buffer.open();
    ::dup2(buffer.handle(), fd);
    work();
    std::fflush(nullptr);
    ::dup2(saved, fd);
    ::close(saved);
    buffer.seek(0);
    return buffer.readAll();
}

} // namespace testsupport
