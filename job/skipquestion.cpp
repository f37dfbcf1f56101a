// The question a packing job asks before it writes anything when some items cannot be packed:
// skip them and go on, or cancel. The box blocks no window, so the progress window's 取消 and
// closing the main window still cancel the job while it is open.
#include "job/failuretext.h"
#include "job/jobprogress.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <memory>

namespace {

enum Answer { cancel_job = 0, skip_items = 1 };

// Made on the GUI thread; answers once, by a button, Escape or closing.
QMessageBox *show_question(const QString &list, std::size_t count,
                           const JobProgress::Answer &answer) {
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("无法打包的项目"),
                                QStringLiteral("有 %1 项无法打包：").arg(count));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(list);
    QPushButton *skip =
        box->addButton(QStringLiteral("跳过这些项目并继续"), QMessageBox::AcceptRole);
    box->setEscapeButton(box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole));
    box->setDefaultButton(skip);
    QObject::connect(box, &QMessageBox::finished, box, [box, skip, answer] {
        answer(box->clickedButton() == skip ? skip_items : cancel_job);
    });
    box->show();
    return box;
}

} // namespace

bool JobProgress::skip_what_cannot_be_packed(const std::vector<zrv::FailureCause> &items) {
    // The box, once shown; a job cancelled meanwhile closes it.
    const auto question = std::make_shared<QPointer<QMessageBox>>();
    const QString list = failure_text::skip_question(items);
    const int reply =
        ask_user([question, list, count = items.size()](
                     const Answer &answer) { *question = show_question(list, count, answer); },
                 cancel_job);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [question] {
            if (*question)
                (*question)->close();
        },
        Qt::QueuedConnection);
    if (reply != skip_items) {
        cancel();
        return false;
    }
    skipped = items;
    return true;
}
