#include "window/cofferbox.h"

void Cofferbox::slot_textChanged(const QString &str) {
    if (str == QStringLiteral("加密")) {
        add_dir_button.setEnabled(true);
        run_button.setText(QStringLiteral("加密"));
        encrypt_mode = true;
        hint_label.setText(QStringLiteral("添加一部分文件和文件夹，可以打包加密。"));
    } else {
        run_button.setText(QStringLiteral("解密"));
        add_dir_button.setEnabled(false);
        encrypt_mode = false;
        hint_label.setText(QStringLiteral("请选择后缀名为(*.zrvdata)文件解密。"));
    }
    setup_table();
}
