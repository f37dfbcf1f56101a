#include "testsupport.h"

#include "archive/zrv_archive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testsupport {

WorkingFolder::WorkingFolder() : previous(QDir::currentPath()) {
    QDir::setCurrent(folder.path());
}

WorkingFolder::~WorkingFolder() {
    QDir::setCurrent(previous);
}

CommandResult run(const QString &program, const QStringList &arguments,
                  const QString &working_directory, const QByteArray &input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!working_directory.isEmpty())
        process.setWorkingDirectory(working_directory);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    CommandResult result;
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
        result.output = process.readAll() + process.errorString().toUtf8();
        return result;
    }
    result.exit_code = process.exitCode();
    result.output = process.readAll();
    return result;
}

CommandResult python(const QStringList &arguments) {
    return run(QStringLiteral("/usr/bin/python3"), arguments);
}

void forge_zip(const QString &path, const QByteArray &entries) {
    const CommandResult result =
        run(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(TESTS_SOURCE_DIR "/zipforge.py"), path}, QString(), entries);
    if (result.exit_code != 0)
        qFatal("zipforge failed: %s", result.output.constData());
}

QByteArray random_bytes(int size, quint32 seed) {
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

void write_file(const QString &path, const QByteArray &contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray read_file(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void make_link(const QString &target, const QString &path) {
    if (::symlink(target.toUtf8().constData(), path.toUtf8().constData()) != 0)
        qFatal("cannot link %s", qPrintable(path));
}

void set_mtime(const QString &path, qint64 seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.toUtf8().constData(), times, AT_SYMLINK_NOFOLLOW);
}

bool pack(const QStringList &files, const QStringList &folders, const QString &archive, int flag) {
    const std::wstring file_list = files.join(QLatin1Char(',')).toStdWString();
    const std::wstring folder_list = folders.join(QLatin1Char(',')).toStdWString();
    const std::wstring archive_path = archive.toStdWString();
    return ZWZipCompress_t(file_list.c_str(), folder_list.c_str(), archive_path.c_str(), flag) != 0;
}

bool unpack(const QString &archive, const QString &target) {
    const std::wstring archive_path = archive.toStdWString();
    const std::wstring target_folder = target.toStdWString();
    return ZWZipExtract(archive_path.c_str(), target_folder.c_str()) != 0;
}

bool Node::operator==(const Node &other) const {
    return type == other.type && content == other.content && perm == other.perm &&
           mtime == other.mtime;
}

namespace {

// Names as the file system holds them: bytes that are not UTF-8 are shown in hex, so that two
// names differing in any byte never look alike.
QString name_of(const QByteArray &bytes) {
    const QString text = QString::fromUtf8(bytes);
    return text.toUtf8() == bytes ? text
                                  : QStringLiteral("bytes:") + QString::fromLatin1(bytes.toHex());
}

void snapshot_below(const QByteArray &folder, const QByteArray &relative, Tree &tree) {
    DIR *dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return;
    QByteArrayList children;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            children << name;
    }
    ::closedir(dir);
    for (const QByteArray &child : children) {
        const QByteArray path = folder + '/' + child;
        const QByteArray child_relative = relative.isEmpty() ? child : relative + '/' + child;
        struct stat info;
        if (::lstat(path.constData(), &info) != 0)
            continue;
        Node node;
        node.perm = info.st_mode & 07777;
        node.mtime = info.st_mtim.tv_sec;
        if (S_ISLNK(info.st_mode)) {
            node.type = 'l';
            char target[4096];
            const ssize_t length = ::readlink(path.constData(), target, sizeof target);
            node.content = QByteArray(target, int(length));
            node.mtime = 0; // link times are not kept
        } else if (S_ISDIR(info.st_mode)) {
            node.type = 'd';
            snapshot_below(path, child_relative, tree);
        } else if (S_ISREG(info.st_mode)) {
            node.type = 'f';
            QFile file;
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                node.content = file.readAll();
        }
        tree.insert(name_of(child_relative), node);
    }
}

} // namespace

Tree snapshot(const QString &root) {
    Tree tree;
    snapshot_below(root.toUtf8(), QByteArray(), tree);
    return tree;
}

QMap<QString, QByteArray> contents(const QString &root) {
    QMap<QString, QByteArray> result;
    const Tree tree = snapshot(root);
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (it->type == 'f' || it->type == 'd')
            result.insert(it.key(), it->type == 'd' ? QByteArray("<folder>") : it->content);
    }
    return result;
}

QStringList entries(const QString &folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

int redirect(int fd, const QString &path) {
    std::fflush(nullptr);
    const int saved = ::dup(fd);
    const int file = ::open(path.toUtf8().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, fd);
    ::close(file);
    return saved;
}

QByteArray read_redirected(int fd, int saved, const QString &path) {
    std::fflush(nullptr);
    ::dup2(saved, fd);
    ::close(saved);
    const QByteArray text = read_file(path);
    QFile::remove(path);
    return text;
}

} // namespace testsupport

char *toString(const testsupport::Node &node) {
    return QTest::toString(QStringLiteral("%1 perm %2 mtime %3 content %4")
                               .arg(QLatin1Char(node.type))
                               .arg(node.perm, 0, 8)
                               .arg(node.mtime)
                               .arg(QString::fromUtf8(node.content.left(40).toHex())));
}
