// Whole jobs through the real window: packing and unpacking on the worker thread, the message
// box, the lines on standard output, progress and cancelling, closing mid-job, and a worker
// thread that cannot start.
#include "testsupport.h"
#include "window/cofferbox.h"
#include "windowdriver.h"

#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <boost/thread.hpp>

#include <atomic>
#include <thread>

using namespace windowdriver;
using namespace testsupport;

// Stands in for the program's own starter of worker threads (a link seam): the same, unless a
// test makes the system refuse threads.
static bool refuse_threads = false;
void start_worker_thread(std::function<void()> work) {
    if (refuse_threads)
        throw boost::thread_resource_error(EAGAIN, "no more threads");
    boost::thread(std::move(work)).detach();
}

namespace {

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
    QString text;
    QString status;
    QStringList disabled;
    bool progress_shown = false;
};

QStringList disabled_controls(QWidget *window) {
    QStringList names;
    for (QPushButton *push : window->findChildren<QPushButton *>(Qt::FindDirectChildrenOnly))
        if (!push->isEnabled())
            names << push->text();
    if (!mode_box(window)->isEnabled())
        names << QStringLiteral("mode box");
    names.sort();
    return names;
}

// The progress window of a running job, when it is on screen: a dialog titled with the busy text.
QDialog *progress_window(QWidget *window) {
    for (QDialog *dialog : window->findChildren<QDialog *>())
        if (dialog->isVisible() && dialog->windowTitle().startsWith(QStringLiteral("正在")))
            return dialog;
    return nullptr;
}

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
    void closing_the_window_during_a_job();
    void cancelling_a_long_job_data();
    void cancelling_a_long_job();
    void a_worker_that_cannot_start();

private:
    // Presses the run button, runs `during` while the job runs, answers the message box and
    // returns what it showed; the job's lines on standard output land in `lines`.
    Outcome run_job(QStringList *lines, const std::function<void()> &during = {});
    // A sparse file of zeros, big enough that packing it takes many turns of the event loop.
    QString make_long_job_input(qint64 size = 1LL << 30);

    WorkingFolder *dir = nullptr;
    Cofferbox *window = nullptr;
    UrlRecorder urls;
};

void TestJobs::init() {
    dir = new WorkingFolder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    urls.opened.clear();
    window = open_window();
}

void TestJobs::cleanup() {
    delete window;
    window = nullptr;
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    delete dir;
    refuse_threads = false;
}

Outcome TestJobs::run_job(QStringList *lines, const std::function<void()> &during) {
    Outcome outcome;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this,
            [&] { outcome.progress_shown = outcome.progress_shown || progress_window(window); });
    watcher.start(10);
    const QByteArray output = capture(1, [&] {
        when_dialog_opens(
            [&](QWidget *box) {
                outcome.text = qobject_cast<QMessageBox *>(box)->text();
                outcome.status = status_label(window)->text();
                outcome.disabled = disabled_controls(window);
                QTest::keyClick(box, Qt::Key_Return);
                outcome.answered = true;
            },
            [](QWidget *box) { return qobject_cast<QMessageBox *>(box) != nullptr; });
        QTest::mouseClick(button(window, mode_box(window)->currentText()), Qt::LeftButton);
        if (during)
            during();
        outcome.answered = QTest::qWaitFor([&] { return outcome.answered; }, 600000);
    });
    for (const QByteArray &line : output.split('\n'))
        if (line.endsWith("成功") || line.endsWith("失败"))
            *lines << QString::fromUtf8(line);
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
    QCOMPARE(outcome.text, QStringLiteral("文件加密成功"));
    QCOMPARE(outcome.status, QStringLiteral("正在加密中"));
    QCOMPARE(outcome.disabled,
             QStringList({"mode box", "删除", "加密", "添加文件", "添加文件夹", "清除"}));
    QCOMPARE(lines, QStringList{"加密成功"});
    // A job of a moment never shows its progress.
    QVERIFY(!outcome.progress_shown);
    // Back to idle with nothing selected.
    QCOMPARE(status_label(window)->text(), QString());
    QCOMPARE(disabled_controls(window), QStringList());
    QCOMPARE(table(window)->rowCount(), 0);

    const QStringList archives = entries(dir->filePath(QStringLiteral("AddData")));
    QCOMPARE(archives.size(), 1);
    const QDate today = QDate::currentDate();
    QVERIFY2(QRegularExpression(QStringLiteral("^%1__\\d{6}_%2\\.zrvdata$")
                                    .arg(today.toString(QStringLiteral("yyyyMMdd")),
                                         QLocale::system().toString(today, QStringLiteral("ddd"))))
                 .match(archives.first())
                 .hasMatch(),
             qPrintable(archives.first()));
    const QString archive = dir->filePath(QStringLiteral("AddData/") + archives.first());
    const CommandResult extracted = run(QStringLiteral("unzip"), {"-q", archive, "-d", "peer"});
    QVERIFY2(extracted.exit_code == 0, extracted.output.constData());
    QCOMPARE(contents(dir->filePath(QStringLiteral("peer"))), contents(source));
    // The job compresses: what shrinks is deflated.
    const CommandResult methods = python({"-c",
                                          "import sys, zipfile; print([i.compress_type for i in "
                                          "zipfile.ZipFile(sys.argv[1]).infolist() "
                                          "if i.filename.endswith('inner.bin')])",
                                          archive});
    QCOMPARE(methods.output.trimmed(), QByteArray("[8]"));
}

