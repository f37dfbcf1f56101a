// The dialogs that ask for a password: twice, to protect a new archive with it, and once, to
// open an archive that holds encrypted entries. Both hide what is typed unless 显示密码 (show
// password) is ticked.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>

class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    // For packing: OK only while both fields hold the same, non-empty password; a note says
    // what the password protects and which tools open the archive.
    static PasswordDialog *for_packing(QWidget *parent);
    // For unpacking the archive `archive_name`; `wrong` says the last password did not open it.
    static PasswordDialog *for_unpacking(QWidget *parent, const QString &archive_name, bool wrong);
    ~PasswordDialog() override;

    QString password() const { return first.text(); }

private:
    PasswordDialog(QWidget *parent, bool confirming);
    void update_ok();

    const bool confirming;
    QLabel message;
    QLineEdit first;
    QLineEdit second;
    QCheckBox show_password;
    QDialogButtonBox buttons;
};
