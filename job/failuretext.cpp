#include "job/failuretext.h"

#include <QFileInfo>
#include <QLocale>

#include <cstring>
#include <utility>

namespace failure_text {

namespace {

constexpr int longest_shown_path = 120;
constexpr std::size_t items_listed = 20;

// How the component words a check or a reason, and how a person reads it. The component's
// own line is shown too, in the details, so an unknown one loses nothing.
using Phrases = std::initializer_list<std::pair<const char *, const char *>>;

const Phrases damaged_checks = {
    {"CRC mismatch", "内容与校验值（CRC）不符"},
    {"more than it declares", "数据比记录的大小多"},
    {"shorter than it declares", "数据比记录的大小少"},
    {"no end of central directory", "它不是 ZIP 压缩包，或者不完整"},
    {"ended early", "压缩包不完整，提前结束了"},
    {"disagrees", "条目头与目录记录不一致"},
    {"overlapping", "条目的数据相互重叠"},
    {"end record", "目录末尾记录与目录不符"},
    {"central directory", "压缩包的目录已损坏"},
    {"malformed link", "链接条目格式不对"},
};

const Phrases unsupported_features = {
    {"encrypted", "条目已加密"},
    {"compression method", "用了不支持的压缩方法"},
};

const Phrases packing_reasons = {
    {"a FIFO", "它是命名管道（FIFO）"},
    {"a socket", "它是套接字（socket）"},
    {"a device", "它是设备文件"},
    {"a special file", "它是特殊文件"},
    {"to nothing", "它是链接，指向文件夹之外，目标不存在"},
    {"to a folder", "它是链接，指向文件夹之外的另一个文件夹"},
    {"control character", "它的名称含控制字符，压缩包存不下"},
    {"size is not", "读取时它的大小变了"},
    {"changed while it was read", "读取时它被改动了"},
    {"no name to pack it under", "这个文件夹没有名称"},
};

QString phrase_for(const std::string &message, const Phrases &phrases) {
    for (const auto &[english, chinese] : phrases)
        if (message.find(english) != std::string::npos)
            return QString::fromUtf8(chinese);
    return QStringLiteral("详见详细信息");
}

QString quoted(const std::string &path) {
    return QStringLiteral("“") + shown_path(QString::fromStdString(path)) + QStringLiteral("”");
}

// The system's reason in the system's language, or the component's words when it gave none.
QString system_reason(const zrv::FailureCause &cause) {
    if (cause.error_number != 0)
        return QString::fromLocal8Bit(std::strerror(cause.error_number));
    return QStringLiteral("详见详细信息");
}

QString data_size(std::uint64_t bytes) {
    return QLocale().formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeSIFormat);
}

QString in_entry(const zrv::FailureCause &cause) {
    return cause.entry.empty() ? QString() : QStringLiteral("，条目") + quoted(cause.entry);
}

QString disk_full(const zrv::FailureCause &cause) {
    QString text = QStringLiteral("磁盘空间不足");
    if (!cause.path.empty())
        text += QStringLiteral("，无法写入") + quoted(cause.path);
    if (cause.bytes_needed != 0)
        text += QStringLiteral("：需要 %1，只剩 %2")
                    .arg(data_size(cause.bytes_needed), data_size(cause.bytes_free));
    return text + QStringLiteral("。请腾出空间后再试。");
}

QString archive_problem(const zrv::FailureCause &cause) {
    if (cause.kind == zrv::FailureKind::damaged)
        return QStringLiteral("压缩包") + quoted(cause.path) + QStringLiteral("已损坏") +
               in_entry(cause) + QStringLiteral("：") + phrase_for(cause.message, damaged_checks) +
               QStringLiteral("。请重新获取这个压缩包。");
    if (cause.kind == zrv::FailureKind::unsafe)
        return QStringLiteral("压缩包") + quoted(cause.path) + QStringLiteral("含有不安全的条目") +
               quoted(cause.entry.empty() ? cause.path : cause.entry) +
               QStringLiteral(
                   "：它会落到目标文件夹之外，或是特殊文件。为安全起见，什么都没有解压。");
    return QStringLiteral("压缩包") + quoted(cause.path) +
           QStringLiteral("用了不支持的方法或功能") + in_entry(cause) + QStringLiteral("：") +
           phrase_for(cause.message, unsupported_features) +
           QStringLiteral("。可以试试用其他 ZIP 工具打开。");
}

QString file_problem(const zrv::FailureCause &cause) {
    switch (cause.kind) {
    case zrv::FailureKind::cannot_read:
        return QStringLiteral("无法读取") + quoted(cause.path) + QStringLiteral("：") +
               system_reason(cause) + QStringLiteral("。请确认它还在，并且可以读取。");
    case zrv::FailureKind::cannot_write:
        return QStringLiteral("无法写入") + quoted(cause.path) + QStringLiteral("：") +
               system_reason(cause) + QStringLiteral("。");
    case zrv::FailureKind::no_permission:
        return QStringLiteral("没有权限访问") + quoted(cause.path) +
               QStringLiteral("。请检查它的权限，或换一个位置。");
    case zrv::FailureKind::exists:
        return QStringLiteral("压缩包") + quoted(cause.path) +
               QStringLiteral("已经存在，没有覆盖它。请稍等一秒再试。");
    case zrv::FailureKind::cannot_create_target:
        return QStringLiteral("无法创建目标文件夹") + quoted(cause.path) + QStringLiteral("：") +
               system_reason(cause) + QStringLiteral("。请确认所在的文件夹可以写入。");
    default:
        return cannot_pack_item(cause) + QStringLiteral("。");
    }
}

} // namespace

