// Helpers shared by the tests: peers, shell set-ups, archives, and trees read back to compare.
#pragma once

#include <QDir>
#include <QMap>
#include <QTemporaryDir>

#include <functional>

namespace testsupport {

// A new empty temporary folder, removed with everything in it, names that are not UTF-8 too
// (which QTemporaryDir leaves behind).
struct TempFolder : QTemporaryDir {
    ~TempFolder();
};

// A new empty folder that is the working directory while this lives.
struct WorkingFolder : TempFolder {
    WorkingFolder() { QDir::setCurrent(path()); }
    ~WorkingFolder() { QDir::setCurrent(QDir::tempPath()); }
};

struct CommandResult {
    int exit_code = -1;
    QByteArray output; // standard output and error together
};
CommandResult run(const QString &program, const QStringList &arguments,
                  const QString &folder = QString(), const QByteArray &input = QByteArray());
// Runs `script` with bash in `folder`, made first; a script that fails stops the test program.
void sh(const QString &folder, const QString &script);
// Writes the ZIP archive that `entries` describe (JSON, see tests/zipforge.py).
void forge_zip(const QString &path, const QByteArray &entries);
// What Python's zipfile finds wrong with an archive packed with `flag`, empty when nothing: damaged
// data, a method that does not fit (0 stores all; 1 deflates what shrinks and stores what does
// not, past 4 KiB), UTF-8 names without the UTF-8 flag.
QByteArray zip_objections(const QString &archive, int flag);
QStringList entries(const QString &folder); // sorted

// Calls the archive component the way the program does, with wide strings; with a password
// (not null), through the calls that take one.
bool pack(const QStringList &files, const QStringList &folders, const QString &archive,
          int flag = 1, const QString &password = QString());
bool unpack(const QString &archive, const QString &target, const QString &password = QString());

// An entry as a person or program sees it: type 'f', 'd' or 'l', permission bits, modification
// time (none for links), and contents (a hash for large files) or link target.
struct Node {
    char type = 'f';
    unsigned perm = 0;
    qint64 mtime = 0;
    QByteArray content;
    bool operator==(const Node &o) const {
        return type == o.type && perm == o.perm && mtime == o.mtime && content == o.content;
    }
};
using Tree = QMap<QString, Node>;
Tree snapshot(const QString &root); // by relative path; names not UTF-8 as "bytes:" and hex

// The rows of a table written one a line, columns separated by " | ": first a header naming the
// columns, then the scenarios, each its name first. A line that starts with a space continues
// the row above, joined to it by one space, or by nothing after a line that ends in "\". A row
// with more or fewer cells than the header stops the test program, naming the row.
QList<QStringList> table_rows(const char *text);
// What `work` wrote to the descriptor `fd` (1 standard output, 2 standard error).
QByteArray capture(int fd, const std::function<void()> &work);

} // namespace testsupport
