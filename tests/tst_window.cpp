// The program as a person meets it: the window's texts in both modes, its dialogs, picking by
// dialog and by dropping, whole jobs on the worker thread with their message boxes, output lines,
// progress and cancelling, the program started and closed, and its installation on the desktop.
// CTest also runs qt_dialogs_speak_the_system_language under a Chinese locale.
#include "app/startup.h"
#include "testsupport.h"
#include "window/cofferbox.h"
#include "windowdriver.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QTextLayout>
#include <QTimer>

#include <boost/thread.hpp>

#include <csignal>

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

// What a job showed: the message box's text, and while it was open, the busy text and the
// disabled controls; whether a progress window ever appeared; its lines on standard output.
struct Outcome {
    QString text, status;
    QStringList disabled, lines;
    bool progress_shown = false;
};

QStringList disabled_controls(QWidget *window) {
    QStringList names;
    for (QPushButton *push : window->findChildren<QPushButton *>(Qt::FindDirectChildrenOnly))
        if (!push->isEnabled())
            names << push->text();
    if (!mode_box(window)->isEnabled())
        names << "mode box";
    names.sort();
    return names;
}

// The progress window of a running job when it is on screen: a dialog titled with the busy text.
QDialog *progress_window(QWidget *window) {
    for (QDialog *dialog : window->findChildren<QDialog *>())
        if (dialog->isVisible() && dialog->windowTitle().startsWith("正在"))
            return dialog;
    return nullptr;
}

bool shows_text(QWidget *window, const QString &text) {
    for (QLabel *label : window->findChildren<QLabel *>())
        if (label->isVisible() && label->text().contains(text))
            return true;
    return false;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { startup::prepare_application(*qApp); }
    void init();
    void cleanup();
    void dialogs_data(); // first, while the dialogs remember no folder from earlier picks
    void dialogs();
    void what_a_person_sees_data();
    void what_a_person_sees();
    void selecting_data();
    void selecting();
    void packing_job();
    void unpacking_job_data();
    void unpacking_job();
    void closing_the_window_during_a_job();
    void cancelling_a_long_job_data();
    void cancelling_a_long_job();
    void a_worker_that_cannot_start();
    void program_starts_and_exits_when_closed();
    void installs_as_a_desktop_application();
    void qt_dialogs_speak_the_system_language();

private:
    // "d:name" a folder row, "f:name" a file row, of names in the working folder.
    QStringList tagged_rows(const QStringList &tagged) const;
    // Drags URLs (of names in the working folder, or web addresses) over the table and drops
    // them there, as from a file manager; returns whether the window offered to copy them.
    bool drop(const QStringList &names);
    // Presses the run button, runs `during` while the job runs and answers the message box.
    Outcome run_job(const std::function<void()> &during = {});

    WorkingFolder *dir = nullptr;
    Cofferbox *window = nullptr;
    UrlRecorder urls;
};

void TestWindow::init() {
    dir = new WorkingFolder;
    sh(dir->path(), "mkdir -p folder Y AddData; touch a.txt b.txt Z.txt '中文 名.txt' a,b.txt "
                    "x.zrvdata plain same folder/inside.txt Y/keep");
    QDesktopServices::setUrlHandler("file", &urls, "open");
    window = open_window();
}

void TestWindow::cleanup() {
    delete window;
    window = nullptr;
    QDesktopServices::unsetUrlHandler("file");
    delete dir;
    refuse_threads = false;
}

QStringList TestWindow::tagged_rows(const QStringList &tagged) const {
    QStringList result;
    for (const QString &row : tagged) {
        const QString path = dir->filePath(row.mid(2));
        result << path + (row.startsWith("d:") ? "|文件夹|dir|" : "|文件|file|") + path;
    }
    return result;
}

bool TestWindow::drop(const QStringList &names) {
    QList<QUrl> urls;
    for (const QString &name : names)
        urls << (name.contains(':') ? QUrl(name) : QUrl::fromLocalFile(dir->filePath(name)));
    QMimeData data;
    data.setUrls(urls);
    QWidget *target = table(window)->viewport();
    const QPoint point = target->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
}

