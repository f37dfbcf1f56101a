#include "job/jobpassword.h"

#include "archive/crypto.h"

#include <QObject>

namespace {

thread_local JobPassword *attached = nullptr;

// Holds the password chosen for the next job, as a child of the window known by its name.
class PendingPassword : public QObject {
public:
    explicit PendingPassword(QObject *window) : QObject(window) { setObjectName(name()); }
    ~PendingPassword() override { wipe_password(password); }
    static QString name() { return QStringLiteral("pending password"); }
    static PendingPassword *of(QObject *window) {
        return static_cast<PendingPassword *>(
            window->findChild<QObject *>(name(), Qt::FindDirectChildrenOnly));
    }
    QString password;
};

} // namespace

void wipe_password(QString &password) {
    // A shared copy is wiped by its last holder: writing here would only detach it.
    if (password.isDetached())
        zrv::crypto::cleanse(password.data(),
                             static_cast<std::size_t>(password.size()) * sizeof(QChar));
    password.clear();
}

JobPassword::~JobPassword() {
    wipe_password(packing_password);
    wipe_password(last_accepted);
}

void JobPassword::set_for_next_job(QObject *window, const QString &password) {
    PendingPassword *pending = PendingPassword::of(window);
    if (pending == nullptr)
        pending = new PendingPassword(window);
    wipe_password(pending->password);
    pending->password = password;
}

std::shared_ptr<JobPassword> JobPassword::take_for_job(QObject *window) {
    PendingPassword *pending = PendingPassword::of(window);
    auto job = std::make_shared<JobPassword>(pending != nullptr ? pending->password : QString());
    if (pending != nullptr)
        wipe_password(pending->password);
    return job;
}

void JobPassword::attach(JobPassword *password) {
    attached = password;
}

JobPassword *JobPassword::of_this_thread() {
    return attached;
}
