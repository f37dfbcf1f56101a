// What a job tells its window when it ends. It crosses to the GUI thread inside the QVariant
// of signal_end_work, as a QVariantMap whose keys are spelled only in jobresult.cpp.
#pragma once

#include <QStringList>
#include <QVariant>

struct JobProgress;

struct JobResult {
    bool is_encryption = true; // a packing job; false for unpacking
    bool is_ok = false;
    bool is_password_protected = false; // the archive packed is protected with a password
    // For the person: where each result went, or what went wrong, one line per archive; and
    // the items a packing job left out, each with its reason.
    QStringList outcomes;
    QStringList skipped;
    QStringList details; // the archive component's own English lines

    // Record how one call ended, as the job's progress tells it (nothing without one).
    void add_packing(bool ok, const JobProgress *progress);
    void add_unpacking(const QString &archive, bool ok, const JobProgress *progress);
    // An archive of the job that was never unpacked, since the job was cancelled before.
    void add_not_started(const QString &archive);

    QVariant to_variant() const;
    static JobResult from_variant(const QVariant &variant);
};