Outcome TestWindow::run_job(const std::function<void()> &during) {
    Outcome outcome;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this,
            [&] { outcome.progress_shown = outcome.progress_shown || progress_window(window); });
    watcher.start(10);
    bool answered = false;
    const QByteArray output = capture(1, [&] {
        when_dialog_opens(
            [&](QWidget *box) {
                outcome.text = qobject_cast<QMessageBox *>(box)->text();
                outcome.status = status_label(window)->text();
                outcome.disabled = disabled_controls(window);
                QTest::keyClick(box, Qt::Key_Return);
                answered = true;
            },
            [](QWidget *box) { return qobject_cast<QMessageBox *>(box) != nullptr; });
        click(window, mode_box(window)->currentText());
        if (during)
            during();
        QVERIFY(QTest::qWaitFor([&] { return answered; }, 600000));
    });
    for (const QByteArray &line : output.split('\n'))
        if (line.endsWith("成功") || line.endsWith("失败"))
            outcome.lines << QString::fromUtf8(line);
    return outcome;
}

void TestWindow::dialogs_data() {
    // The mode and the button; what the dialog shows: caption, start folder, filters.
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("files to pack")
        << QStringList{"加密", "添加文件"} << QStringList{"选择加密的文件", ".", "All Files (*)"};
    // With no start folder the folder dialog shows the working folder selected in its parent.
    QTest::newRow("folder to pack") << QStringList{"加密", "添加文件夹"}
                                    << QStringList{"选择加密的文件", "..", "All Files (*)"};
    QTest::newRow("archives to unpack")
        << QStringList{"解密", "添加文件"}
        << QStringList{"选择解密的文件", "AddData", "ZRV file(*.zrvdata)"};
}

void TestWindow::dialogs() {
    QFETCH(QStringList, opened);
    QFETCH(QStringList, shown);
    choose_mode(window, opened[0]);
    QStringList seen;
    when_dialog_opens([&](QWidget *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        seen << files->windowTitle() << files->directory().absolutePath() << files->nameFilters();
        cancel(dialog);
    });
    click(window, opened[1]);
    shown[1] = QDir::cleanPath(dir->filePath(shown[1]));
    QCOMPARE(seen, shown);
}

void TestWindow::what_a_person_sees_data() {
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<bool>("packing");
    QTest::newRow("at start") << QStringList{} << true;
    QTest::newRow("switched to unpacking") << QStringList{"解密"} << false;
    QTest::newRow("switched to unpacking and back") << QStringList{"解密", "加密"} << true;
    QTest::newRow("unpacking chosen again") << QStringList{"解密", "解密"} << false;
}

void TestWindow::what_a_person_sees() {
    QFETCH(QStringList, picks);
    QFETCH(bool, packing);
    for (const QString &mode : picks)
        choose_mode(window, mode);
    // Every visible control, top to bottom and left to right; "(off)" marks a disabled one.
    QList<QWidget *> shown = window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    std::sort(shown.begin(), shown.end(), [](QWidget *a, QWidget *b) {
        return std::pair(a->y() / 10, a->x()) < std::pair(b->y() / 10, b->x());
    });
    QStringList texts;
    for (QWidget *widget : shown) {
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << "label " + label->text();
        else if (auto *push = qobject_cast<QPushButton *>(widget))
            texts << "button " + push->text() + (push->isEnabled() ? "" : " (off)");
        else if (auto *combo = qobject_cast<QComboBox *>(widget))
            texts << "mode " + combo->currentText();
        else if (auto *view = qobject_cast<QTableWidget *>(widget))
            texts << "table " + view->horizontalHeaderItem(0)->text() + "|" +
                         view->horizontalHeaderItem(1)->text();
    }
    QCOMPARE(texts, QStringList({"label 选择类型：", packing ? "mode 加密" : "mode 解密",
                                 packing ? "label 添加一部分文件和文件夹，可以打包加密。"
                                         : "label 请选择后缀名为(*.zrvdata)文件解密。",
                                 "table 文件名|文件类型", "button 添加文件",
                                 packing ? "button 添加文件夹" : "button 添加文件夹 (off)",
                                 "button 删除", "button 清除", "button 加密目录", "label ",
                                 packing ? "button 加密" : "button 解密"}));
    QCOMPARE(window->size(), QSize(600, 420));
    // All of them, and the progress window's texts, in a font that has their characters:
    // glyph 0 is the empty box a font shows for one it lacks.
    QTextLayout layout(texts.join("") + "正在中成功失败取消第个归档，共速度剩余约秒分小时",
                       window->font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun &run : layout.glyphRuns())
        QVERIFY2(!run.glyphIndexes().contains(0), qPrintable(run.rawFont().familyName()));
}

