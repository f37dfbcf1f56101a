// The program's one window: picks files, folders and archives, and runs packing and unpacking
// jobs on a worker thread.
#pragma once

#include "job/joblatch.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QString>
#include <QTableWidget>
#include <QVariant>
#include <QWidget>

class Cofferbox : public QWidget {
    Q_OBJECT

public:
    // Data roles of the first cell of every table row.
    enum { ROLE_IS_DIR = 1100, ROLE_PATH = 1101 };

    explicit Cofferbox(QWidget *parent = nullptr);
    ~Cofferbox() override;

    void setup_ui();

protected:
    Q_SIGNAL void signal_end_work(QVariant result);

public slots:
    void slot_select_file();
    void slot_select_dir();
    void slot_del_select();
    void slot_del_all();
    void slot_open_dir();
    void slot_encryption();
    void slot_textChanged(const QString &str);
    void slot_start_work();
    void slot_end_work(QVariant result);

private:
    // Drops join the selection as the add buttons do; the drop target lives beside the window.
    friend class DropTarget;
    // So does the password option, which adds its box and takes over the run button.
    friend class PasswordOption;

    void make_connections();
    void setup_table();
    void refresh_table();
    void enable_controls();
    void do_work();
    static QString join_paths(const QMap<QString, QString> &set);

    // Written only by the mode switch; given the packing value so it is never read unset.
    bool encrypt_mode = true;
    QGridLayout main_layout;
    QLabel type_label;
    QComboBox mode_combo;
    QLabel hint_label;
    QPushButton add_file_button;
    QPushButton add_dir_button;
    QPushButton clear_button;
    QPushButton delete_button;
    QPushButton open_dir_button;
    QTableWidget file_table;
    QPushButton run_button;
    QLabel status_label;
    QMap<QString, QString> file_set;
    QMap<QString, QString> dir_set;
    // Lets the destructor wait for a running job, which still reads this window.
    JobLatch job_latch;
};
