#include "windowdriver.h"

#include "app/startup.h"
#include "window/cofferbox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
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
    for (QPushButton *candidate : window->findChildren<QPushButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    qFatal("no button reads %s", qPrintable(text));
}

QComboBox *mode_box(QWidget *window) {
    return window->findChild<QComboBox *>();
}

QTableWidget *table(QWidget *window) {
    return window->findChild<QTableWidget *>();
}

namespace {

QLabel *label_at(QWidget *window, int row, int column) {
    auto *grid = qobject_cast<QGridLayout *>(window->layout());
    QLayoutItem *item = grid ? grid->itemAtPosition(row, column) : nullptr;
    return item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
}

} // namespace

QLabel *status_label(QWidget *window) {
    return label_at(window, 3, 1);
}

void choose_mode(QWidget *window, const QString &mode) {
    QComboBox *box = mode_box(window);
    const int index = box->findText(mode);
    QVERIFY(index >= 0);
    box->showPopup();
    QAbstractItemView *list = box->view();
    QTRY_VERIFY(list->isVisible());
    list->setCurrentIndex(box->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
}

void when_dialog_opens(std::function<void(QWidget *)> answer,
                       std::function<bool(QWidget *)> wanted) {
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer, wanted] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible() || (wanted && !wanted(dialog)))
            return;
        poll->stop();
        poll->deleteLater();
        answer(dialog);
    });
    poll->start(10);
}

namespace {

// The dialog reads typed text as a person's only while its name box has the focus.
QLineEdit *focused_name_box(QWidget *dialog) {
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (name == nullptr)
        qFatal("the dialog has no file name box");
    dialog->activateWindow();
    if (!QTest::qWaitForWindowActive(dialog))
        qWarning("the dialog did not become active");
    name->setFocus();
    name->selectAll();
    return name;
}

} // namespace

void paste_and_accept(QWidget *dialog, const QString &text) {
    QLineEdit *name = focused_name_box(dialog);
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(name, Qt::Key_Return);
}

void type_and_accept(QWidget *dialog, const QString &text) {
    QLineEdit *name = focused_name_box(dialog);
    // Latin text is typed key by key; other characters arrive the way an input method
    // delivers them, as committed text.
    for (const QChar character : text) {
        if (character.unicode() < 0x80) {
            QTest::keyClick(name, character.toLatin1());
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(character);
            QApplication::sendEvent(name, &commit);
        }
    }
    QTest::keyClick(name, Qt::Key_Return);
}

void cancel(QWidget *dialog) {
    QTest::keyClick(dialog, Qt::Key_Escape);
}

void add_files(QWidget *window, const QString &folder, const QString &typed) {
    when_dialog_opens([=](QWidget *dialog) {
        type_and_accept(dialog, folder);
        type_and_accept(dialog, typed);
    });
    QTest::mouseClick(button(window, QStringLiteral("添加文件")), Qt::LeftButton);
}

void add_folder(QWidget *window, const QString &path) {
    when_dialog_opens([=](QWidget *dialog) { paste_and_accept(dialog, path); });
    QTest::mouseClick(button(window, QStringLiteral("添加文件夹")), Qt::LeftButton);
}

QStringList rows(QTableWidget *table) {
    QStringList result;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *name = table->item(row, 0);
        result << QStringLiteral("%1|%2|%3|%4")
                      .arg(name->text(), table->item(row, 1)->text(),
                           name->data(Cofferbox::ROLE_IS_DIR).toBool() ? QStringLiteral("dir")
                                                                       : QStringLiteral("file"),
                           name->data(Cofferbox::ROLE_PATH).toString());
    }
    return result;
}

} // namespace windowdriver
