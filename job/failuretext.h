// The Chinese wording of a job's outcome: what went wrong, in plain words and with what can be
// done about it, where the result went, and what a packing job left out.
#pragma once

#include "archive/failure.h"
#include "job/jobresult.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace failure_text {

// The outcome box's one line: 文件加密成功, 文件加密失败, 文件解密成功 or 文件解密失败.
QString outcome(bool is_encryption, bool is_ok);

// What went wrong, naming the file or entry, and what the person can do.
QString cause(const zrv::FailureCause &cause);

// An item packing cannot take: its path and why.
QString cannot_pack_item(const zrv::FailureCause &item);

// The question before packing when some items cannot be packed: the first 20 of them listed.
QString skip_question(const std::vector<zrv::FailureCause> &items);

// A path fit for one line of a box: a long one loses its middle, so its last part shows.
QString shown_path(const QString &path);

// One line per call: what it made, what went wrong, or that it never started.
QString packed_into(const QString &archive);
QString unpacked_into(const QString &archive, const QString &folder);
QString failed(const QString &archive, const QString &cause);
QString not_started(const QString &archive);

// Why a job never started: the system gave it no thread.
QString no_thread();

// The outcome box's informative and detailed texts.
QString informative(const JobResult &result);
QString detailed(const JobResult &result);

} // namespace failure_text