void TestJobs::unpacking_job_data() {
    QTest::addColumn<bool>("with_corrupt_archive");
    QTest::newRow("two archives, one outside the archive folder") << false;
    QTest::newRow("a corrupt archive before two good ones") << true;
}

void TestJobs::unpacking_job() {
    QFETCH(bool, with_corrupt_archive);
    write_file(dir->filePath(QStringLiteral("in/one.txt")), "one");
    write_file(dir->filePath(QStringLiteral("in/two.txt")), "two");
    QVERIFY(pack({dir->filePath(QStringLiteral("in/one.txt"))}, {},
                 dir->filePath(QStringLiteral("AddData/20260101__000000_Thu.zrvdata"))));
    QVERIFY(pack({dir->filePath(QStringLiteral("in/two.txt"))}, {},
                 dir->filePath(QStringLiteral("elsewhere/a.b.zrvdata"))));
    write_file(dir->filePath(QStringLiteral("AddData/1 bad.zrvdata")), "not an archive");

    choose_mode(window, QStringLiteral("解密"));
    add_files(window, dir->filePath(QStringLiteral("AddData")),
              with_corrupt_archive
                  ? QStringLiteral(R"("1 bad.zrvdata" "20260101__000000_Thu.zrvdata")")
                  : QStringLiteral("20260101__000000_Thu.zrvdata"));
    add_files(window, dir->filePath(QStringLiteral("elsewhere")), QStringLiteral("a.b.zrvdata"));
    QStringList lines;
    const Outcome outcome = run_job(&lines);
    QVERIFY(outcome.answered);

    QCOMPARE(outcome.status, QStringLiteral("正在解密中"));
    // One line per archive, in path order; one failure fails the job, wherever it comes.
    QCOMPARE(outcome.text, with_corrupt_archive ? QStringLiteral("文件解密失败")
                                                : QStringLiteral("文件解密成功"));
    QCOMPARE(lines, with_corrupt_archive ? QStringList({"解密失败", "解密成功", "解密成功"})
                                         : QStringList({"解密成功", "解密成功"}));
    QCOMPARE(read_file(dir->filePath(QStringLiteral("AddData/20260101__000000_Thu/one.txt"))),
             QByteArray("one"));
    QCOMPARE(read_file(dir->filePath(QStringLiteral("elsewhere/a/two.txt"))), QByteArray("two"));
    QCOMPARE(
        entries(dir->filePath(QStringLiteral("AddData"))),
        QStringList({"1 bad.zrvdata", "20260101__000000_Thu", "20260101__000000_Thu.zrvdata"}));
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
    QCOMPARE(entries(dir->path()), QStringList{"long"});
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
    const QString large = make_long_job_input(3LL << 30);
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
        for (const char *name : {"a", "b", "c"})
            QVERIFY(pack({*name == 'b' ? large : dir->filePath(QStringLiteral("in/one.txt"))}, {},
                         dir->filePath(QStringLiteral("AddData/%1.zrvdata").arg(name))));
        choose_mode(window, QStringLiteral("解密"));
        add_files(window, dir->filePath(QStringLiteral("AddData")),
                  QStringLiteral(R"("a.zrvdata" "b.zrvdata" "c.zrvdata")"));
    }
    const QStringList before = entries(dir->filePath(QStringLiteral("AddData")));

    // Timer ticks while the job runs show the event loop turning; the first one also uses
    // the folder button, before the progress window covers the window.
    int ticks_while_busy = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (!status_label(window)->text().isEmpty() &&
            QApplication::activeModalWidget() == nullptr && ticks_while_busy++ == 0)
            QTest::mouseClick(button(window, QStringLiteral("加密目录")), Qt::LeftButton);
    });
    ticker.start(0);
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
            for (QLabel *label : progress->findChildren<QLabel *>())
                if (label->isVisible() && label->text().contains(text))
                    return true;
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
    QVERIFY(ticks_while_busy > 1);
    QCOMPARE(urls.opened,
             QList<QUrl>{QUrl::fromLocalFile(dir->filePath(QStringLiteral("AddData")))});
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

void TestJobs::a_worker_that_cannot_start() {
    write_file(dir->filePath(QStringLiteral("a.txt")), "a");
    add_files(window, dir->path(), QStringLiteral("a.txt"));
    refuse_threads = true;
    QStringList lines;
    const Outcome outcome = run_job(&lines);
    QCOMPARE(outcome.text, QStringLiteral("文件加密失败"));
    // The window is handed back, with the selection kept for another try.
    QCOMPARE(disabled_controls(window), QStringList());
    QCOMPARE(table(window)->rowCount(), 1);
    QCOMPARE(progress_window(window), nullptr);

    // Closing it then does not wait for a job that never ran.
    std::atomic<bool> closed{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 200 && !closed; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!closed)
            qFatal("closing the window hangs");
    });
    delete window;
    window = nullptr;
    closed = true;
    watchdog.join();
}

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