QString outcome(bool is_encryption, bool is_ok) {
    return (is_encryption ? QStringLiteral("文件加密") : QStringLiteral("文件解密")) +
           (is_ok ? QStringLiteral("成功") : QStringLiteral("失败"));
}

QString cause(const zrv::FailureCause &cause) {
    switch (cause.kind) {
    case zrv::FailureKind::none:
        return QString();
    case zrv::FailureKind::cancelled:
        return QStringLiteral("已取消。");
    case zrv::FailureKind::disk_full:
        return disk_full(cause);
    case zrv::FailureKind::damaged:
    case zrv::FailureKind::unsafe:
    case zrv::FailureKind::unsupported:
        return archive_problem(cause);
    case zrv::FailureKind::password_needed:
        return QStringLiteral("压缩包") + quoted(cause.path) + QStringLiteral("需要密码。");
    case zrv::FailureKind::password_wrong:
        return QStringLiteral("密码不对，打不开压缩包") + quoted(cause.path) + QStringLiteral("。");
    case zrv::FailureKind::cannot_read:
    case zrv::FailureKind::cannot_write:
    case zrv::FailureKind::no_permission:
    case zrv::FailureKind::exists:
    case zrv::FailureKind::cannot_create_target:
    case zrv::FailureKind::cannot_pack:
        return file_problem(cause);
    case zrv::FailureKind::other:
        break;
    }
    return QStringLiteral("出现了意外的错误，详见详细信息。");
}

QString cannot_pack_item(const zrv::FailureCause &item) {
    if (item.kind != zrv::FailureKind::cannot_pack)
        return quoted(item.path) + QStringLiteral("：无法读取，") + system_reason(item);
    return QStringLiteral("无法打包") + quoted(item.path) + QStringLiteral("：") +
           phrase_for(item.message, packing_reasons);
}

QString skip_question(const std::vector<zrv::FailureCause> &items) {
    QStringList lines;
    for (std::size_t i = 0; i < items.size() && i < items_listed; ++i)
        lines << cannot_pack_item(items[i]);
    if (items.size() > items_listed)
        lines << QStringLiteral("还有 %1 项").arg(items.size() - items_listed);
    return lines.join(QLatin1Char('\n'));
}

QString shown_path(const QString &path) {
    if (path.size() <= longest_shown_path)
        return path;
    const int head = longest_shown_path / 3;
    return path.left(head) + QStringLiteral("…") + path.right(longest_shown_path - head - 1);
}

QString packed_into(const QString &archive) {
    return QStringLiteral("压缩包：") + QFileInfo(archive).absoluteFilePath();
}

QString unpacked_into(const QString &archive, const QString &folder) {
    return shown_path(archive) + QStringLiteral("：已解压到 ") + folder;
}

QString failed(const QString &archive, const QString &cause) {
    return shown_path(archive) + QStringLiteral("：") + cause;
}

QString not_started(const QString &archive) {
    return shown_path(archive) + QStringLiteral("：已取消，没有解压。");
}

QString no_thread() {
    return QStringLiteral("系统无法再启动线程，请稍后再试。");
}

QString informative(const JobResult &result) {
    QStringList lines = result.outcomes;
    if (!result.skipped.isEmpty())
        lines << QStringLiteral("有 %1 项无法打包，已跳过，详见详细信息。")
                     .arg(result.skipped.size());
    if (result.is_encryption && result.is_ok)
        lines << (result.is_password_protected
                      ? QStringLiteral("压缩包已用 AES-256 加密")
                      : QStringLiteral("压缩包没有设置密码，任何拿到它的人都能打开"));
    return lines.join(QLatin1Char('\n'));
}

QString detailed(const JobResult &result) {
    QStringList lines;
    if (!result.skipped.isEmpty())
        lines << QStringLiteral("跳过的项目：") << result.skipped;
    lines << result.details;
    return lines.join(QLatin1Char('\n'));
}

} // namespace failure_text
