// Helpers shared by the tests: running peer tools, building trees and archives on disk, and
// reading a tree back for comparison.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <unistd.h>

namespace testsupport {

// A new empty folder that is the working directory while this lives.
class WorkingFolder {
public:
    WorkingFolder();
    ~WorkingFolder();
    QString path() const { return folder.path(); }
    QString filePath(const QString &name) const { return folder.filePath(name); }

private:
    QTemporaryDir folder;
    QString previous;
};

struct CommandResult {
    int exit_code = -1;
    QByteArray output; // standard output and error together
};

CommandResult run(const QString &program, const QStringList &arguments,
                  const QString &working_directory = QString(),
                  const QByteArray &input = QByteArray());

// Runs Debian's Python, which the project's set-up installs, with `arguments`.
CommandResult python(const QStringList &arguments);

// Writes a ZIP archive described by `entries` (JSON, see tests/zipforge.py).
void forge_zip(const QString &path, const QByteArray &entries);

// `size` bytes that do not compress, the same for the same seed.
QByteArray random_bytes(int size, quint32 seed);

void write_file(const QString &path, const QByteArray &contents);
QByteArray read_file(const QString &path);
void make_link(const QString &target, const QString &path);
void set_mtime(const QString &path, qint64 seconds);

// Calls the archive component the way the program does, with wide strings.
bool pack(const QStringList &files, const QStringList &folders, const QString &archive,
          int flag = 1);
bool unpack(const QString &archive, const QString &target);

// What a person or a program would see of one file-system entry.
struct Node {
    char type = '?';    // 'f' file, 'd' folder, 'l' link
    QByteArray content; // file contents or link target
    unsigned perm = 0;  // permission bits (and setuid/setgid/sticky)
    qint64 mtime = 0;   // seconds
    bool operator==(const Node &other) const;
};
using Tree = QMap<QString, Node>;

// Every entry below `root`, by path relative to it; links are not followed.
Tree snapshot(const QString &root);
// Files and folders only, by contents: for peers that keep neither modes, times nor links.
QMap<QString, QByteArray> contents(const QString &root);

// Names in `folder`, sorted.
QStringList entries(const QString &folder);

// Runs `work` with the output `fd` (1 for standard output, 2 for standard error) sent to a
// buffer, and returns what it wrote there.
template <typename Work> QByteArray capture(int fd, Work &&work);
int redirect(int fd, const QString &path);
QByteArray read_redirected(int fd, int saved, const QString &path);

template <typename Work> QByteArray capture(int fd, Work &&work) {
    const QString path = QStringLiteral("/tmp/cofferbox-output-%1-%2").arg(::getpid()).arg(fd);
    const int saved = redirect(fd, path);
    work();
    return read_redirected(fd, saved, path);
}
template <typename Work> QByteArray capture_stderr(Work &&work) {
    return capture(2, work);
}

} // namespace testsupport

char *toString(const testsupport::Node &node);
