#include "job/passwordprompt.h"

#include "archive/failure.h"
#include "archive/zrv_archive.h"
#include "job/archiveadapter.h"
#include "job/jobpassword.h"
#include "job/jobprogress.h"
#include "job/passworddialog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

#include <memory>
#include <optional>

namespace password_prompt {

namespace {

// One question for a password: what the user typed, and the dialog while it is open (both
// touched on the GUI thread, and read by the worker only once answered).
struct Question {
    QString typed;
    QPointer<PasswordDialog> dialog;
};

// Asks for the archive's password and waits; nothing when the user gives up or the job is
// cancelled meanwhile, which also closes the dialog.
std::optional<QString> ask(JobProgress &progress, QWidget *parent, const QString &archive_path,
                           bool wrong) {
    const auto question = std::make_shared<Question>();
    const QString name = QFileInfo(archive_path).fileName();
    const int given = progress.ask_user(
        [parent = QPointer<QWidget>(parent), question, name,
         wrong](const JobProgress::Answer &answer) {
            PasswordDialog *dialog = PasswordDialog::for_unpacking(parent, name, wrong);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            question->dialog = dialog;
            QObject::connect(dialog, &QDialog::finished, [dialog, question, answer](int result) {
                if (result == QDialog::Accepted)
                    question->typed = dialog->password();
                answer(result == QDialog::Accepted ? 1 : 0);
            });
            dialog->open();
        },
        0);
    if (given == 0) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [question] {
                if (question->dialog)
                    question->dialog->reject();
            },
            Qt::QueuedConnection);
        return std::nullopt;
    }
    QString password = question->typed;
    question->typed.clear();
    return password;
}

void fail_as_cancelled(JobProgress &progress, const QString &archive_path) {
    zrv::FailureCause cause;
    cause.kind = zrv::FailureKind::cancelled;
    cause.path = archive_path.toStdString();
    cause.message = "cannot unpack " + cause.path + ": no password was given";
    progress.set_failure(std::move(cause));
}

bool needs_password(int kind) {
    return kind == static_cast<int>(zrv::FailureKind::password_needed) ||
           kind == static_cast<int>(zrv::FailureKind::password_wrong);
}

} // namespace

bool unpack(QWidget *parent, const QString &archive_path, const QString &target_folder) {
    JobProgress *progress = JobProgress::of_this_thread();
    JobPassword *job = JobPassword::of_this_thread();
    QString password = job != nullptr ? job->last_accepted : QString();
    bool typed = false;
    for (;;) {
        const bool unpacked = archive_adapter::unpack(archive_path, target_folder, password);
        const int kind = ZWZipLastFailure();
        if (unpacked && job != nullptr && !password.isEmpty())
            job->last_accepted = password;
        wipe_password(password);
        if (unpacked || !needs_password(kind) || progress == nullptr)
            return unpacked;
        // Only a password the user typed for this archive is called wrong.
        const bool wrong = typed && kind == static_cast<int>(zrv::FailureKind::password_wrong);
        std::optional<QString> answer = ask(*progress, parent, archive_path, wrong);
        if (!answer) {
            fail_as_cancelled(*progress, archive_path);
            return false;
        }
        password = std::move(*answer);
        typed = true;
    }
}

} // namespace password_prompt
