#include "window/cofferbox.h"

void Cofferbox::slot_textChanged(const QString &str) {
    const bool packing = str == QStringLiteral("加密");
    // What the table shows is what a job runs on: the other mode starts with nothing picked.
    if (packing != encrypt_mode) {
        file_set.clear();
        dir_set.clear();
    }
    if (packing) {
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
    refresh_table();
}