void TestWindow::selecting_data() {
    // Steps a person takes, then the rows the table shows. Steps: "mode M"; "files TYPED" and
    // "folder NAME" through the dialogs; "cancel BUTTON" (the dialog it opens); "sh SCRIPT";
    // "busy" (a job starts); "empty" (the table shows nothing now); "clear"; "delete ROWS"
    // (selected with Ctrl); "drop NAMES" (offered to copy) or "refuse NAMES" (not offered).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("rows");
    const auto row = [](const char *name, const QStringList &steps, const QStringList &rows) {
        QTest::newRow(name) << steps << rows;
    };
    row("awkward names, each listed once, in code unit order",
        {R"(files "中文 名.txt" "a,b.txt" "Z.txt")", R"(files "a,b.txt")"},
        {"f:Z.txt", "f:a,b.txt", "f:中文 名.txt"});
    row("folders before files, whatever their paths", {"folder folder", "files a.txt", "folder Y"},
        {"d:Y", "d:folder", "f:a.txt"});
    row("archives, and one typed without its suffix, when unpacking",
        {"mode 解密", "files x.zrvdata", "files plain"}, {"f:plain", "f:x.zrvdata"});
    row("cancelled dialogs add nothing", {"cancel 添加文件", "cancel 添加文件夹"}, {});
    row("cleared, nothing comes back at the next rebuild",
        {"files a.txt", "folder folder", "clear", "empty", "delete"}, {});
    row("a mode switch empties the view and keeps the selection",
        {"files a.txt", "folder folder", "mode 解密", "empty", "cancel 添加文件"},
        {"d:folder", "f:a.txt"});
    // "same" is listed twice: picked as a file, then, once a folder took its place, as a
    // folder. Deleting goes by the kind of row.
    const QStringList same = {R"(files "a.txt" "b.txt" "same")", "sh rm same; mkdir same",
                              "folder same"};
    row("deleting a file row", same + QStringList{"delete f:b.txt"},
        {"d:same", "f:a.txt", "f:same"});
    row("deleting the folder row of a path also listed as a file",
        same + QStringList{"delete d:same"}, {"f:a.txt", "f:b.txt", "f:same"});
    row("deleting the file row of a path also listed as a folder",
        same + QStringList{"delete f:same f:a.txt"}, {"d:same", "f:b.txt"});
    row("deleting with nothing selected", same + QStringList{"delete"},
        {"d:same", "f:a.txt", "f:b.txt", "f:same"});
    const QString web = "https://example.org/c.zrvdata";
    row("files dropped", {"drop b.txt a.txt"}, {"f:a.txt", "f:b.txt"});
    row("a folder, a file and a web address dropped", {"drop a.txt " + web + " folder/"},
        {"d:folder", "f:a.txt"});
    row("only a web address dropped", {"refuse " + web}, {});
    row("only a folder dropped while unpacking", {"mode 解密", "refuse folder"}, {});
    row("an archive and a folder dropped while unpacking", {"mode 解密", "drop folder x.zrvdata"},
        {"f:x.zrvdata"});
    row("files dropped while a job runs", {"busy", "refuse a.txt"}, {});
}

void TestWindow::selecting() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, rows);
    QTableWidget *view = table(window);
    for (const QString &step : steps) {
        const QString verb = step.section(' ', 0, 0), rest = step.section(' ', 1);
        const QStringList names = rest.split(' ', Qt::SkipEmptyParts);
        if (verb == "mode") {
            choose_mode(window, rest);
        } else if (verb == "files") {
            add_files(window, dir->path(), rest);
        } else if (verb == "folder") {
            add_folder(window, dir->filePath(rest));
        } else if (verb == "cancel") {
            when_dialog_opens(cancel);
            click(window, rest);
        } else if (verb == "sh") {
            sh(dir->path(), rest);
        } else if (verb == "busy") {
            window->slot_start_work();
        } else if (verb == "empty") {
            QCOMPARE(view->rowCount(), 0);
        } else if (verb == "clear") {
            click(window, "清除");
        } else if (verb == "delete") {
            view->clearSelection();
            for (const QString &row : tagged_rows(names)) {
                QTableWidgetItem *item = view->item(windowdriver::rows(view).indexOf(row), 0);
                QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                                  view->visualItemRect(item).center());
            }
            click(window, "删除");
        } else {
            QCOMPARE(drop(names), verb == "drop");
        }
    }
    QCOMPARE(windowdriver::rows(view), tagged_rows(rows));
}

