// The program as a person meets it: picking by dialog and by dropping, the window's texts in
// both modes, whole jobs on the worker thread with their message boxes, output lines, progress
// and cancelling, the program started and closed, and its installation on the desktop. CTest
// also runs qt_dialogs_speak_the_system_language under a Chinese locale.
#include "app/startup.h"
#include "testsupport.h"
#include "window/cofferbox.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
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
#include <sys/resource.h>

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

// The window under test, set up and shown as the program does, in a new working folder; its
// mode box, table, and the label at the left of the bottom row, which shows the busy text.
WorkingFolder *dir = nullptr;
Cofferbox *window = nullptr;
QComboBox *mode_box = nullptr;
QTableWidget *table = nullptr;
QLabel *status_label = nullptr;
struct rlimit file_size_limit; // as the test found it

// The driver: finds controls by type and text and uses them as a person does.
QPushButton *button(const QString &text, QWidget *parent = window) {
    for (QPushButton *candidate : parent->findChildren<QPushButton *>())
        if (candidate->text() == text)
            return candidate;
    qFatal("no button reads %s", qPrintable(text));
}

void click(const QString &text, QWidget *parent = window) {
    QTest::mouseClick(button(text, parent), Qt::LeftButton);
}

// Picks `mode` in the mode box's popup with the keyboard; the mode shown counts as a pick too.
void choose_mode(const QString &mode) {
    mode_box->showPopup();
    QTRY_VERIFY(mode_box->view()->isVisible());
    mode_box->view()->setCurrentIndex(mode_box->model()->index(mode_box->findText(mode), 0));
    QTest::keyClick(mode_box->view(), Qt::Key_Return);
    QTRY_VERIFY(!mode_box->view()->isVisible());
    QCOMPARE(mode_box->currentText(), mode);
}

// Runs `answer` on the next modal dialog (the next one `wanted` accepts) as soon as it is
// open, while the code that opened it waits. Called before the click that opens the dialog.
void when_dialog_opens(std::function<void(QWidget *)> answer,
                       std::function<bool(QWidget *)> wanted = {}) {
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer, wanted] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible() || (wanted && !wanted(dialog)))
            return;
        poll->deleteLater();
        poll->stop();
        answer(dialog);
    });
    poll->start(10);
}

void cancel(QWidget *dialog) {
    QTest::keyClick(dialog, Qt::Key_Escape);
}

// Types or pastes `text` into a file dialog's name box, which takes keys only while it has
// the focus, and presses Return. Characters beyond ASCII come as an input method commits them.
void enter_name(QWidget *dialog, const QString &text, bool paste = false) {
    auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    name->setFocus();
    name->selectAll();
    if (paste) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    }
    for (const QChar character : paste ? QString() : text) {
        QInputMethodEvent commit;
        commit.setCommitString(character);
        if (character.unicode() < 0x80)
            QTest::keyClick(name, character.toLatin1());
        else
            QApplication::sendEvent(name, &commit);
    }
    QTest::keyClick(name, Qt::Key_Return);
}

// Through the add-file dialog: goes to `folder`, enters `names` (in quotes) and accepts.
void add_files(const QString &folder, const QString &names) {
    when_dialog_opens([=](QWidget *dialog) {
        enter_name(dialog, dir->filePath(folder));
        enter_name(dialog, names);
    });
    click("添加文件");
}

// Through the add-folder dialog: pastes the folder's path and accepts.
void add_folder(const QString &folder) {
    when_dialog_opens([=](QWidget *dialog) { enter_name(dialog, dir->filePath(folder), true); });
    click("添加文件夹");
}

// What the table shows: "d:name" a folder row, "f:name" a file row, by path relative to the
// working folder; a row whose cells disagree with its path or kind says so.
QStringList listed_rows() {
    QStringList result;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *name = table->item(row, 0), *kind = table->item(row, 1);
        const bool is_dir = name->data(Cofferbox::ROLE_IS_DIR).toBool();
        const QString path = name->data(Cofferbox::ROLE_PATH).toString();
        result << QString(is_dir ? "d:" : "f:") + QDir(dir->path()).relativeFilePath(path);
        if (name->text() != path || name->toolTip() != path ||
            kind->text() != (is_dir ? "文件夹" : "文件"))
            result.last() += " shown as " + name->text() + "|" + kind->text();
    }
    return result;
}

// Drags URLs (of names in the working folder, or web addresses) over the table and drops them
// there, as from a file manager; returns whether the window offered to copy them.
bool drop(const QStringList &names) {
    QList<QUrl> urls;
    for (const QString &name : names)
        urls << (name.contains(':') ? QUrl(name) : QUrl::fromLocalFile(dir->filePath(name)));
    QMimeData data;
    data.setUrls(urls);
    QWidget *target = table->viewport();
    const QPoint point = target->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
}

