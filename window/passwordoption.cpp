#include "window/passwordoption.h"

#include "job/jobpassword.h"
#include "job/passworddialog.h"
#include "window/cofferbox.h"

#include <QCheckBox>
#include <QEvent>

#include <memory>

PasswordOption::PasswordOption(Cofferbox *window)
    : QObject(window), window(window), box(new QCheckBox(QStringLiteral("设置密码"))) {
    // A free cell of the bottom row, between the status text and the run button.
    window->main_layout.addWidget(box, 3, 2, Qt::AlignLeft);
    QObject::disconnect(&window->run_button, &QPushButton::clicked, window,
                        &Cofferbox::slot_encryption);
    connect(&window->run_button, &QPushButton::clicked, this, &PasswordOption::run);
    // After the window's own switch, so the mode is set when the box follows it.
    connect(&window->mode_combo, &QComboBox::textActivated, this, &PasswordOption::update_box);
    // The run button is off exactly while a job runs.
    window->run_button.installEventFilter(this);
    update_box();
}

bool PasswordOption::eventFilter(QObject *watched, QEvent *event) {
    if (watched == &window->run_button && event->type() == QEvent::EnabledChange)
        update_box();
    return false;
}

void PasswordOption::update_box() {
    box->setVisible(window->encrypt_mode);
    box->setEnabled(window->run_button.isEnabled());
}

void PasswordOption::run() {
    if (!window->encrypt_mode || !box->isChecked()) {
        JobPassword::set_for_next_job(window, QString());
        window->slot_encryption();
        return;
    }
    if (window->file_set.isEmpty() && window->dir_set.isEmpty())
        return;
    const std::unique_ptr<PasswordDialog> dialog(PasswordDialog::for_packing(window));
    if (dialog->exec() != QDialog::Accepted)
        return;
    QString password = dialog->password();
    JobPassword::set_for_next_job(window, password);
    wipe_password(password);
    window->slot_encryption();
}