void TestWindow::packing_job() {
    sh("source", "mkdir -p 文件夹/empty; echo 内容 > '中文 文件.txt'; echo comma > a,b.txt\n"
                 "seq 20000 > 文件夹/inner.txt");
    add_files(window, dir->filePath("source"), R"("中文 文件.txt" "a,b.txt")");
    add_folder(window, dir->filePath("source/文件夹"));

    const Outcome outcome = run_job();
    QCOMPARE(outcome.text, "文件加密成功");
    QCOMPARE(outcome.status, "正在加密中");
    QCOMPARE(outcome.disabled,
             QStringList({"mode box", "删除", "加密", "添加文件", "添加文件夹", "清除"}));
    QCOMPARE(outcome.lines, QStringList{"加密成功"});
    // A job of a moment never shows its progress.
    QVERIFY(!outcome.progress_shown);
    // Back to idle with nothing selected.
    QCOMPARE(status_label(window)->text(), QString());
    QCOMPARE(disabled_controls(window), QStringList());
    QCOMPARE(table(window)->rowCount(), 0);

    // One new archive, named after the local time and weekday, that unzip unpacks to the picks.
    const QStringList archives = entries("AddData").filter(".zrvdata");
    QCOMPARE(archives.size(), 1);
    const QDate today = QDate::currentDate();
    QVERIFY2(QRegularExpression("^" + today.toString("yyyyMMdd") + "__\\d{6}_" +
                                QLocale::system().toString(today, "ddd") + "\\.zrvdata$")
                 .match(archives[0])
                 .hasMatch(),
             qPrintable(archives[0]));
    QCOMPARE(zip_objections("AddData/" + archives[0], 1), QByteArray());
    const CommandResult extracted = run("unzip", {"-q", "AddData/" + archives[0], "-d", "peer"});
    QVERIFY2(extracted.exit_code == 0, extracted.output);
    QCOMPARE(snapshot("peer"), snapshot("source"));
    // The folder button shows where archives go.
    click(window, "加密目录");
    QCOMPARE(urls.opened, QList<QUrl>{QUrl::fromLocalFile(dir->filePath("AddData"))});
}

void TestWindow::unpacking_job_data() {
    // Archives picked in the add-file dialog, per folder ("folder|typed"), or a folder picked
    // while packing; the message and the lines; what the job made, with files' contents.
    QTest::addColumn<QStringList>("picked");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("made");
    const QString good = "AddData|20260101__000000_Thu.zrvdata", other = "elsewhere|a.b.zrvdata";
    const QStringList made = {"AddData/20260101__000000_Thu",
                              "AddData/20260101__000000_Thu/one=one\n", "elsewhere/a",
                              "elsewhere/a/two=two\n"};
    QTest::newRow("two archives, one outside the archive folder")
        << QStringList{good, other} << "文件解密成功" << QStringList{"解密成功", "解密成功"}
        << made;
    // One line per archive, in path order; one failure fails the job, wherever it comes.
    QTest::newRow("a corrupt archive before two good ones")
        << QStringList{R"(AddData|"1 bad.zrvdata" "20260101__000000_Thu.zrvdata")", other}
        << "文件解密失败" << QStringList{"解密失败", "解密成功", "解密成功"} << made;
    QTest::newRow("a corrupt archive after a good one")
        << QStringList{R"(AddData|"20260101__000000_Thu.zrvdata" "z bad.zrvdata")"}
        << "文件解密失败" << QStringList{"解密成功", "解密失败"} << made.mid(0, 2);
    QTest::newRow("only a folder, left from packing")
        << QStringList{"folder"} << "文件解密失败" << QStringList{} << QStringList{};
}

void TestWindow::unpacking_job() {
    QFETCH(QStringList, picked);
    QFETCH(QString, message);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, made);
    sh("in", "echo one > one; echo two > two; echo junk > '../AddData/1 bad.zrvdata'\n"
             "echo junk > '../AddData/z bad.zrvdata'");
    QVERIFY(pack({dir->filePath("in/one")}, {}, "AddData/20260101__000000_Thu.zrvdata"));
    QVERIFY(pack({dir->filePath("in/two")}, {}, "elsewhere/a.b.zrvdata"));
    const Tree before = snapshot(dir->path());
    for (const QString &pick : picked) {
        if (!pick.contains('|'))
            add_folder(window, dir->filePath(pick));
        choose_mode(window, "解密");
        if (pick.contains('|'))
            add_files(window, dir->filePath(pick.section('|', 0, 0)), pick.section('|', 1));
    }

    const Outcome outcome = run_job();
    QCOMPARE(outcome.status, "正在解密中");
    QCOMPARE(outcome.text, message);
    QCOMPARE(outcome.lines, lines);
    QStringList made_now;
    const Tree after = snapshot(dir->path());
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        if (!before.contains(it.key()))
            made_now << it.key() + (it->type == 'f' ? "=" + it->content : QByteArray());
    QCOMPARE(made_now, made);
    // Still unpacking: the folder button stays off.
    QCOMPARE(disabled_controls(window), QStringList{"添加文件夹"});
}

