#include "window/cofferbox.h"

#include <QFileDialog>
#include <QHeaderView>

namespace {

void append_row(QTableWidget &table, const QString &path, bool is_dir) {
    const int row = table.rowCount();
    table.setRowCount(row + 1);
    auto *name_item = new QTableWidgetItem(path);
    name_item->setData(Cofferbox::ROLE_IS_DIR, is_dir);
    name_item->setData(Cofferbox::ROLE_PATH, path);
    name_item->setToolTip(path);
    table.setItem(row, 0, name_item);
    table.setItem(row, 1,
                  new QTableWidgetItem(is_dir ? QStringLiteral("文件夹") : QStringLiteral("文件")));
}

} // namespace

void Cofferbox::setup_table() {
    file_table.setRowCount(0);
    file_table.setColumnCount(2);
    file_table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    file_table.setSelectionBehavior(QAbstractItemView::SelectRows);
    file_table.horizontalHeader()->setVisible(true);
    file_table.verticalHeader()->setVisible(false);
    file_table.horizontalHeader()->setStretchLastSection(true);
    file_table.setHorizontalHeaderLabels({QStringLiteral("文件名"), QStringLiteral("文件类型")});
    file_table.setColumnWidth(0, 450);
    // A long path keeps its start and its last part, the name.
    file_table.setTextElideMode(Qt::ElideMiddle);
}

void Cofferbox::refresh_table() {
    setup_table();
    for (const QString &path : std::as_const(dir_set))
        append_row(file_table, path, true);
    for (const QString &path : std::as_const(file_set))
        append_row(file_table, path, false);
}

void Cofferbox::slot_select_file() {
    const QStringList paths =
        encrypt_mode ? QFileDialog::getOpenFileNames(nullptr, QStringLiteral("选择加密的文件"),
                                                     QString(), QString())
                     : QFileDialog::getOpenFileNames(nullptr, QStringLiteral("选择解密的文件"),
                                                     QStringLiteral("./AddData"),
                                                     QStringLiteral("ZRV file(*.zrvdata);;"
                                                                    "ZIP 压缩包 (*.zip);;"
                                                                    "所有文件 (*)"));
    for (const QString &path : paths)
        file_set[path] = path;
    refresh_table();
}

void Cofferbox::slot_select_dir() {
    const QString path = QFileDialog::getExistingDirectory(
        nullptr, QStringLiteral("选择加密的文件"), QString(), QFileDialog::ShowDirsOnly);
    if (path.isEmpty())
        return;
    dir_set[path] = path;
    refresh_table();
}

void Cofferbox::slot_del_select() {
    const QList<QTableWidgetItem *> selected = file_table.selectedItems();
    for (const QTableWidgetItem *item : selected) {
        const QString path = item->data(ROLE_PATH).toString();
        if (path.isEmpty())
            continue;
        if (item->data(ROLE_IS_DIR).toBool())
            dir_set.remove(path);
        else
            file_set.remove(path);
    }
    refresh_table();
}

void Cofferbox::slot_del_all() {
    file_set.clear();
    dir_set.clear();
    refresh_table();
}
