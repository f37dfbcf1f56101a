// Whole jobs through the real window: packing and unpacking on the worker thread, the message
// box, the lines on standard output, the archive folder button, and closing mid-job.
#include "testsupport.h"
#include "window/cofferbox.h"
#include "windowdriver.h"

#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace windowdriver;
using namespace testsupport;

namespace {

// Receives the URLs the window asks the desktop to open, so no file manager starts.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// What the window looked like while its message box was open.
struct Outcome {
    bool answered = false;
    QString title;
    QString text;
    QString status;
    QStringList disabled;
    bool progress_shown = false; // the progress window was seen at some point
};

// The progress window of a running job, when it is on screen: a dialog titled with the busy text.
QDialog *progress_window(QWidget *window) {
    for (QDialog *dialog : window->findChildren<QDialog *>()) {
        if (dialog->isVisible() && dialog->windowTitle().startsWith(QStringLiteral("正在")))
            return dialog;
    }
    return nullptr;
}

// The names of the window's controls that are disabled, as their texts read.
QStringList disabled_controls(QWidget *window) {
    QStringList names;
    for (QPushButton *push : window->findChildren<QPushButton *>()) {
        if (!push->isEnabled())
            names << push->text();
    }
    if (!mode_box(window)->isEnabled())
        names << QStringLiteral("mode box");
    if (!table(window)->isEnabled())
        names << QStringLiteral("table");
    names.sort();
    return names;
}

const QStringList job_lines = {"加密成功", "加密失败", "解密成功", "解密失败"};

} // namespace

class TestJobs : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void packing_job();
    void unpacking_job_data();
    void unpacking_job();
    void unpacking_with_only_folders_left_from_packing();
    void window_keeps_working_during_a_long_job();
    void archive_folder_button_opens_the_folder();
    void closing_the_window_during_a_job();
    void cancelling_a_long_job_data();
    void cancelling_a_long_job();

private:
    // Presses the run button, runs `during` while the job runs, answers the message box and
    // returns what it showed; the job's lines on standard output land in `lines`.
    Outcome run_job(QStringList *lines, const std::function<void()> &during = {});
    // A file big enough that packing it takes many turns of the event loop.
    QString make_long_job_input(qint64 size = 1024LL * 1024 * 1024);

    testsupport::WorkingFolder *dir = nullptr;
    Cofferbox *window = nullptr;
    UrlRecorder urls;
};

void TestJobs::init() {
    dir = new testsupport::WorkingFolder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    urls.opened.clear();
    window = open_window();
}

void TestJobs::cleanup() {
    delete window;
    window = nullptr;
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    delete dir;
}

Outcome TestJobs::run_job(QStringList *lines, const std::function<void()> &during) {
    Outcome outcome;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this,
            [&] { outcome.progress_shown = outcome.progress_shown || progress_window(window); });
    watcher.start(10);
    const QString capture = dir->filePath(QStringLiteral("stdout.txt"));
    std::fflush(stdout);
    const int saved_stdout = ::dup(1);
    const int capture_fd = ::open(capture.toUtf8().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(capture_fd, 1);
    ::close(capture_fd);

    when_dialog_opens(
        [&](QWidget *box) {
            outcome.title = box->windowTitle();
            if (auto *message = qobject_cast<QMessageBox *>(box))
                outcome.text = message->text();
            outcome.status = status_label(window)->text();
            outcome.disabled = disabled_controls(window);
            QTest::keyClick(box, Qt::Key_Return);
            outcome.answered = true;
        },
        [](QWidget *box) { return qobject_cast<QMessageBox *>(box) != nullptr; });
    QTest::mouseClick(button(window, window->findChild<QComboBox *>()->currentText()),
                      Qt::LeftButton);
    if (during)
        during();
    outcome.answered = QTest::qWaitFor([&] { return outcome.answered; }, 600000);

    std::fflush(stdout);
    ::dup2(saved_stdout, 1);
    ::close(saved_stdout);
    for (const QByteArray &line : read_file(capture).split('\n')) {
        if (job_lines.contains(QString::fromUtf8(line)))
            *lines << QString::fromUtf8(line);
    }
    QFile::remove(capture);
    return outcome;
}