void TestWindow::closing_the_window_during_a_job() {
    sh("long", "truncate -s 1G zeros");
    add_files(window, dir->filePath("long"), "zeros");
    click(window, "加密");
    QCOMPARE(status_label(window)->text(), "正在加密中");
    // The person closes the window; the program then destroys it, as it does on exit.
    window->close();
    delete window;
    window = nullptr;
    // The job was cancelled and waited for: it left nothing, and no result went to the window
    // that is gone.
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(entries("AddData"), QStringList());
}

void TestWindow::cancelling_a_long_job_data() {
    // What is picked: 3 GB of zeros, alone or with 3,000 small files that keep every compressor
    // busy, or as the second of three archives; and how the person cancels.
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("how");
    QTest::newRow("packing a large file, cancelled with the button") << "large"
                                                                     << "取消";
    QTest::newRow("packing with many small files, cancelled with Escape") << "small"
                                                                          << "Escape";
    QTest::newRow("unpacking the second of three archives, cancelled by closing the window")
        << "archives"
        << "close";
}

void TestWindow::cancelling_a_long_job() {
    QFETCH(QString, picked);
    QFETCH(QString, how);
    const bool packing = picked != "archives";
    sh("long", "truncate -s 3G zeros; echo kept > ../AddData/old.zrvdata");
    if (packing) {
        add_files(window, dir->filePath("long"), "zeros");
    } else {
        for (const char *name : {"a", "b", "c"})
            QVERIFY(pack({dir->filePath(*name == 'b' ? "long/zeros" : "a.txt")}, {},
                         QString("AddData/%1.zrvdata").arg(name)));
        choose_mode(window, "解密");
        add_files(window, dir->filePath("AddData"), R"("a.zrvdata" "b.zrvdata" "c.zrvdata")");
    }
    if (picked == "small") {
        sh("small", "/usr/bin/python3 -c \"import os\nfor i in range(3000): "
                    "open(str(i), 'wb').write(os.urandom(40000))\"");
        add_folder(window, dir->filePath("small"));
    }
    const QStringList before = entries("AddData");

    const Outcome outcome = run_job([&] {
        // The progress window comes after about a second, over the main window.
        QTRY_VERIFY_WITH_TIMEOUT(progress_window(window) != nullptr, 30000);
        QDialog *progress = progress_window(window);
        QCOMPARE(progress->windowTitle(), packing ? "正在加密中" : "正在解密中");
        QCOMPARE(progress->windowModality(), Qt::WindowModal);
        // Bytes done of the 3 GB or so in hand, which archive of how many, and a bar that
        // moves while the window goes on painting.
        QTRY_VERIFY(shows_text(progress, " / 3."));
        QTRY_VERIFY(packing || shows_text(progress, "第 2 个归档，共 3 个"));
        auto *bar = progress->findChild<QProgressBar *>();
        QTRY_VERIFY(bar->value() > 0);
        const int seen = bar->value();
        QTRY_VERIFY(bar->value() > seen);
        if (how == "Escape")
            QTest::keyClick(progress, Qt::Key_Escape);
        else if (how == "close")
            progress->close();
        else
            click(progress, how);
    });
    QCOMPARE(outcome.text, packing ? "文件加密失败" : "文件解密失败");
    QCOMPARE(outcome.lines,
             packing ? QStringList{"加密失败"} : QStringList({"解密成功", "解密失败"}));
    // Nothing of the cancelled call is left: no archive, no temporary file, no staging folder;
    // the archive unpacked before it stays, the one after it was never started.
    QCOMPARE(entries("AddData"), packing ? before : QStringList({"a"}) + before);
    QCOMPARE(progress_window(window), nullptr);
    QCOMPARE(status_label(window)->text(), QString());
    QCOMPARE(table(window)->rowCount(), 0);
    QCOMPARE(disabled_controls(window), packing ? QStringList() : QStringList{"添加文件夹"});
}

