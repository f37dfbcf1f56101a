// Helpers shared by the tests: peer tools and shell set-ups, files and archives on disk, and a
// tree read back for comparison.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace testsupport {

// A new empty folder that is the working directory while this lives.
struct WorkingFolder : QTemporaryDir {
    WorkingFolder() { QDir::setCurrent(path()); }
    ~WorkingFolder() { QDir::setCurrent(QDir::tempPath()); }
};

struct CommandResult {
    int exit_code = -1;
    QByteArray output; // standard output and error together
};
CommandResult run(const QString &program, const QStringList &arguments,
                  const QString &folder = QString(), const QByteArray &input = QByteArray());
// Runs `script` with bash in `folder`; a script that fails stops the test program.
void sh(const QString &folder, const QString &script);
// Writes a ZIP archive described by `entries` (JSON, see tests/zipforge.py).
void forge_zip(const QString &path, const QByteArray &entries);
// What Python's zipfile finds wrong with an archive packed with `flag`: nothing when empty.
QByteArray zip_objections(const QString &archive, int flag);

void write_file(const QString &path, const QByteArray &contents);
QByteArray read_file(const QString &path);
// Names in `folder`, sorted.
QStringList entries(const QString &folder);

// Calls the archive component the way the program does, with wide strings.
bool pack(const QStringList &files, const QStringList &folders, const QString &archive,
          int flag = 1);
bool unpack(const QString &archive, const QString &target);

// What a person or a program sees of one entry: "f" file, "d" folder or "l" link, permission
// bits, modification time (not for links) and contents or link target.
struct Node {
    char type = '?';
    unsigned perm = 0;
    qint64 mtime = 0;
    QByteArray content;
    bool operator==(const Node &other) const;
};
// Every entry below a folder, by relative path; names that are not UTF-8 appear as "bytes:"
// and their hex.
using Tree = QMap<QString, Node>;
Tree snapshot(const QString &root);
char *toString(const Tree &tree); // for QCOMPARE

// What `work` wrote to the descriptor `fd` (1 standard output, 2 standard error).
QByteArray capture(int fd, const std::function<void()> &work);

} // namespace testsupport