// Every visible control of a window, top to bottom and left to right, "(off)" marking a
// disabled one.
QStringList controls(QWidget *parent = window) {
    QList<QWidget *> shown;
    for (QWidget *child : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (child->isVisible() && !qobject_cast<QDialog *>(child))
            shown << child;
    std::sort(shown.begin(), shown.end(), [](QWidget *a, QWidget *b) {
        return std::pair(a->y() / 10, a->x()) < std::pair(b->y() / 10, b->x());
    });
    QStringList texts;
    for (QWidget *widget : shown) {
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << "label " + label->text();
        else if (auto *push = qobject_cast<QPushButton *>(widget))
            texts << "button " + push->text();
        else if (auto *check = qobject_cast<QCheckBox *>(widget))
            texts << "check " + check->text();
        else if (auto *combo = qobject_cast<QComboBox *>(widget))
            texts << "mode " + combo->currentText();
        else if (auto *view = qobject_cast<QTableWidget *>(widget))
            texts << "table " + view->horizontalHeaderItem(0)->text() + "|" +
                         view->horizontalHeaderItem(1)->text();
        else
            continue;
        texts.last() += widget->isEnabled() ? "" : " (off)";
    }
    return texts;
}

QStringList disabled_controls() {
    return controls().filter(" (off)");
}

// The progress window of a running job when it is on screen: a dialog titled with the busy text.
QDialog *progress_window() {
    for (QDialog *dialog : window->findChildren<QDialog *>())
        if (dialog->isVisible() && dialog->windowTitle().startsWith("正在"))
            return dialog;
    return nullptr;
}

// What a job showed: the message box's text, informative and detailed texts (paths relative to
// the working folder), and while it was open, the busy text and the disabled controls; whether
// a progress window ever appeared; its lines on standard output.
struct Outcome {
    QString text, info, details, status;
    QStringList disabled, lines;
    bool progress_shown = false;
};

// Presses the run button, runs `during` while the job runs and answers the message box.
Outcome run_job(const std::function<void()> &during = {}) {
    Outcome outcome;
    QTimer watcher;
    watcher.callOnTimeout([&] { outcome.progress_shown |= progress_window() != nullptr; });
    watcher.start(10);
    bool answered = false;
    const QByteArray output = capture(1, [&] {
        when_dialog_opens(
            [&](QWidget *box) {
                auto *message = qobject_cast<QMessageBox *>(box);
                outcome.text = message->text();
                outcome.info = message->informativeText().remove(dir->path() + "/");
                outcome.info.replace(QRegularExpression("\\d{8}__\\d{6}_[^.]+\\.zrvdata"),
                                     "ARCHIVE");
                outcome.details = message->detailedText().remove(dir->path() + "/");
                outcome.status = status_label->text();
                outcome.disabled = disabled_controls();
                QTest::keyClick(box, Qt::Key_Return);
                answered = true;
            },
            [](QWidget *box) {
                return qobject_cast<QMessageBox *>(box) && box->windowTitle() == "加密/解密";
            });
        click(mode_box->currentText());
        if (during)
            during();
        QVERIFY(QTest::qWaitFor([&] { return answered; }, 600000));
    });
    for (const QByteArray &line : output.split('\n'))
        if (line.endsWith("成功") || line.endsWith("失败"))
            outcome.lines << QString::fromUtf8(line);
    return outcome;
}

// Answers the question a packing job asks about items it cannot pack, with `button`, as soon as
// it shows; `asked` becomes the items it listed. The question blocks no window.
void answer_question(const QString &button, QString &asked) {
    auto *poll = new QTimer(window);
    QObject::connect(poll, &QTimer::timeout, [poll, button, &asked] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(top);
            const bool asking =
                box != nullptr && box->isVisible() && box->windowTitle() == "无法打包的项目";
            if (!asking)
                continue;
            poll->deleteLater();
            poll->stop();
            asked = box->informativeText().remove(dir->path() + "/");
            click(button, box);
            return;
        }
    });
    poll->start(10);
}

