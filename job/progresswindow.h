// The window a long job shows over the main window: how far it is, and a button to cancel it.
// It is made hidden when the job starts and appears only when the job is still running a
// second later; it reads the job's counters on a timer, and asks the job to stop when the user
// presses "取消", presses Escape, or closes it or the main window. It blocks no window.
#pragma once

#include "job/jobprogress.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdint>
#include <memory>

class ProgressWindow : public QDialog {
    Q_OBJECT

public:
    ProgressWindow(QWidget *main_window, const QString &title,
                   std::shared_ptr<JobProgress> progress);

    void cancel();

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;
    // Watches the main window: closing it cancels the job, and this window goes with it.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void appear();
    void refresh();

    std::shared_ptr<JobProgress> job;
    QLabel archive_label;
    QLabel entry_label;
    QProgressBar bar;
    QLabel bytes_label;
    QLabel speed_label;
    QPushButton cancel_button;
    QTimer appear_timer;
    QTimer refresh_timer;
    // Where the speed is measured from: this window's first look at the call in hand.
    QElapsedTimer since;
    int measured_archive = -1;
    std::uint64_t measured_from = 0;
};
