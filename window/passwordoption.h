// The check box 设置密码 (set a password) in the window's bottom row, for packing. When it is
// ticked, the run button first asks for the password twice, and the job encrypts every file
// with it; cancelling that dialog starts no job and keeps the selection. The box is shown only
// in packing mode, is off at start, and cannot be changed while a job runs.
#pragma once

#include <QObject>

class Cofferbox;
class QCheckBox;

class PasswordOption : public QObject {
    Q_OBJECT

public:
    // Adds the box to `window`, set up already, and takes over its run button, as its child.
    explicit PasswordOption(Cofferbox *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void run();
    void update_box();

    Cofferbox *window;
    QCheckBox *box; // owned by the window
};