// Closes the main window as its close button does: under X through the server, where a modal
// window would block it.
void close_main_window() {
    if (QGuiApplication::platformName() != "xcb") {
        window->close();
        return;
    }
    QProcess closer;
    closer.start("/usr/bin/python3",
                 {TESTS_SOURCE_DIR "/close_window.py", QString::number(window->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 30000);
    QVERIFY(closer.waitForFinished(30000));
}

// The controls as the mode shown wants them, in a font that has their characters and those of
// the progress window: glyph 0 is the empty box a font shows for a character it lacks.
void check_what_a_person_sees() {
    const bool packing = mode_box->currentText() == "加密";
    const QStringList texts = controls();
    const QString hint = packing ? "label 添加一部分文件和文件夹，"
                                   "可以打包加密。"
                                 : "label 请选择后缀名为(*.zrvdata)文件解密。";
    const QString off = packing ? "" : " (off)";
    QStringList wanted = {"label 选择类型：", packing ? "mode 加密" : "mode 解密", hint};
    wanted += {"table 文件名|文件类型", "button 添加文件"};
    wanted += "button 添加文件夹" + off;
    wanted += {"button 删除", "button 清除", "button 加密目录", "label "};
    if (packing)
        wanted += {"check 设置密码", "button 加密"};
    else
        wanted += "button 解密";
    QCOMPARE(texts, wanted);
    QCOMPARE(window->size(), QSize(600, 420));
    QCOMPARE(table->textElideMode(), Qt::ElideMiddle);
    // The progress window's and the password dialogs' texts too.
    const char *more = "正在中成功失败取消第个归档，共速度剩余约秒分小时"
                       "确认显示输入错误请重新受保护内容名仍然可见"
                       "只有支持工具如才能打开此压缩包";
    QTextLayout layout(texts.join("") + more, window->font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun &run : layout.glyphRuns())
        QVERIFY2(!run.glyphIndexes().contains(0), qPrintable(run.rawFont().familyName()));
}

// Takes steps as a person does, or sets the stage: "sees" (texts right for the mode); "mode M";
// "files FOLDER NAMES" (in quotes), "folder NAME" through the dialogs; "dialog BUTTON SHOWN"
// (caption, start folder and filters; then cancelled); "busy" (a job starts); "empty" (no rows);
// "clear"; "delete ROWS" (selected with Ctrl); "drop NAMES" (offered to copy) or "refuse NAMES";
// "sh SCRIPT"; "pack ARCHIVE FILE [PASSWORD]" with the archive component; "forge ARCHIVE JSON"
// (zipforge); "limit BYTES" (no file grows past that size until the test ends); "tick" (the
// password box).
void take_steps(const QStringList &steps) {
    for (const QString &step : steps) {
        const QString verb = step.section(' ', 0, 0), rest = step.section(' ', 1);
        const QStringList names = rest.split(' ', Qt::SkipEmptyParts);
        if (verb == "sees") {
            check_what_a_person_sees();
        } else if (verb == "mode") {
            choose_mode(rest);
        } else if (verb == "files") {
            add_files(names[0], rest.section(' ', 1));
        } else if (verb == "folder") {
            add_folder(rest);
        } else if (verb == "dialog") {
            // With no start folder the folder dialog shows the working folder in its parent.
            QStringList seen, shown = rest.section(' ', 1).split('|');
            shown[1] = QDir::cleanPath(dir->filePath(shown[1]));
            when_dialog_opens([&](QWidget *dialog) {
                auto *files = qobject_cast<QFileDialog *>(dialog);
                seen << files->windowTitle() << files->directory().absolutePath()
                     << files->nameFilters();
                cancel(dialog);
            });
            click(names[0]);
            QCOMPARE(seen, shown);
        } else if (verb == "sh") {
            sh(dir->path(), rest);
        } else if (verb == "pack") {
            QVERIFY(pack({dir->filePath(names[1])}, {}, names[0], 1, names.value(2)));
        } else if (verb == "forge") {
            forge_zip(dir->filePath(names[0]), rest.section(' ', 1).toUtf8());
        } else if (verb == "limit") {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = file_size_limit;
            limit.rlim_cur = names[0].toULong();
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        } else if (verb == "tick") {
            QTest::mouseClick(window->findChild<QCheckBox *>(), Qt::LeftButton, {},
                              QPoint(5, window->findChild<QCheckBox *>()->height() / 2));
        } else if (verb == "busy") {
            window->slot_start_work();
        } else if (verb == "empty") {
            QCOMPARE(table->rowCount(), 0);
        } else if (verb == "clear") {
            click("清除");
        } else if (verb == "delete") {
            table->clearSelection();
            for (const QString &name : names) {
                const QRect cell =
                    table->visualItemRect(table->item(listed_rows().indexOf(name), 0));
                QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier,
                                  cell.center());
            }
            click("删除");
        } else {
            QCOMPARE(drop(names), verb == "drop");
        }
    }
}

// Answers the password dialogs that open from now on, one answer each: types the password
// (in both fields when packing) and accepts, or cancels. Records what each showed: "twice" for
// the packing dialog once its fields behaved (hidden text, OK off while empty or different,
// shown when asked), else its message.
void answer_password_dialogs(QStringList answers, QStringList *seen) {
    if (answers.isEmpty())
        return;
    const auto is_password_dialog = [](QWidget *dialog) {
        return dialog->windowTitle() == "设置密码" || dialog->windowTitle() == "输入密码";
    };
    when_dialog_opens(
        [=](QWidget *dialog) {
            const QList<QLineEdit *> fields = dialog->findChildren<QLineEdit *>();
            QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
            const bool twice = dialog->windowTitle() == "设置密码";
            const QString answer = answers.first();
            if (twice) {
                bool behaved = fields.size() == 2 && !ok->isEnabled();
                for (QLineEdit *field : fields)
                    behaved = behaved && field->echoMode() == QLineEdit::Password;
                QTest::keyClicks(fields[0], answer);
                QTest::keyClicks(fields[1], answer + "x");
                behaved = behaved && !ok->isEnabled();
                QTest::keyClick(fields[1], Qt::Key_Backspace);
                behaved = behaved && ok->isEnabled() == !answer.isEmpty();
                dialog->findChild<QCheckBox *>()->click();
                behaved = behaved && fields[1]->echoMode() == QLineEdit::Normal;
                *seen << (behaved ? "twice" : "misbehaved");
            } else {
                *seen << dialog->findChild<QLabel *>()->text();
                QTest::keyClicks(fields[0], answer);
            }
            answer_password_dialogs(answers.mid(1), seen);
            if (answer == "cancel")
                cancel(dialog);
            else
                ok->click();
        },
        is_password_dialog);
}

// The archive in AddData that is not one of `before`: whether 7-Zip needs `password` for it.
QString archive_made(const QString &password, const QStringList &before) {
    QStringList made = QDir("AddData").entryList({"*.zrvdata"});
    for (const QString &old : before)
        made.removeOne(old);
    if (made.size() != 1)
        return made.join(", ");
    const QString path = "AddData/" + made[0];
    const bool opens = run("7zz", {"t", "-p" + password, path}).exit_code == 0;
    const bool needs = run("7zz", {"t", "-pnot" + password, path}).exit_code != 0;
    return opens && needs ? "protected" : opens ? "plain" : "broken";
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
} urls;

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { startup::prepare_application(*qApp); }
    void init();
    void cleanup();
    void selecting_data(); // first, while the dialogs remember no folder from earlier picks
    void selecting();
    void packing_job();
    void packing_outcomes_data();
    void packing_outcomes();
    void unpacking_job_data();
    void unpacking_job();
    void password_protected_jobs_data();
    void password_protected_jobs();
    void closing_the_window_during_a_job();
    void cancelling_a_long_job_data();
    void cancelling_a_long_job();
    void a_worker_that_cannot_start();
    void program_starts_and_exits_when_closed();
    void installs_as_a_desktop_application();
    void qt_dialogs_speak_the_system_language();
};