QString TestJobs::make_long_job_input(qint64 size) {
    const QString path = dir->filePath(QStringLiteral("long/zeros.bin"));
    write_file(path, QByteArray());
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.resize(size))
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

void TestJobs::packing_job() {
    const QString source = dir->filePath(QStringLiteral("source"));
    write_file(source + QStringLiteral("/中文 文件.txt"), "内容\n");
    write_file(source + QStringLiteral("/a,b.txt"), "comma\n");
    write_file(source + QStringLiteral("/文件夹/inner.bin"), QByteArray(70000, '\x7f'));
    QDir().mkpath(source + QStringLiteral("/文件夹/empty"));
    add_files(window, source, QStringLiteral("\"中文 文件.txt\" \"a,b.txt\""));
    add_folder(window, source + QStringLiteral("/文件夹"));

    QStringList lines;
    const Outcome outcome = run_job(&lines);
    QVERIFY(outcome.answered);

    QCOMPARE(outcome.title, QStringLiteral("加密/解密"));
    QCOMPARE(outcome.text, QStringLiteral("文件加密成功"));
    QCOMPARE(outcome.status, QStringLiteral("正在加密中"));
    QStringList busy{"mode box", "删除", "加密", "添加文件", "添加文件夹", "清除"};
    busy.sort();
    QCOMPARE(outcome.disabled, busy);
    QCOMPARE(lines, QStringList{"加密成功"});
    // A job of a moment never shows its progress.
    QVERIFY(!outcome.progress_shown);

    // Back to idle with nothing selected; running again does nothing.
    QCOMPARE(status_label(window)->text(), QString());
    QCOMPARE(disabled_controls(window), QStringList());
    QCOMPARE(table(window)->rowCount(), 0);
    QTest::mouseClick(button(window, QStringLiteral("删除")), Qt::LeftButton);
    QCOMPARE(table(window)->rowCount(), 0);

    const QStringList archives = entries(dir->filePath(QStringLiteral("AddData")));
    QCOMPARE(archives.size(), 1);
    const QDate today = QDate::currentDate();
    const QRegularExpression pattern(
        QStringLiteral("^%1__\\d{6}_%2\\.zrvdata$")
            .arg(today.toString(QStringLiteral("yyyyMMdd")),
                 QLocale::system().toString(today, QStringLiteral("ddd"))));
    QVERIFY2(pattern.match(archives.first()).hasMatch(), qPrintable(archives.first()));
    const QString archive = dir->filePath(QStringLiteral("AddData/") + archives.first());
    const CommandResult tested = run(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive});
    QVERIFY2(tested.exit_code == 0, tested.output.constData());
    const QString peer = dir->filePath(QStringLiteral("peer"));
    const CommandResult extracted =
        run(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"), peer});
    QVERIFY2(extracted.exit_code == 0, extracted.output.constData());
    QCOMPARE(contents(peer), contents(source));
}

void TestJobs::unpacking_job_data() {
    QTest::addColumn<bool>("with_corrupt_archive");
    QTest::newRow("two archives, one outside the archive folder") << false;
    QTest::newRow("a corrupt archive among them") << true;
}

