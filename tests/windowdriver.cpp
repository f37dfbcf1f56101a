#include "windowdriver.h"

#include "app/startup.h"
#include "window/cofferbox.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace windowdriver {

Cofferbox *open_window() {
    auto *window = new Cofferbox(nullptr);
    startup::prepare_window(*window);
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        qWarning("the window was not exposed");
    return window;
}

QPushButton *button(QWidget *window, const QString &text) {
    for (QPushButton *candidate : window->findChildren<QPushButton *>())
        if (candidate->text() == text)
            return candidate;
    qFatal("no button reads %s", qPrintable(text));
}

void click(QWidget *window, const QString &text) {
    QTest::mouseClick(button(window, text), Qt::LeftButton);
}

QComboBox *mode_box(QWidget *window) {
    return window->findChild<QComboBox *>();
}

QTableWidget *table(QWidget *window) {
    return window->findChild<QTableWidget *>();
}

QLabel *status_label(QWidget *window) {
    return qobject_cast<QLabel *>(
        static_cast<QGridLayout *>(window->layout())->itemAtPosition(3, 1)->widget());
}

void choose_mode(QWidget *window, const QString &mode) {
    QComboBox *box = mode_box(window);
    box->showPopup();
    QTRY_VERIFY(box->view()->isVisible());
    box->view()->setCurrentIndex(box->model()->index(box->findText(mode), 0));
    QTest::keyClick(box->view(), Qt::Key_Return);
    QTRY_VERIFY(!box->view()->isVisible());
}

void when_dialog_opens(std::function<void(QWidget *)> answer,
                       std::function<bool(QWidget *)> wanted) {
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer, wanted] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible() || (wanted && !wanted(dialog)))
            return;
        poll->deleteLater();
        poll->stop();
        answer(dialog);
    });
    poll->start(10);
}

void cancel(QWidget *dialog) {
    QTest::keyClick(dialog, Qt::Key_Escape);
}

// The dialog reads keys as a person's only while its name box has the focus. Latin text is
// typed key by key; other characters arrive as an input method commits them.
static void type_and_accept(QWidget *dialog, const QString &text, bool paste = false) {
    auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
    dialog->activateWindow();
    if (!QTest::qWaitForWindowActive(dialog))
        qWarning("the dialog did not become active");
    name->setFocus();
    name->selectAll();
    if (paste) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    }
    for (const QChar character : paste ? QString() : text) {
        QInputMethodEvent commit;
        commit.setCommitString(character);
        if (character.unicode() < 0x80)
            QTest::keyClick(name, character.toLatin1());
        else
            QApplication::sendEvent(name, &commit);
    }
    QTest::keyClick(name, Qt::Key_Return);
}

void add_files(QWidget *window, const QString &folder, const QString &typed) {
    when_dialog_opens([=](QWidget *dialog) {
        type_and_accept(dialog, folder);
        type_and_accept(dialog, typed);
    });
    click(window, "添加文件");
}

void add_folder(QWidget *window, const QString &path) {
    when_dialog_opens([=](QWidget *dialog) { type_and_accept(dialog, path, true); });
    click(window, "添加文件夹");
}

QStringList rows(QTableWidget *table) {
    QStringList result;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *name = table->item(row, 0);
        result << QString("%1|%2|%3|%4")
                      .arg(name->text(), table->item(row, 1)->text(),
                           name->data(Cofferbox::ROLE_IS_DIR).toBool() ? "dir" : "file",
                           name->data(Cofferbox::ROLE_PATH).toString());
    }
    return result;
}

} // namespace windowdriver