void TestWindow::init() {
    ::getrlimit(RLIMIT_FSIZE, &file_size_limit);
    dir = new WorkingFolder;
    sh(dir->path(), "mkdir -p folder Y AddData; touch a.txt b.txt Z.txt '中文 名.txt' a,b.txt "
                    "x.zrvdata plain same folder/inside.txt Y/keep");
    QDesktopServices::setUrlHandler("file", &urls, "open");
    urls.opened.clear();
    window = new Cofferbox;
    startup::prepare_window(*window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    mode_box = window->findChild<QComboBox *>();
    table = window->findChild<QTableWidget *>();
    status_label = qobject_cast<QLabel *>(
        static_cast<QGridLayout *>(window->layout())->itemAtPosition(3, 1)->widget());
}

void TestWindow::cleanup() {
    delete window;
    window = nullptr;
    QDesktopServices::unsetUrlHandler("file");
    delete dir;
    refuse_threads = false;
    ::setrlimit(RLIMIT_FSIZE, &file_size_limit);
    std::signal(SIGXFSZ, SIG_DFL);
}

void TestWindow::selecting_data() {
    // Steps, separated by "; ", then the rows the table shows.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("rows");
    for (const QStringList &row : table_rows(R"(
scenario | steps | rows
the window at start | sees | 
switched to unpacking | mode 解密; sees | 
switched to unpacking and back | mode 解密; mode 加密; sees | 
unpacking chosen again | mode 解密; mode 解密; sees | 
the dialog for files to pack | dialog 添加文件 选择加密的文件|.|All Files (*) | 
the dialog for a folder to pack | dialog 添加文件夹 选择加密的文件|..|All Files (*) | 
the dialog for unpacking | mode 解密; dialog 添加文件 选择解密的文件|AddData|ZRV
    file(*.zrvdata)|ZIP 压缩包 (*.zip)|所有文件 (*) | 
awkward names, each listed once, in code unit order | files . "中文 名.txt" "a,b.txt" "Z.txt";
    files . "a,b.txt" | f:Z.txt, f:a,b.txt, f:中文 名.txt
folders before files, whatever their paths | folder folder; files . "a.txt"; folder Y | d:Y,
    d:folder, f:a.txt
archives, and one typed without its suffix, when unpacking | mode 解密; files . "x.zrvdata"; files
    . "plain" | f:plain, f:x.zrvdata
cleared, nothing comes back at the next rebuild | files . "a.txt"; folder folder; clear; empty;
    delete | 
switching mode and back clears the selection | files . "a.txt"; folder folder; mode 解密; empty;
    mode 加密; files . "b.txt" | f:b.txt
the mode chosen again keeps the selection and shows it | files . "a.txt"; folder folder; mode 加密
    | d:folder, f:a.txt
deleting a file row | files . "a.txt" "b.txt" "same"; sh rm same && mkdir same; folder same; delete
    f:b.txt | d:same, f:a.txt, f:same
deleting the folder row of a path also listed as a file | files . "a.txt" "b.txt" "same"; sh rm same
    && mkdir same; folder same; delete d:same | f:a.txt, f:b.txt, f:same
deleting the file row of a path also listed as a folder | files . "a.txt" "b.txt" "same"; sh rm same
    && mkdir same; folder same; delete f:same f:a.txt | d:same, f:b.txt
deleting with nothing selected | files . "a.txt" "b.txt" "same"; sh rm same && mkdir same; folder
    same; delete | d:same, f:a.txt, f:b.txt, f:same
files dropped | drop b.txt a.txt | f:a.txt, f:b.txt
a folder, a file and a web address dropped | drop a.txt https://example.org/c.zrvdata folder/ |
    d:folder, f:a.txt
only a web address dropped | refuse https://example.org/c.zrvdata | 
only a folder dropped while unpacking | mode 解密; refuse folder | 
an archive and a folder dropped while unpacking | mode 解密; drop folder x.zrvdata | f:x.zrvdata
files dropped while a job runs | busy; refuse a.txt | 
)"))
        QTest::newRow(qPrintable(row[0]))
            << row[1].split("; ") << row[2].split(", ", Qt::SkipEmptyParts);
}

void TestWindow::selecting() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, rows);
    take_steps(steps);
    QCOMPARE(listed_rows(), rows);
}