void TestJobs::unpacking_job() {
    QFETCH(bool, with_corrupt_archive);
    write_file(dir->filePath(QStringLiteral("in/one.txt")), "one");
    write_file(dir->filePath(QStringLiteral("in/two.txt")), "two");
    QVERIFY(pack({dir->filePath(QStringLiteral("in/one.txt"))}, {},
                 dir->filePath(QStringLiteral("AddData/20260101__000000_Thu.zrvdata"))));
    QVERIFY(pack({dir->filePath(QStringLiteral("in/two.txt"))}, {},
                 dir->filePath(QStringLiteral("elsewhere/a.b.zrvdata"))));
    if (with_corrupt_archive)
        write_file(dir->filePath(QStringLiteral("elsewhere/bad.zrvdata")), "not an archive");

    choose_mode(window, QStringLiteral("解密"));
    add_files(window, dir->filePath(QStringLiteral("AddData")),
              QStringLiteral("20260101__000000_Thu.zrvdata"));
    add_files(window, dir->filePath(QStringLiteral("elsewhere")),
              with_corrupt_archive ? QStringLiteral("\"a.b.zrvdata\" \"bad.zrvdata\"")
                                   : QStringLiteral("a.b.zrvdata"));
    QStringList lines;
    const Outcome outcome = run_job(&lines);
    QVERIFY(outcome.answered);

    QCOMPARE(outcome.status, QStringLiteral("正在解密中"));
    QCOMPARE(outcome.text, with_corrupt_archive ? QStringLiteral("文件解密失败")
                                                : QStringLiteral("文件解密成功"));
    // One line per archive, in path order: AddData/..., elsewhere/a.b..., elsewhere/bad...
    QCOMPARE(lines, with_corrupt_archive ? QStringList({"解密成功", "解密成功", "解密失败"})
                                         : QStringList({"解密成功", "解密成功"}));
    QCOMPARE(read_file(dir->filePath(QStringLiteral("AddData/20260101__000000_Thu/one.txt"))),
             QByteArray("one"));
    QCOMPARE(read_file(dir->filePath(QStringLiteral("elsewhere/a/two.txt"))), QByteArray("two"));
    QCOMPARE(entries(dir->filePath(QStringLiteral("elsewhere"))),
             with_corrupt_archive ? QStringList({"a", "a.b.zrvdata", "bad.zrvdata"})
                                  : QStringList({"a", "a.b.zrvdata"}));
    // Still unpacking: the folder button stays off.
    QCOMPARE(disabled_controls(window), QStringList{"添加文件夹"});
}

void TestJobs::unpacking_with_only_folders_left_from_packing() {
    QDir().mkpath(dir->filePath(QStringLiteral("folder")));
    add_folder(window, dir->filePath(QStringLiteral("folder")));
    choose_mode(window, QStringLiteral("解密"));

    QStringList lines;
    const Outcome outcome = run_job(&lines);
    QVERIFY(outcome.answered);

    QCOMPARE(outcome.text, QStringLiteral("文件解密失败"));
    QCOMPARE(lines, QStringList());
    QCOMPARE(entries(dir->path()), QStringList{"folder"});
}

void TestJobs::window_keeps_working_during_a_long_job() {
    const QString input = make_long_job_input();
    add_files(window, QFileInfo(input).absolutePath(), QFileInfo(input).fileName());

    // Timer ticks while the job runs show the event loop turning; the first one also uses
    // the folder button.
    int ticks_while_busy = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (status_label(window)->text().isEmpty() || QApplication::activeModalWidget() != nullptr)
            return;
        if (ticks_while_busy++ == 0)
            QTest::mouseClick(button(window, QStringLiteral("加密目录")), Qt::LeftButton);
    });
    ticker.start(0);
    QStringList lines;
    const Outcome outcome = run_job(&lines);
    QVERIFY(outcome.answered);
    ticker.stop();

    QCOMPARE(outcome.text, QStringLiteral("文件加密成功"));
    QVERIFY(ticks_while_busy > 1);
    QCOMPARE(urls.opened,
             QList<QUrl>{QUrl::fromLocalFile(dir->filePath(QStringLiteral("AddData")))});
}

void TestJobs::archive_folder_button_opens_the_folder() {
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("AddData"))));
    QTest::mouseClick(button(window, QStringLiteral("加密目录")), Qt::LeftButton);
    QCOMPARE(urls.opened,
             QList<QUrl>{QUrl::fromLocalFile(dir->filePath(QStringLiteral("AddData")))});
    QVERIFY(QFileInfo(dir->filePath(QStringLiteral("AddData"))).isDir());
}

void TestJobs::closing_the_window_during_a_job() {
    const QString input = make_long_job_input();
    add_files(window, QFileInfo(input).absolutePath(), QFileInfo(input).fileName());
    QTest::mouseClick(button(window, QStringLiteral("加密")), Qt::LeftButton);
    QCOMPARE(status_label(window)->text(), QStringLiteral("正在加密中"));

    // The person closes the window; the program then destroys it, as it does on exit.
    window->close();
    delete window;
    window = nullptr;

    // The job was cancelled and waited for: it left nothing, and no result went to the window
    // that is gone.
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(entries(dir->filePath(QStringLiteral("AddData"))), QStringList());
}

