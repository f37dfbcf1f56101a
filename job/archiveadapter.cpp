#include "job/archiveadapter.h"

#include "archive/crypto.h"
#include "archive/zrv_archive.h"

#include <QFileInfo>
#include <QLocale>

#include <cstdio>
#include <string>

namespace archive_adapter {

namespace {

// Paths are composed with the platform's own separator: on Windows the backslash, elsewhere
// "/", where a backslash would end up as part of a file name.
QString separator() {
#ifdef Q_OS_WIN
    return QStringLiteral("\\");
#else
    return QStringLiteral("/");
#endif
}

} // namespace

QString archive_folder_name() {
    return QStringLiteral("AddData");
}

QString new_archive_path(const QDateTime &now) {
    // The last field is the weekday name in the system's language, not milliseconds.
    const QString stamp = QLocale::system().toString(now, QStringLiteral("yyyyMMdd__hhmmss_ddd"));
    return QStringLiteral(".") + separator() + archive_folder_name() + separator() + stamp +
           QStringLiteral(".zrvdata");
}

QString unpack_target(const QString &archive_path) {
    const QFileInfo info(archive_path);
    return info.absolutePath() + separator() + info.baseName();
}

bool pack(const QString &file_list, const QString &folder_list, const QString &archive_path,
          const QString &password) {
    const std::wstring files = file_list.toStdWString();
    const std::wstring folders = folder_list.toStdWString();
    const std::wstring archive = archive_path.toStdWString();
    if (password.isEmpty())
        return ZWZipCompress_t(files.c_str(), folders.c_str(), archive.c_str(), 1) != 0;
    std::wstring secret = password.toStdWString();
    const bool packed = ZWZipCompressWithPassword(files.c_str(), folders.c_str(), archive.c_str(),
                                                  1, secret.c_str()) != 0;
    zrv::crypto::cleanse(secret.data(), secret.size() * sizeof(wchar_t));
    return packed;
}

bool unpack(const QString &archive_path, const QString &target_folder, const QString &password) {
    const std::wstring archive = archive_path.toStdWString();
    const std::wstring target = target_folder.toStdWString();
    if (password.isEmpty())
        return ZWZipExtract(archive.c_str(), target.c_str()) != 0;
    std::wstring secret = password.toStdWString();
    const bool unpacked =
        ZWZipExtractWithPassword(archive.c_str(), target.c_str(), secret.c_str()) != 0;
    zrv::crypto::cleanse(secret.data(), secret.size() * sizeof(wchar_t));
    return unpacked;
}

void print_line(const QString &text) {
    const QByteArray line = text.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace archive_adapter
