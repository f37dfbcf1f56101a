// Unpacking, in a job, an archive that may hold encrypted entries: the job's last accepted
// password is tried first; when it does not open the archive, or there is none, the user is
// asked for one in a dialog naming the archive, and asked again after a wrong one, until the
// archive opens or the user gives up, which fails the archive as cancelled.
#pragma once

#include <QString>

class QWidget;

namespace password_prompt {

// On the job's worker thread; the dialogs open on the GUI thread over `parent`.
bool unpack(QWidget *parent, const QString &archive_path, const QString &target_folder);

} // namespace password_prompt