void TestWindow::packing_job() {
    sh("source", "mkdir -p 文件夹/empty; echo 内容 > '中文 文件.txt'\n"
                 "echo comma > a,b.txt; seq 20000 > 文件夹/inner.txt");
    add_files("source", R"("中文 文件.txt" "a,b.txt")");
    add_folder("source/文件夹");

    const Outcome outcome = run_job();
    QCOMPARE(outcome.text, "文件加密成功");
    QCOMPARE(outcome.status, "正在加密中");
    QCOMPARE(outcome.disabled, QStringList({
                                   "mode 加密 (off)",
                                   "button 添加文件 (off)",
                                   "button 添加文件夹 (off)",
                                   "button 删除 (off)",
                                   "button 清除 (off)",
                                   "check 设置密码 (off)",
                                   "button 加密 (off)",
                               }));
    QCOMPARE(outcome.lines, QStringList{"加密成功"});
    // A job of a moment never shows its progress. Afterwards: idle, with nothing selected.
    QVERIFY(!outcome.progress_shown);
    check_what_a_person_sees();
    QCOMPARE(table->rowCount(), 0);

    // One archive, named after the local time and weekday, that unzip unpacks to the picks.
    const QStringList archives = entries("AddData");
    QCOMPARE(archives.size(), 1);
    const QDate today = QDate::currentDate();
    QVERIFY2(archives[0].contains(QRegularExpression(today.toString("^yyyyMMdd") + "__\\d{6}_" +
                                                     QLocale::system().toString(today, "ddd") +
                                                     "\\.zrvdata$")),
             qPrintable(archives[0]));
    QCOMPARE(outcome.info, "压缩包：AddData/ARCHIVE\n"
                           "压缩包没有设置密码，任何拿到它的人都能打开");
    QCOMPARE(zip_objections("AddData/" + archives[0], 1), QByteArray());
    const CommandResult extracted = run("unzip", {"-q", "AddData/" + archives[0], "-d", "peer"});
    QVERIFY2(extracted.exit_code == 0, extracted.output);
    QCOMPARE(snapshot("peer"), snapshot("source"));
    // The folder button shows where archives go.
    click("加密目录");
    QCOMPARE(urls.opened, QList<QUrl>{QUrl::fromLocalFile(dir->filePath("AddData"))});
}

