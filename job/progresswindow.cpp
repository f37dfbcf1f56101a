#include "job/progresswindow.h"

#include <QCloseEvent>
#include <QLocale>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

namespace {

constexpr int appear_after_ms = 1000;
constexpr int refresh_every_ms = 100;
// Speed and time left are shown once this much of the call has been measured.
constexpr qint64 meaningful_after_ms = 2000;

QString data_size(std::uint64_t bytes) {
    return QLocale().formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeSIFormat);
}

QString duration(qint64 seconds) {
    if (seconds < 60)
        return QStringLiteral("%1 秒").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 分 %2 秒").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 小时 %2 分").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

} // namespace

ProgressWindow::ProgressWindow(QWidget *main_window, const QString &title,
                               std::shared_ptr<JobProgress> progress)
    : QDialog(main_window), job(std::move(progress)) {
    setWindowTitle(title);
    main_window->installEventFilter(this);
    setMinimumWidth(420);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(&archive_label);
    layout->addWidget(&entry_label);
    bar.setRange(0, 1000);
    layout->addWidget(&bar);
    layout->addWidget(&bytes_label);
    layout->addWidget(&speed_label);
    cancel_button.setText(QStringLiteral("取消"));
    layout->addWidget(&cancel_button, 0, Qt::AlignRight);
    archive_label.setVisible(job->archive_count > 1);
    connect(&cancel_button, &QPushButton::clicked, this, &ProgressWindow::cancel);

    appear_timer.setSingleShot(true);
    connect(&appear_timer, &QTimer::timeout, this, &ProgressWindow::appear);
    connect(&refresh_timer, &QTimer::timeout, this, &ProgressWindow::refresh);
    appear_timer.start(appear_after_ms);
}

void ProgressWindow::cancel() {
    job->cancel();
    cancel_button.setEnabled(false);
}

// Escape and the close button cancel the job; the window goes when the job has ended.
void ProgressWindow::reject() {
    cancel();
}

void ProgressWindow::closeEvent(QCloseEvent *event) {
    cancel();
    event->ignore();
}

bool ProgressWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == parent() && event->type() == QEvent::Close) {
        cancel();
        appear_timer.stop();
        refresh_timer.stop();
        hide();
    }
    return false;
}

void ProgressWindow::appear() {
    refresh();
    show();
    refresh_timer.start(refresh_every_ms);
}

void ProgressWindow::refresh() {
    const int archive = job->archive_number.load();
    const std::uint64_t total = job->total();
    const std::uint64_t done = std::min(job->done(), total);
    // Speed is measured over what this window has seen of the call in hand.
    if (archive != measured_archive || done < measured_from) {
        measured_archive = archive;
        measured_from = done;
        since.restart();
    }
    archive_label.setText(
        QStringLiteral("第 %1 个归档，共 %2 个").arg(archive).arg(job->archive_count));
    const QString entry = QString::fromUtf8(job->entry());
    entry_label.setText(
        entry_label.fontMetrics().elidedText(entry, Qt::ElideMiddle, entry_label.width()));
    entry_label.setToolTip(entry);
    bar.setValue(total == 0 ? 0 : static_cast<int>(done * 1000 / total));
    bytes_label.setText(data_size(done) + QStringLiteral(" / ") + data_size(total));

    const qint64 elapsed_ms = since.elapsed();
    if (elapsed_ms < meaningful_after_ms || done == measured_from) {
        speed_label.clear();
        return;
    }
    const double per_second = static_cast<double>(done - measured_from) * 1000.0 / elapsed_ms;
    const auto left = static_cast<qint64>(static_cast<double>(total - done) / per_second);
    speed_label.setText(
        QStringLiteral("速度 %1/s，剩余约 %2")
            .arg(data_size(static_cast<std::uint64_t>(per_second)), duration(left)));
}