void TestJobs::cancelling_a_long_job_data() {
    QTest::addColumn<bool>("packing");
    QTest::addColumn<int>("small_files");
    QTest::newRow("packing a large file") << true << 0;
    QTest::newRow("packing a large file and many small ones, every core busy") << true << 3000;
    QTest::newRow("unpacking the second of three archives") << false << 0;
}

void TestJobs::cancelling_a_long_job() {
    QFETCH(bool, packing);
    QFETCH(int, small_files);
    const QString large = make_long_job_input(3LL * 1024 * 1024 * 1024);
    write_file(dir->filePath(QStringLiteral("AddData/old.zrvdata")), "kept");
    if (packing) {
        add_files(window, QFileInfo(large).absolutePath(), QFileInfo(large).fileName());
        for (int i = 0; i < small_files; ++i)
            write_file(dir->filePath(QStringLiteral("small/%1.bin").arg(i)),
                       random_bytes(40000, quint32(i)));
        if (small_files > 0)
            add_folder(window, dir->filePath(QStringLiteral("small")));
    } else {
        write_file(dir->filePath(QStringLiteral("in/one.txt")), "one");
        QVERIFY(pack({dir->filePath(QStringLiteral("in/one.txt"))}, {},
                     dir->filePath(QStringLiteral("AddData/a.zrvdata"))));
        QVERIFY(pack({large}, {}, dir->filePath(QStringLiteral("AddData/b.zrvdata"))));
        QVERIFY(pack({dir->filePath(QStringLiteral("in/one.txt"))}, {},
                     dir->filePath(QStringLiteral("AddData/c.zrvdata"))));
        choose_mode(window, QStringLiteral("解密"));
        add_files(window, dir->filePath(QStringLiteral("AddData")),
                  QStringLiteral("\"a.zrvdata\" \"b.zrvdata\" \"c.zrvdata\""));
    }
    const QStringList before = entries(dir->filePath(QStringLiteral("AddData")));

    QStringList lines;
    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = run_job(&lines, [&] {
        // The progress window comes after about a second, over the main window.
        QTRY_VERIFY_WITH_TIMEOUT(progress_window(window) != nullptr, 30000);
        QVERIFY(clock.elapsed() >= 900);
        QDialog *progress = progress_window(window);
        QCOMPARE(progress->windowTitle(),
                 packing ? QStringLiteral("正在加密中") : QStringLiteral("正在解密中"));
        QCOMPARE(progress->windowModality(), Qt::WindowModal);
        const auto says = [progress](const QString &text) {
            for (QLabel *label : progress->findChildren<QLabel *>()) {
                if (label->isVisible() && label->text().contains(text))
                    return true;
            }
            return false;
        };
        // Bytes done of the 3 GB or so in hand, and which archive of how many.
        QTRY_VERIFY(says(QStringLiteral(" / 3.")));
        if (!packing)
            QTRY_VERIFY(says(QStringLiteral("第 2 个归档，共 3 个")));
        // Its bar moves.
        auto *bar = progress->findChild<QProgressBar *>();
        QTRY_VERIFY(bar->value() > 0);
        const int seen = bar->value();
        QTRY_VERIFY(bar->value() > seen);
        QTest::mouseClick(button(progress, QStringLiteral("取消")), Qt::LeftButton);
    });
    QVERIFY(outcome.answered);

    QCOMPARE(outcome.text,
             packing ? QStringLiteral("文件加密失败") : QStringLiteral("文件解密失败"));
    QCOMPARE(lines, packing ? QStringList{"加密失败"} : QStringList({"解密成功", "解密失败"}));
    // Nothing of the cancelled call is left: no archive, no temporary file, no staging folder;
    // the archive unpacked before it stays, the one after it was never started.
    QCOMPARE(entries(dir->filePath(QStringLiteral("AddData"))),
             packing ? before
                     : QStringList({"a", "a.zrvdata", "b.zrvdata", "c.zrvdata", "old.zrvdata"}));
    QCOMPARE(progress_window(window), nullptr);
    QCOMPARE(status_label(window)->text(), QString());
    QCOMPARE(table(window)->rowCount(), 0);
    QCOMPARE(disabled_controls(window), packing ? QStringList() : QStringList{"添加文件夹"});
}

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