void TestWindow::packing_outcomes_data() {
    // Steps that pick; the button that answers the question about items that cannot be packed,
    // and the items it lists; the message and its informative lines; what the archive holds.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("info");
    QTest::addColumn<QString>("archived");
    const QString odd = "sh mkdir odd && echo hi > odd/file.txt && mkfifo odd/fifo && ln -s "
                        "../../nowhere odd/gone && python3 -c "
                        "\"__import__('socket').socket(1).bind('odd/socket')\"; folder odd";
    const QString asked = "无法打包“odd/fifo”：它是命名管道（FIFO）\n"
                          "无法打包“odd/gone”：它是链接，指向文件夹之外，"
                          "目标不存在\n"
                          "无法打包“odd/socket”：它是套接字（socket）";
    for (const QStringList &row : table_rows(R"(
scenario | steps | answer | asked | message | info | archived
a FIFO, a socket and a link out to nothing, skipped | ODD | 跳过这些项目并继续 | ASKED |
    文件加密成功 | 压缩包：AddData/ARCHIVE; 有 3
    项无法打包，已跳过，详见详细信息。;
    压缩包没有设置密码，任何拿到它的人都能打开 | odd/ odd/file.txt
the same, cancelled at the question | ODD | 取消 | ASKED | 文件加密失败 | 已取消。 | 
the archive folder is a file | sh rmdir AddData && touch AddData; files . "a.txt" |  |  |
    文件加密失败 | 无法创建目标文件夹“./AddData”：Not a
    directory。请确认所在的文件夹可以写入。 | 
the disk fills | sh head -c 2000000 /dev/urandom > big; files . "big"; limit 262144 |  |  |
    文件加密失败 |
    磁盘空间不足，无法写入“./AddData/ARCHIVE”。请腾出空间后再试。 | 
)"))
        QTest::newRow(qPrintable(row[0]))
            << QString(row[1]).replace("ODD", odd).split("; ") << row[2]
            << QString(row[3]).replace("ASKED", asked) << row[4] << row[5].split("; ") << row[6];
}

void TestWindow::packing_outcomes() {
    QFETCH(QStringList, steps);
    QFETCH(QString, answer);
    QFETCH(QString, asked);
    QFETCH(QString, message);
    QFETCH(QStringList, info);
    QFETCH(QString, archived);
    take_steps(steps);
    QString listed;
    if (!answer.isEmpty())
        answer_question(answer, listed);
    const Outcome outcome = run_job();
    QCOMPARE(listed, asked);
    QCOMPARE(outcome.text, message);
    QCOMPARE(outcome.info.split('\n'), info);
    // The details list what was left out, and the component's English line of a failure.
    const bool skipped = message.endsWith("成功") && !asked.isEmpty();
    QVERIFY2(outcome.details.startsWith(skipped ? "跳过的项目：\n" + asked : ""),
             qPrintable(outcome.details));
    const QRegularExpression english("^(cannot|cancelled)", QRegularExpression::MultilineOption);
    QVERIFY2(message.endsWith("成功") || outcome.details.contains(english),
             qPrintable(outcome.details));
    // What was packed, checked by unzip; nothing at all when the job failed.
    const QStringList archives = QFileInfo("AddData").isDir() ? entries("AddData") : QStringList();
    QCOMPARE(archives.size(), archived.isEmpty() ? 0 : 1);
    if (!archived.isEmpty())
        QCOMPARE(run("unzip", {"-Z1", "AddData/" + archives[0]}).output.split('\n').join(' '),
                 archived.toUtf8() + " ");
}

void TestWindow::unpacking_job_data() {
    // Steps that pick, the message and the lines, what the job made with files' contents, and
    // the informative text's lines: each archive with its outcome.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QStringList>("info");
    for (const QStringList &row : table_rows(R"(
scenario | steps | message | lines | made | info
two archives, one outside the archive folder | mode 解密; files AddData "2026.zrvdata"; files
    elsewhere "a.b.zrvdata" | 文件解密成功 | 解密成功, 解密成功 | AddData/2026,
    AddData/2026/one=1, elsewhere/a, elsewhere/a/two=2 | AddData/2026.zrvdata：已解压到
    AddData/2026; elsewhere/a.b.zrvdata：已解压到 elsewhere/a
a text file renamed, before two good archives | mode 解密; files AddData "1 bad.zrvdata"
    "2026.zrvdata"; files elsewhere "a.b.zrvdata" | 文件解密失败 | 解密失败, 解密成功,
    解密成功 | AddData/2026, AddData/2026/one=1, elsewhere/a, elsewhere/a/two=2 | AddData/1
    bad.zrvdata：压缩包“AddData/1 bad.zrvdata”已损坏：它不是 ZIP
    压缩包，或者不完整。请重新获取这个压缩包。;
    AddData/2026.zrvdata：已解压到 AddData/2026; elsewhere/a.b.zrvdata：已解压到
    elsewhere/a
an entry damaged, after a good archive | mode 解密; files AddData "2026.zrvdata" "z.zrvdata" |
    文件解密失败 | 解密成功, 解密失败 | AddData/2026, AddData/2026/one=1 |
    AddData/2026.zrvdata：已解压到 AddData/2026;
    AddData/z.zrvdata：压缩包“AddData/z.zrvdata”已损坏，条目“年报.txt”：内容\
    与校验值（CRC）不符。请重新获取这个压缩包。
the target's name taken | mode 解密; sh mkdir AddData/2026; files AddData "2026.zrvdata" |
    文件解密成功 | 解密成功 | AddData/2026, AddData/2026 (2), AddData/2026 (2)/one=1 |
    AddData/2026.zrvdata：已解压到 AddData/2026 (2)
)"))
        QTest::newRow(qPrintable(row[0]))
            << row[1].split("; ") << row[2] << row[3].split(", ", Qt::SkipEmptyParts)
            << row[4].split(", ", Qt::SkipEmptyParts) << row[5].split("; ");
}

void TestWindow::unpacking_job() {
    QFETCH(QStringList, steps);
    QFETCH(QString, message);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, made);
    QFETCH(QStringList, info);
    take_steps({"sh printf 1 > one && printf 2 > two && echo junk > 'AddData/1 bad.zrvdata'",
                R"(forge AddData/z.zrvdata [{"name": "年报.txt", "data": "0", "crc": 1}])",
                "pack AddData/2026.zrvdata one", "pack elsewhere/a.b.zrvdata two"});
    const Tree before = snapshot(dir->path());
    take_steps(steps);

    const Outcome outcome = run_job();
    QCOMPARE(outcome.status, "正在解密中");
    QCOMPARE(outcome.text, message);
    QCOMPARE(outcome.lines, lines);
    QCOMPARE(outcome.info.split('\n'), info);
    // The component's own line for each archive that failed.
    QCOMPARE(outcome.details.count("cannot unpack"), lines.count("解密失败"));
    QStringList made_now;
    const Tree after = snapshot(dir->path());
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        if (!before.contains(it.key()))
            made_now << it.key() + (it->type == 'f' ? "=" + it->content : QByteArray());
    QCOMPARE(made_now, made);
    QCOMPARE(after.size(), before.size() + made.size()); // and nothing went
    // Still unpacking: the folder button stays off.
    QCOMPARE(disabled_controls(), QStringList{"button 添加文件夹 (off)"});
}

void TestWindow::password_protected_jobs_data() {
    // Steps that pick; the answers to the password dialogs in turn (a password, or "cancel");
    // what they showed; the message ("none" when no job ran); the new files and archive, or
    // when no job ran, the rows the table keeps. Archives p and q, protected by "pw", are made
    // first.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("made");
    for (const QStringList &row : table_rows(R"(
scenario | steps | answers | seen | message | made
packing, the box left off | files . "a.txt" |  |  | 文件加密成功 | plain
packing, a password typed twice | files . "a.txt"; tick | s3cret | twice | 文件加密成功 |
    protected
packing, the dialog cancelled | files . "a.txt"; tick | cancel | twice | none | f:a.txt
unpacking, wrong then right | mode 解密; files . "p.zrvdata" | bad, pw | ASK, WRONG |
    文件解密成功 | p/one=1
unpacking, wrong, given up | mode 解密; files . "p.zrvdata" | bad, cancel | ASK, WRONG |
    文件解密失败 | 
two, asked once | mode 解密; files . "p.zrvdata" "q.zrvdata" | pw | ASK | 文件解密成功 |
    p/one=1, q/one=1
)"))
        QTest::newRow(qPrintable(row[0]))
            << QStringList{"pack p.zrvdata one pw", "pack q.zrvdata one pw"} + row[1].split("; ")
            << row[2].split(", ", Qt::SkipEmptyParts)
            << QString(row[3])
                   .replace("ASK", "“p.zrvdata”受密码保护，请输入密码：")
                   .replace("WRONG", "密码错误，请重新输入。"
                                     "“p.zrvdata”受密码保护，请输入密码：")
                   .split(", ", Qt::SkipEmptyParts)
            << row[4] << row[5].split(", ", Qt::SkipEmptyParts);
}

void TestWindow::password_protected_jobs() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, seen);
    QFETCH(QString, message);
    QFETCH(QStringList, made);
    sh(".", "printf 1 > one");
    take_steps(steps);
    const QStringList archives_before = QDir("AddData").entryList({"*.zrvdata"});
    const Tree before = snapshot(dir->path());
    QStringList shown;
    answer_password_dialogs(answers, &shown);
    if (message == "none") {
        click("加密");
        QCOMPARE(listed_rows(), made);
        QCOMPARE(snapshot(dir->path()), before);
    } else {
        QCOMPARE(run_job().text, message);
        QStringList made_now;
        const Tree after = snapshot(dir->path());
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            if (!before.contains(it.key()) && it->type == 'f' && !it.key().endsWith(".zrvdata"))
                made_now << it.key() + "=" + it->content;
        if (mode_box->currentText() == "加密")
            made_now << archive_made(answers.value(0), archives_before);
        QCOMPARE(made_now, made);
    }
    QCOMPARE(shown, seen);
    QCOMPARE(QDir("AddData").entryList({"*.zrvdata"}).size() - archives_before.size(),
             int(mode_box->currentText() == "加密" && message != "none"));
}

