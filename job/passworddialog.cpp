#include "job/passworddialog.h"

#include <QFormLayout>
#include <QPushButton>

PasswordDialog::PasswordDialog(QWidget *parent, bool confirming)
    : QDialog(parent), confirming(confirming),
      buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel) {
    auto *layout = new QFormLayout(this);
    message.setWordWrap(true);
    layout->addRow(&message);
    layout->addRow(QStringLiteral("密码："), &first);
    if (confirming)
        layout->addRow(QStringLiteral("确认密码："), &second);
    else
        second.hide();
    show_password.setText(QStringLiteral("显示密码"));
    layout->addRow(&show_password);
    layout->addRow(&buttons);
    for (QLineEdit *field : {&first, &second})
        field->setEchoMode(QLineEdit::Password);
    connect(&show_password, &QCheckBox::toggled, this, [this](bool shown) {
        for (QLineEdit *field : {&first, &second})
            field->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    });
    connect(&first, &QLineEdit::textChanged, this, &PasswordDialog::update_ok);
    connect(&second, &QLineEdit::textChanged, this, &PasswordDialog::update_ok);
    connect(&buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(&buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    update_ok();
}

// What was typed is cleared, so the fields' own copies go with the dialog.
PasswordDialog::~PasswordDialog() {
    first.clear();
    second.clear();
}

PasswordDialog *PasswordDialog::for_packing(QWidget *parent) {
    auto *dialog = new PasswordDialog(parent, true);
    dialog->setWindowTitle(QStringLiteral("设置密码"));
    dialog->message.setText(QStringLiteral(
        "密码保护文件内容，文件名仍然可见；只有支持 AES 加密的工具（如 7-Zip）才能打开此压缩包。"));
    return dialog;
}

PasswordDialog *PasswordDialog::for_unpacking(QWidget *parent, const QString &archive_name,
                                              bool wrong) {
    auto *dialog = new PasswordDialog(parent, false);
    dialog->setWindowTitle(QStringLiteral("输入密码"));
    const QString ask = QStringLiteral("“%1”受密码保护，请输入密码：").arg(archive_name);
    dialog->message.setText(wrong ? QStringLiteral("密码错误，请重新输入。") + ask : ask);
    return dialog;
}

void PasswordDialog::update_ok() {
    const bool complete = !first.text().isEmpty() && (!confirming || first.text() == second.text());
    buttons.button(QDialogButtonBox::Ok)->setEnabled(complete);
}
