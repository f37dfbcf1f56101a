// Picking files, folders and archives through the real dialogs, and what the table shows.
#include "testsupport.h"
#include "window/cofferbox.h"
#include "windowdriver.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

using namespace windowdriver;
using testsupport::write_file;

namespace {

QString file_row(const QString &path) {
    return path + QStringLiteral("|文件|file|") + path;
}
QString folder_row(const QString &path) {
    return path + QStringLiteral("|文件夹|dir|") + path;
}

} // namespace

class TestSelection : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void adding_files_data();
    void adding_files();
    void folders_come_before_files_in_code_unit_order();
    void dialogs_data();
    void dialogs();
    void mode_switch_empties_the_view_and_keeps_the_selection_data();
    void mode_switch_empties_the_view_and_keeps_the_selection();
    void deleting_rows_data();
    void deleting_rows();
    void clearing_empties_everything();

private:
    void add_files(const QString &folder, const QString &typed) {
        windowdriver::add_files(window, folder, typed);
    }
    void add_folder(const QString &path) { windowdriver::add_folder(window, path); }

    testsupport::WorkingFolder *dir = nullptr;
    Cofferbox *window = nullptr;
};

void TestSelection::init() {
    dir = new testsupport::WorkingFolder;
    window = open_window();
}

void TestSelection::cleanup() {
    delete window;
    delete dir;
}

void TestSelection::adding_files_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("one file") << "加密" << QStringList{"a.txt"} << "a.txt" << QStringList{"a.txt"};
    QTest::newRow("several files, awkward names")
        << "加密" << QStringList{"中文 名.txt", "a,b.txt", "-dash.txt"}
        << R"("中文 名.txt" "a,b.txt" "-dash.txt")"
        << QStringList{"-dash.txt", "a,b.txt", "中文 名.txt"};
    QTest::newRow("archives when unpacking")
        << "解密" << QStringList{"x.zrvdata", "y.zrvdata"} << R"("x.zrvdata" "y.zrvdata")"
        << QStringList{"x.zrvdata", "y.zrvdata"};
    QTest::newRow("archive typed without its suffix")
        << "解密" << QStringList{"plain"} << "plain" << QStringList{"plain"};
}

void TestSelection::adding_files() {
    QFETCH(QString, mode);
    QFETCH(QStringList, names);
    QFETCH(QString, typed);
    QFETCH(QStringList, listed);
    const QString folder = dir->filePath(QStringLiteral("in"));
    for (const QString &name : names)
        write_file(folder + QLatin1Char('/') + name, "x");
    choose_mode(window, mode);

    add_files(folder, typed);
    // The same file once more is still listed once.
    add_files(folder, typed);

    QStringList expected;
    for (const QString &name : listed)
        expected << file_row(folder + QLatin1Char('/') + name);
    QCOMPARE(rows(table(window)), expected);
}

void TestSelection::folders_come_before_files_in_code_unit_order() {
    const QString root = dir->path();
    write_file(root + QStringLiteral("/A/Z.txt"), "x");
    write_file(root + QStringLiteral("/A/a.txt"), "x");
    write_file(root + QStringLiteral("/A/b/keep"), "x");
    write_file(root + QStringLiteral("/z/keep"), "x");
    write_file(root + QStringLiteral("/Y/keep"), "x");

    add_folder(root + QStringLiteral("/z"));
    add_files(root + QStringLiteral("/A"), QStringLiteral("\"a.txt\" \"Z.txt\""));
    add_folder(root + QStringLiteral("/Y"));
    add_folder(root + QStringLiteral("/A/b"));

    QCOMPARE(rows(table(window)), QStringList({folder_row(root + "/A/b"), folder_row(root + "/Y"),
                                               folder_row(root + "/z"), file_row(root + "/A/Z.txt"),
                                               file_row(root + "/A/a.txt")}));
}

void TestSelection::dialogs_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("button_text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("start_folder");
    QTest::addColumn<QStringList>("filters");
    const QStringList all_files{"All Files (*)"};
    QTest::newRow("files to pack") << "加密"
                                   << "添加文件"
                                   << "选择加密的文件"
                                   << "" << all_files;
    // With no start folder, the folder dialog shows the working folder selected in its parent.
    QTest::newRow("folder to pack") << "加密"
                                    << "添加文件夹"
                                    << "选择加密的文件"
                                    << ".." << all_files;
    QTest::newRow("archives to unpack") << "解密"
                                        << "添加文件"
                                        << "选择解密的文件"
                                        << "AddData" << QStringList{"ZRV file(*.zrvdata)"};
}