void TestWindow::a_worker_that_cannot_start() {
    add_files(window, dir->path(), "a.txt");
    refuse_threads = true;
    QCOMPARE(run_job().text, "文件加密失败");
    // The window is handed back, with the selection kept for another try.
    QCOMPARE(disabled_controls(window), QStringList());
    QCOMPARE(table(window)->rowCount(), 1);
    QCOMPARE(progress_window(window), nullptr);
    // Closing it then does not wait for a job that never ran (a hang fails by Qt Test's timeout).
    delete window;
    window = nullptr;
}

void TestWindow::program_starts_and_exits_when_closed() {
    if (QGuiApplication::platformName() != "xcb")
        QSKIP("closing another program's window needs an X server");
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    // Arguments that are not Qt's own change nothing.
    program.start(COFFERBOX_BINARY, {"--frobnicate", "extra", "加密"});
    QVERIFY(program.waitForStarted());
    // Past the file-size limit a write fails and the job reports it; the program lives on.
    QTRY_VERIFY([&] {
        const QByteArray status = read_file(QString("/proc/%1/status").arg(program.processId()));
        const qsizetype at = status.indexOf("SigIgn:") + 7;
        return (status.mid(at, 17).trimmed().toULongLong(nullptr, 16) >> (SIGXFSZ - 1) & 1) != 0;
    }());
    // A person closes the window with the window's close button.
    const CommandResult closed =
        run("/usr/bin/python3", {TESTS_SOURCE_DIR "/close_window.py", "cofferbox"});
    QVERIFY2(closed.exit_code == 0, closed.output);
    QCOMPARE(closed.output.trimmed(), QByteArray("600x420"));
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void TestWindow::installs_as_a_desktop_application() {
    const CommandResult installed =
        run("cmake", {"--install", BUILD_DIR, "--prefix", dir->filePath("usr")});
    QVERIFY2(installed.exit_code == 0, installed.output);
    // Exactly the application, no tests, benchmarks or libraries, and what the desktop's own
    // tools accept: its entry, metainfo and file type, which the type lookup then finds.
    QStringList files;
    const Tree tree = snapshot("usr");
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        if (it->type == 'f')
            files << it.key();
    const QString id = startup::application_id;
    QCOMPARE(files, QStringList({"bin/cofferbox", "share/applications/" + id + ".desktop",
                                 "share/icons/hicolor/scalable/apps/" + id + ".svg",
                                 "share/metainfo/" + id + ".metainfo.xml",
                                 "share/mime/packages/" + id + ".xml"}));
    QVERIFY(pack({dir->filePath("a.txt")}, {}, "packed.zrvdata"));
    const CommandResult checked = run("bash", {"-euc", QString(R"(cd usr/share
desktop-file-validate applications/%1.desktop; appstreamcli validate --no-net metainfo/%1.metainfo.xml
update-mime-database mime; export XDG_DATA_DIRS=$PWD:/usr/share XDG_DATA_HOME=$PWD/none
gio info -a standard::content-type ../../packed.zrvdata | grep 'type: application/x-zrvdata')")
                                                           .arg(id)});
    QVERIFY2(checked.exit_code == 0, checked.output);
}

void TestWindow::qt_dialogs_speak_the_system_language() {
    const bool chinese = QLocale::system().name() == "zh_CN";
    // Button texts without their keyboard shortcuts ("&Open", "打开(&O)").
    const QRegularExpression shortcut("\\(&.\\)|&");
    QStringList texts;
    const auto read_and_cancel = [&](QWidget *dialog) {
        if (auto *look_in = dialog->findChild<QLabel *>("lookInLabel"))
            texts << look_in->text();
        for (QAbstractButton *button : dialog->findChild<QDialogButtonBox *>()->buttons())
            texts << button->text().remove(shortcut);
        cancel(dialog);
    };
    when_dialog_opens(read_and_cancel);
    QMessageBox::about(nullptr, "加密/解密", "文件加密成功");
    when_dialog_opens(read_and_cancel);
    QFileDialog::getOpenFileNames(nullptr, "选择加密的文件");
    QCOMPARE(texts, chinese ? QStringList({"确定", "查找范围：", "打开", "取消"})
                            : QStringList({"OK", "Look in:", "Open", "Cancel"}));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
