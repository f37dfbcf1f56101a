// The passwords of one job: the one a packing job encrypts with, chosen in the window before
// the job starts, and, while unpacking, the last one that opened an archive, tried first on
// the next. Each copy is wiped as soon as it is no longer needed.
#pragma once

#include <QString>

#include <memory>

class QObject;

// Overwrites the text of a password before it is let go, where this is its last holder.
void wipe_password(QString &password);

class JobPassword {
public:
    explicit JobPassword(QString packing) : packing_password(std::move(packing)) {}
    ~JobPassword();
    JobPassword(const JobPassword &) = delete;
    JobPassword &operator=(const JobPassword &) = delete;

    // On the GUI thread: the password the next packing job of `window` encrypts with, an empty
    // one for none; and the job's share of it, taken once as the job starts.
    static void set_for_next_job(QObject *window, const QString &password);
    static std::shared_ptr<JobPassword> take_for_job(QObject *window);

    // The job's passwords, attached to its worker thread, or nullptr.
    static void attach(JobPassword *password);
    static JobPassword *of_this_thread();

    const QString &packing() const { return packing_password; }
    QString last_accepted; // unpacking: the last password that opened an archive

private:
    QString packing_password;
};
