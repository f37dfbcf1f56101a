#include "job/jobresult.h"

#include "job/failuretext.h"
#include "job/jobprogress.h"

#include <QVariantMap>

namespace {

const QString is_encryption_key = QStringLiteral("is_encryption");
const QString is_ok_key = QStringLiteral("is_ok");
const QString is_password_protected_key = QStringLiteral("is_password_protected");
const QString outcomes_key = QStringLiteral("outcomes");
const QString skipped_key = QStringLiteral("skipped");
const QString details_key = QStringLiteral("details");

} // namespace

void JobResult::add_packing(bool ok, const JobProgress *progress) {
    if (progress == nullptr)
        return;
    for (const zrv::FailureCause &item : progress->skipped) {
        skipped << failure_text::cannot_pack_item(item);
        details << QString::fromStdString(item.message);
    }
    if (ok) {
        outcomes << failure_text::packed_into(QString::fromStdString(progress->made()));
        return;
    }
    const zrv::FailureCause cause = progress->failure();
    outcomes << failure_text::cause(cause);
    details << QString::fromStdString(cause.message);
}

void JobResult::add_unpacking(const QString &archive, bool ok, const JobProgress *progress) {
    if (progress == nullptr)
        return;
    if (ok) {
        outcomes << failure_text::unpacked_into(archive, QString::fromStdString(progress->made()));
        return;
    }
    const zrv::FailureCause cause = progress->failure();
    outcomes << failure_text::failed(archive, failure_text::cause(cause));
    details << QString::fromStdString(cause.message);
}

void JobResult::add_not_started(const QString &archive) {
    outcomes << failure_text::not_started(archive);
}

QVariant JobResult::to_variant() const {
    QVariantMap map;
    map.insert(is_encryption_key, is_encryption);
    map.insert(is_ok_key, is_ok);
    map.insert(is_password_protected_key, is_password_protected);
    map.insert(outcomes_key, outcomes);
    map.insert(skipped_key, skipped);
    map.insert(details_key, details);
    return QVariant(map);
}

JobResult JobResult::from_variant(const QVariant &variant) {
    const QVariantMap map = variant.toMap();
    JobResult result;
    result.is_encryption = map.value(is_encryption_key).toBool();
    result.is_ok = map.value(is_ok_key).toBool();
    result.is_password_protected = map.value(is_password_protected_key).toBool();
    result.outcomes = map.value(outcomes_key).toStringList();
    result.skipped = map.value(skipped_key).toStringList();
    result.details = map.value(details_key).toStringList();
    return result;
}
