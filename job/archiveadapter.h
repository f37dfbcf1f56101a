// The thin layer between a job and the archive component: composes the archive paths of a job
// and converts Qt strings into the component's wide strings.
#pragma once

#include <QDateTime>
#include <QString>

namespace archive_adapter {

// The folder that new archives go to and the unpacking dialog starts in.
QString archive_folder_name();

// Where a packing job started at `now` writes its archive, relative to the working directory.
QString new_archive_path(const QDateTime &now);

// The folder an archive is unpacked into: beside the archive, named after its base name.
QString unpack_target(const QString &archive_path);

// An empty password packs without encryption, and unpacks archives that need none.
bool pack(const QString &file_list, const QString &folder_list, const QString &archive_path,
          const QString &password = QString());
bool unpack(const QString &archive_path, const QString &target_folder,
            const QString &password = QString());

// Writes one line to standard output in the system's 8-bit encoding and flushes it.
void print_line(const QString &text);

} // namespace archive_adapter
