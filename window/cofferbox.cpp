#include "window/cofferbox.h"

#include "job/progresswindow.h"

Cofferbox::Cofferbox(QWidget *parent) : QWidget(parent) {
    resize(600, 420);
}

// A job still running reads this window: it is cancelled, which leaves nothing behind, and
// waited for.
Cofferbox::~Cofferbox() {
    if (auto *progress_window = findChild<ProgressWindow *>())
        progress_window->cancel();
    job_latch.wait_until_idle();
}

void Cofferbox::setup_ui() {
    setLayout(&main_layout);

    main_layout.setRowStretch(0, 0);
    main_layout.setRowMinimumHeight(0, 30);
    main_layout.setRowStretch(1, 1);
    main_layout.setRowStretch(2, 0);
    main_layout.setRowMinimumHeight(2, 30);
    main_layout.setRowStretch(3, 0);
    main_layout.setRowMinimumHeight(3, 30);

    main_layout.setColumnStretch(0, 0);
    main_layout.setColumnMinimumWidth(0, 20);
    main_layout.setColumnStretch(1, 0);
    main_layout.setColumnMinimumWidth(1, 80);
    main_layout.setColumnStretch(2, 0);
    main_layout.setColumnMinimumWidth(2, 80);
    main_layout.setColumnStretch(3, 1);

    type_label.setText(QStringLiteral("选择类型："));
    main_layout.addWidget(&type_label, 0, 1, Qt::AlignLeft);

    main_layout.addWidget(&mode_combo, 0, 2, Qt::AlignLeft);
    mode_combo.addItem(QStringLiteral("加密"), QVariant());
    mode_combo.addItem(QStringLiteral("解密"), QVariant());

    main_layout.addWidget(&hint_label, 0, 3, Qt::AlignLeft);

    setup_table();
    main_layout.addWidget(&file_table, 1, 1, 1, 4);

    auto *button_layout = new QGridLayout;
    main_layout.addLayout(button_layout, 2, 0, 1, 4);
    button_layout->setRowStretch(0, 0);
    button_layout->setRowMinimumHeight(0, 30);
    button_layout->setRowStretch(1, 1);
    button_layout->setRowStretch(2, 1);
    button_layout->setRowStretch(3, 1);

    add_file_button.setText(QStringLiteral("添加文件"));
    add_dir_button.setText(QStringLiteral("添加文件夹"));
    delete_button.setText(QStringLiteral("删除"));
    clear_button.setText(QStringLiteral("清除"));
    open_dir_button.setText(QStringLiteral("加密目录"));
    button_layout->addWidget(&add_file_button, 0, 1, Qt::AlignRight);
    button_layout->addWidget(&add_dir_button, 0, 2, Qt::AlignRight);
    button_layout->addWidget(&delete_button, 0, 3, Qt::AlignRight);
    button_layout->addWidget(&clear_button, 0, 4, Qt::AlignRight);
    button_layout->addWidget(&open_dir_button, 0, 5, Qt::AlignRight);

    run_button.setText(QStringLiteral("加密/解密"));
    main_layout.addWidget(&run_button, 3, 3, Qt::AlignRight);

    status_label.setText(QString());
    main_layout.addWidget(&status_label, 3, 1, Qt::AlignLeft);

    make_connections();
}

void Cofferbox::make_connections() {
    // Fires on every pick, also when the shown item is chosen again.
    connect(&mode_combo, &QComboBox::textActivated, this, &Cofferbox::slot_textChanged);
    slot_textChanged(QStringLiteral("加密"));

    connect(&add_file_button, &QPushButton::clicked, this, &Cofferbox::slot_select_file);
    connect(&add_dir_button, &QPushButton::clicked, this, &Cofferbox::slot_select_dir);
    connect(&delete_button, &QPushButton::clicked, this, &Cofferbox::slot_del_select);
    connect(&clear_button, &QPushButton::clicked, this, &Cofferbox::slot_del_all);
    connect(&open_dir_button, &QPushButton::clicked, this, &Cofferbox::slot_open_dir);
    connect(&run_button, &QPushButton::clicked, this, &Cofferbox::slot_encryption);

    // Emitted on the worker thread, so Qt queues it to this window's thread.
    connect(this, &Cofferbox::signal_end_work, this, &Cofferbox::slot_end_work);
}
