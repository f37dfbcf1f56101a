#include "job/archiveadapter.h"
#include "job/jobpassword.h"
#include "job/jobprogress.h"
#include "job/jobresult.h"
#include "job/passwordprompt.h"
#include "window/cofferbox.h"

QString Cofferbox::join_paths(const QMap<QString, QString> &set) {
    QString result;
    for (auto it = set.cbegin(); it != set.cend(); ++it) {
        if (result.isEmpty())
            result = it.key();
        else
            result += QStringLiteral(",") + it.key();
    }
    return result;
}

// Runs on the job's own thread; the window keeps every control that could change the
// selection or the mode disabled until the result below has been handled.
void Cofferbox::do_work() {
    JobProgress *progress = JobProgress::of_this_thread();
    JobResult result;
    bool is_ok = false;
    bool is_password_protected = false;
    if (encrypt_mode) {
        const QString file_list = join_paths(file_set);
        const QString folder_list = join_paths(dir_set);
        const QString archive_path =
            archive_adapter::new_archive_path(QDateTime::currentDateTime());
        const JobPassword *password = JobPassword::of_this_thread();
        is_password_protected = password != nullptr && !password->packing().isEmpty();
        is_ok = archive_adapter::pack(file_list, folder_list, archive_path,
                                      is_password_protected ? password->packing() : QString());
        archive_adapter::print_line(is_ok ? QStringLiteral("加密成功")
                                          : QStringLiteral("加密失败"));
        result.add_packing(is_ok, progress);
    } else {
        // Unpacking succeeds when there was at least one archive and every one came out. A
        // cancelled job starts no further archive.
        bool all_ok = true;
        int number = 0;
        for (auto it = file_set.cbegin(); it != file_set.cend(); ++it) {
            if (progress != nullptr) {
                if (progress->cancel_requested()) {
                    all_ok = false;
                    result.add_not_started(it.key());
                    continue;
                }
                progress->archive_number = ++number;
            }
            const bool unpacked =
                password_prompt::unpack(this, it.key(), archive_adapter::unpack_target(it.key()));
            archive_adapter::print_line(unpacked ? QStringLiteral("解密成功")
                                                 : QStringLiteral("解密失败"));
            result.add_unpacking(it.key(), unpacked, progress);
            all_ok = all_ok && unpacked;
        }
        is_ok = all_ok && !file_set.isEmpty();
    }

    result.is_encryption = encrypt_mode;
    result.is_ok = is_ok;
    result.is_password_protected = is_password_protected;
    emit signal_end_work(result.to_variant());
    job_latch.end();
}