void TestSelection::dialogs() {
    QFETCH(QString, mode);
    QFETCH(QString, button_text);
    QFETCH(QString, caption);
    QFETCH(QString, start_folder);
    QFETCH(QStringList, filters);
    QDir().mkpath(dir->filePath(QStringLiteral("AddData")));
    choose_mode(window, mode);
    QString shown_caption, shown_folder;
    QStringList shown_filters;
    when_dialog_opens([&](QWidget *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(files != nullptr);
        shown_caption = files->windowTitle();
        shown_folder = files->directory().absolutePath();
        shown_filters = files->nameFilters();
        cancel(dialog);
    });
    QTest::mouseClick(button(window, button_text), Qt::LeftButton);
    QCOMPARE(shown_caption, caption);
    QCOMPARE(shown_folder, QDir::cleanPath(QDir(dir->path()).absoluteFilePath(start_folder)));
    QCOMPARE(shown_filters, filters);
}

void TestSelection::mode_switch_empties_the_view_and_keeps_the_selection_data() {
    QTest::addColumn<QString>("switch_to");
    QTest::addColumn<QString>("rebuild");
    QTest::newRow("to unpacking, cancelled dialog") << "解密"
                                                    << "cancel";
    QTest::newRow("packing chosen again, delete with nothing selected") << "加密"
                                                                        << "delete";
}

void TestSelection::mode_switch_empties_the_view_and_keeps_the_selection() {
    QFETCH(QString, switch_to);
    QFETCH(QString, rebuild);
    write_file(dir->filePath(QStringLiteral("f.txt")), "x");
    QDir().mkpath(dir->filePath(QStringLiteral("folder")));
    add_files(dir->path(), QStringLiteral("f.txt"));
    add_folder(dir->filePath(QStringLiteral("folder")));
    const QStringList before = rows(table(window));
    QCOMPARE(before.size(), 2);

    choose_mode(window, switch_to);
    QCOMPARE(table(window)->rowCount(), 0);

    if (rebuild == QLatin1String("cancel")) {
        when_dialog_opens([](QWidget *dialog) { cancel(dialog); });
        QTest::mouseClick(button(window, QStringLiteral("添加文件")), Qt::LeftButton);
    } else {
        QTest::mouseClick(button(window, QStringLiteral("删除")), Qt::LeftButton);
    }
    QCOMPARE(rows(table(window)), before);
}

void TestSelection::deleting_rows_data() {
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("one file row") << QStringList{"file:b.txt"}
                                  << QStringList{"dir:same", "file:a.txt", "file:same"};
    QTest::newRow("several rows") << QStringList{"file:a.txt", "file:b.txt"}
                                  << QStringList{"dir:same", "file:same"};
    QTest::newRow("folder row of a path also listed as a file")
        << QStringList{"dir:same"} << QStringList{"file:a.txt", "file:b.txt", "file:same"};
    QTest::newRow("file row of a path also listed as a folder")
        << QStringList{"file:same"} << QStringList{"dir:same", "file:a.txt", "file:b.txt"};
    QTest::newRow("nothing selected")
        << QStringList{} << QStringList{"dir:same", "file:a.txt", "file:b.txt", "file:same"};
}

void TestSelection::deleting_rows() {
    QFETCH(QStringList, selected);
    QFETCH(QStringList, left);
    // "same" is listed twice under one path: first picked as a file, then, once a folder had
    // taken its place, as a folder. Deleting goes by the row's kind.
    const QString files = dir->path();
    for (const char *name : {"a.txt", "b.txt", "same"})
        write_file(files + QLatin1Char('/') + QString::fromUtf8(name), "x");
    add_files(files, QStringLiteral("\"a.txt\" \"b.txt\" \"same\""));
    QVERIFY(QFile::remove(dir->filePath(QStringLiteral("same"))));
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("same"))));
    add_folder(dir->filePath(QStringLiteral("same")));

    auto row_of = [&](const QString &tagged) {
        const QString path = files + QLatin1Char('/') + tagged.section(QLatin1Char(':'), 1);
        return tagged.startsWith(QLatin1String("dir:")) ? folder_row(path) : file_row(path);
    };
    QTableWidget *view = table(window);
    view->clearSelection();
    for (const QString &tagged : selected) {
        const int row = rows(view).indexOf(row_of(tagged));
        QVERIFY(row >= 0);
        const QRect cell = view->visualItemRect(view->item(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, cell.center());
    }
    QTest::mouseClick(button(window, QStringLiteral("删除")), Qt::LeftButton);

    QStringList expected;
    for (const QString &tagged : left)
        expected << row_of(tagged);
    QCOMPARE(rows(view), expected);
}

void TestSelection::clearing_empties_everything() {
    write_file(dir->filePath(QStringLiteral("f.txt")), "x");
    add_files(dir->path(), QStringLiteral("f.txt"));
    add_folder(dir->path());
    QCOMPARE(table(window)->rowCount(), 2);

    QTest::mouseClick(button(window, QStringLiteral("清除")), Qt::LeftButton);
    QCOMPARE(table(window)->rowCount(), 0);
    // Nothing comes back at the next rebuild: the selection itself is gone.
    QTest::mouseClick(button(window, QStringLiteral("删除")), Qt::LeftButton);
    QCOMPARE(table(window)->rowCount(), 0);
}

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