void TestWindow::closing_the_window_during_a_job() {
    sh("long", "truncate -s 1G zeros");
    add_files("long", "zeros");
    click("加密");
    QCOMPARE(status_label->text(), "正在加密中");
    // The person closes the window; the program then destroys it, as it does on exit. The job
    // was cancelled and waited for: it left nothing, and no result went to the window.
    window->close();
    delete window;
    window = nullptr;
    QCoreApplication::processEvents(); // a message box here would wait for ever
    QCOMPARE(entries("AddData"), QStringList());
}

void TestWindow::cancelling_a_long_job_data() {
    // Steps that pick 3 GB of zeros, alone or with 3,000 small files that keep every compressor
    // busy, or as the second of three archives; and how the person cancels.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("how");
    for (const QStringList &row : table_rows(R"(
scenario | steps | how
packing a large file, cancelled with the button | files long "zeros" | 取消
packing a large file, cancelled by closing the main window | files long "zeros" | main
packing with many small files, cancelled with Escape | files long "zeros"; sh mkdir small && head -c
    120000000 /dev/urandom > big && split -a 4 -b 40000 big small/ && rm big; folder small | Escape
unpacking the second of three archives, cancelled by closing the window | pack AddData/a.zrvdata
    a.txt; pack AddData/b.zrvdata long/zeros; pack AddData/c.zrvdata a.txt; mode 解密; files
    AddData "a.zrvdata" "b.zrvdata" "c.zrvdata" | close
)"))
        QTest::newRow(qPrintable(row[0])) << row[1].split("; ") << row[2];
}

void TestWindow::cancelling_a_long_job() {
    QFETCH(QStringList, steps);
    QFETCH(QString, how);
    sh("long", "truncate -s 3G zeros; echo kept > ../AddData/old.zrvdata");
    take_steps(steps);
    const bool packing = mode_box->currentText() == "加密";
    const QStringList before = entries("AddData");
    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = run_job([&] {
        // The progress window comes after about a second, over the main window: bytes done of
        // the 3 GB or so in hand, which archive of how many, and a bar that moves.
        QTRY_VERIFY_WITH_TIMEOUT(progress_window() != nullptr, 30000);
        QVERIFY(clock.elapsed() >= 900);
        QDialog *progress = progress_window();
        QCOMPARE(progress->windowTitle(), packing ? "正在加密中" : "正在解密中");
        QCOMPARE(progress->windowModality(), Qt::NonModal);
        QTRY_VERIFY(controls(progress).join('\n').contains(" / 3."));
        QTRY_VERIFY(packing || controls(progress).contains("label 第 2 个归档，共 3 个"));
        auto *bar = progress->findChild<QProgressBar *>();
        QTRY_VERIFY(bar->value() > 0);
        const int seen = bar->value();
        QTRY_VERIFY(bar->value() > seen);
        if (how == "Escape")
            QTest::keyClick(progress, Qt::Key_Escape);
        else if (how == "close")
            progress->close();
        else if (how == "main")
            close_main_window();
        else
            click(how, progress);
    });
    // The progress window went with a closed main window; shown again, it reads as before.
    QCOMPARE(progress_window(), nullptr);
    window->show();
    QCOMPARE(outcome.text, packing ? "文件加密失败" : "文件解密失败");
    QCOMPARE(outcome.info, packing ? "已取消。"
                                   : "AddData/a.zrvdata：已解压到 AddData/a\n"
                                     "AddData/b.zrvdata：已取消。\n"
                                     "AddData/c.zrvdata：已取消，没有解压。");
    QCOMPARE(outcome.lines,
             packing ? QStringList{"加密失败"} : QStringList({"解密成功", "解密失败"}));
    // Nothing of the cancelled call is left: no archive, no temporary file, no staging folder;
    // the archive unpacked before it stays, the one after it was never started.
    QCOMPARE(entries("AddData"), packing ? before : QStringList({"a"}) + before);
    check_what_a_person_sees();
    QCOMPARE(table->rowCount(), 0);
}

void TestWindow::a_worker_that_cannot_start() {
    add_files(".", "a.txt");
    refuse_threads = true;
    QCOMPARE(run_job().text, "文件加密失败");
    // The window is handed back, with the selection kept for another try; closing it then does
    // not wait for a job that never ran (a hang fails by Qt Test's timeout).
    QCOMPARE(disabled_controls(), QStringList());
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(progress_window(), nullptr);
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
    const QString ignores_sigxfsz =
        "(( 0x$(awk '/SigIgn/ {print $2}' /proc/%1/status) >> %2 & 1 ))";
    QTRY_VERIFY(
        run("bash", {"-c", ignores_sigxfsz.arg(program.processId()).arg(SIGXFSZ - 1)}).exit_code ==
        0);
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
    // Exactly the application, no tests, benchmarks or libraries; what the desktop's own tools
    // accept: its entry, metainfo and file type, which the type lookup then finds.
    QVERIFY(pack({dir->filePath("a.txt")}, {}, "packed.zrvdata"));
    const CommandResult checked = run("bash", {"-euc",
                                               QString(R"(cd "$1"
cmake --install %1 --prefix usr > /dev/null; cd usr
diff <(find . -type f | sort) <(printf '%s\n' ./bin/cofferbox ./share/applications/%2.desktop \
  ./share/doc/cofferbox/copyright ./share/icons/hicolor/scalable/apps/%2.svg \
  ./share/metainfo/%2.metainfo.xml ./share/mime/packages/%2.xml)
cd share; desktop-file-validate applications/%2.desktop
appstreamcli validate --no-net metainfo/%2.metainfo.xml
update-mime-database mime; export XDG_DATA_DIRS=$PWD:/usr/share XDG_DATA_HOME=$PWD/none
gio info -a standard::content-type ../../packed.zrvdata | grep 'type: application/x-zrvdata')")
                                                   .arg(BUILD_DIR, startup::application_id),
                                               "check", dir->path()});
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
