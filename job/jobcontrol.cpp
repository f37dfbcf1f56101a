#include "job/archiveadapter.h"
#include "job/failuretext.h"
#include "job/jobresult.h"
#include "job/jobpassword.h"
#include "job/progresswindow.h"
#include "job/workerthread.h"
#include "window/cofferbox.h"

#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QStyle>
#include <QUrl>

#include <boost/thread.hpp>

#include <memory>

namespace {

// An about-style box with the program's icon: the outcome, what went wrong or where the result
// went, and the component's own lines in the details.
void show_outcome(const JobResult &result) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("加密/解密"),
                    failure_text::outcome(result.is_encryption, result.is_ok), QMessageBox::Ok);
    const int icon_size = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    box.setIconPixmap(box.windowIcon().pixmap(icon_size));
    box.setInformativeText(failure_text::informative(result));
    box.setDetailedText(failure_text::detailed(result));
    box.exec();
}

} // namespace

void Cofferbox::slot_encryption() {
    if (file_set.isEmpty() && dir_set.isEmpty())
        return;
    slot_start_work();
    // The job reports to its progress window, which shows itself if the job takes long.
    const auto progress =
        std::make_shared<JobProgress>(encrypt_mode ? 0 : static_cast<int>(file_set.size()));
    auto *progress_window = new ProgressWindow(this, status_label.text(), progress);
    const std::shared_ptr<JobPassword> password = JobPassword::take_for_job(this);
    job_latch.begin();
    try {
        start_worker_thread([this, progress, password] {
            zrv::attach_progress(progress.get());
            JobPassword::attach(password.get());
            do_work();
        });
    } catch (const boost::thread_resource_error &) {
        // No job ran: report it and hand the window back with the selection kept for a retry.
        job_latch.end();
        delete progress_window;
        JobResult result;
        result.is_encryption = encrypt_mode;
        result.outcomes << failure_text::no_thread();
        show_outcome(result);
        status_label.setText(QString());
        enable_controls();
    }
}

void Cofferbox::slot_start_work() {
    status_label.setText(encrypt_mode ? QStringLiteral("正在加密中")
                                      : QStringLiteral("正在解密中"));
    mode_combo.setEnabled(false);
    add_file_button.setEnabled(false);
    add_dir_button.setEnabled(false);
    delete_button.setEnabled(false);
    clear_button.setEnabled(false);
    run_button.setEnabled(false);
}

void Cofferbox::slot_end_work(QVariant result) {
    // The progress window goes before the outcome is shown.
    delete findChild<ProgressWindow *>();
    show_outcome(JobResult::from_variant(result));
    status_label.setText(QString());
    slot_del_all();
    enable_controls();
}

// Leaves the busy state: the add-folder button only comes back in packing mode.
void Cofferbox::enable_controls() {
    mode_combo.setEnabled(true);
    add_file_button.setEnabled(true);
    if (encrypt_mode)
        add_dir_button.setEnabled(true);
    delete_button.setEnabled(true);
    clear_button.setEnabled(true);
    run_button.setEnabled(true);
}

void Cofferbox::slot_open_dir() {
#ifdef Q_OS_WIN
    QString folder =
        QDir::currentPath() + QStringLiteral("\\") + archive_adapter::archive_folder_name();
    folder.replace(QStringLiteral("/"), QStringLiteral("\\"));
    // The path goes on the command line as it is, unquoted.
    QProcess explorer;
    explorer.setProgram(QStringLiteral("explorer"));
    explorer.setNativeArguments(folder);
    explorer.startDetached();
#else
    // Without the Windows shell, the desktop's file manager shows the folder; it is created
    // first so the user never sees an error for an archive folder not used yet.
    const QString folder = QDir::current().absoluteFilePath(archive_adapter::archive_folder_name());
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
#endif
}
