// Picking files, folders and archives through the real dialogs and by dropping them, and what
// the table then shows.
#include "testsupport.h"
#include "window/cofferbox.h"
#include "windowdriver.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QTest>

using namespace windowdriver;
using testsupport::write_file;

class TestSelection : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    // First, while the dialogs remember no folder from earlier picks.
    void dialogs_data();
    void dialogs();
    void adding_data();
    void adding();
    void mode_switch_empties_the_view_and_keeps_the_selection();
    void deleting_rows_data();
    void deleting_rows();
    void dropping_data();
    void dropping();

private:
    // "d:name" for a folder row, "f:name" for a file row, names in the working folder.
    QStringList expected_rows(const QStringList &tagged) const;

    testsupport::WorkingFolder *dir = nullptr;
    Cofferbox *window = nullptr;
};

void TestSelection::init() {
    dir = new testsupport::WorkingFolder;
    for (const char *name : {"a.txt", "b.txt", "Z.txt", "中文 名.txt", "a,b.txt", "x.zrvdata",
                             "plain", "folder/inside.txt", "Y/keep"})
        write_file(dir->filePath(name), "x");
    window = open_window();
}

void TestSelection::cleanup() {
    delete window;
    delete dir;
}

QStringList TestSelection::expected_rows(const QStringList &tagged) const {
    QStringList result;
    for (const QString &row : tagged) {
        const QString path = dir->filePath(row.mid(2));
        result << path +
                      (row.startsWith(QLatin1String("d:")) ? QStringLiteral("|文件夹|dir|")
                                                           : QStringLiteral("|文件|file|")) +
                      path;
    }
    return result;
}

void TestSelection::adding_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("typed"); // a file name typed in, or "d:" and a folder
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("awkward names, each listed once, in code unit order")
        << "加密" << QStringList{R"("中文 名.txt" "a,b.txt" "Z.txt")", R"("a,b.txt")"}
        << QStringList{"f:Z.txt", "f:a,b.txt", "f:中文 名.txt"};
    QTest::newRow("folders before files, whatever their paths")
        << "加密" << QStringList{"d:folder", "a.txt", "d:Y"}
        << QStringList{"d:Y", "d:folder", "f:a.txt"};
    QTest::newRow("archives, and one typed without its suffix, when unpacking")
        << "解密" << QStringList{"x.zrvdata", "plain"} << QStringList{"f:plain", "f:x.zrvdata"};
}

void TestSelection::adding() {
    QFETCH(QString, mode);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, rows);
    choose_mode(window, mode);
    for (const QString &name : typed) {
        if (name.startsWith(QLatin1String("d:")))
            add_folder(window, dir->filePath(name.mid(2)));
        else
            add_files(window, dir->path(), name);
    }
    QCOMPARE(windowdriver::rows(table(window)), expected_rows(rows));
    QTest::mouseClick(button(window, QStringLiteral("清除")), Qt::LeftButton);
    QCOMPARE(table(window)->rowCount(), 0);
    // Nothing comes back at the next rebuild: the selection itself is gone.
    QTest::mouseClick(button(window, QStringLiteral("删除")), Qt::LeftButton);
    QCOMPARE(table(window)->rowCount(), 0);
}

void TestSelection::dialogs_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("button_text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("start_folder");
    QTest::addColumn<QStringList>("filters");
    QTest::newRow("files to pack") << "加密"
                                   << "添加文件"
                                   << "选择加密的文件"
                                   << "" << QStringList{"All Files (*)"};
    // With no start folder, the folder dialog shows the working folder selected in its parent.
    QTest::newRow("folder to pack") << "加密"
                                    << "添加文件夹"
                                    << "选择加密的文件"
                                    << ".." << QStringList{"All Files (*)"};
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
        shown_caption = files->windowTitle();
        shown_folder = files->directory().absolutePath();
        shown_filters = files->nameFilters();
        cancel(dialog);
    });
    QTest::mouseClick(button(window, button_text), Qt::LeftButton);
    QCOMPARE(shown_caption, caption);
    QCOMPARE(shown_folder, QDir::cleanPath(QDir(dir->path()).absoluteFilePath(start_folder)));
    QCOMPARE(shown_filters, filters);
    // Cancelled, the dialog adds nothing.
    QCOMPARE(table(window)->rowCount(), 0);
}

void TestSelection::mode_switch_empties_the_view_and_keeps_the_selection() {
    add_files(window, dir->path(), QStringLiteral("a.txt"));
    add_folder(window, dir->filePath(QStringLiteral("folder")));
    const QStringList before = rows(table(window));
    choose_mode(window, QStringLiteral("解密"));
    QCOMPARE(table(window)->rowCount(), 0);
    // A cancelled dialog rebuilds the view from the selection, which was kept.
    when_dialog_opens([](QWidget *dialog) { cancel(dialog); });
    QTest::mouseClick(button(window, QStringLiteral("添加文件")), Qt::LeftButton);
    QCOMPARE(rows(table(window)), before);
}

void TestSelection::deleting_rows_data() {
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("one file row") << QStringList{"f:b.txt"}
                                  << QStringList{"d:same", "f:a.txt", "f:same"};
    QTest::newRow("folder row of a path also listed as a file")
        << QStringList{"d:same"} << QStringList{"f:a.txt", "f:b.txt", "f:same"};
    QTest::newRow("file row of a path also listed as a folder")
        << QStringList{"f:same", "f:a.txt"} << QStringList{"d:same", "f:b.txt"};
    QTest::newRow("nothing selected")
        << QStringList{} << QStringList{"d:same", "f:a.txt", "f:b.txt", "f:same"};
}

void TestSelection::deleting_rows() {
    QFETCH(QStringList, selected);
    QFETCH(QStringList, left);
    // "same" is listed twice under one path: first picked as a file, then, once a folder had
    // taken its place, as a folder. Deleting goes by the row's kind.
    write_file(dir->filePath(QStringLiteral("same")), "x");
    add_files(window, dir->path(), QStringLiteral(R"("a.txt" "b.txt" "same")"));
    QVERIFY(QFile::remove(dir->filePath(QStringLiteral("same"))));
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("same"))));
    add_folder(window, dir->filePath(QStringLiteral("same")));

    QTableWidget *view = table(window);
    view->clearSelection();
    for (const QString &row : expected_rows(selected)) {
        const QRect cell = view->visualItemRect(view->item(rows(view).indexOf(row), 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, cell.center());
    }
    QTest::mouseClick(button(window, QStringLiteral("删除")), Qt::LeftButton);
    QCOMPARE(rows(view), expected_rows(left));
}

void TestSelection::dropping_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QStringList>("dropped"); // names in the working folder, or URLs
    QTest::addColumn<bool>("offers_copy");
    QTest::addColumn<QStringList>("rows");
    const QString web = QStringLiteral("https://example.org/c.zrvdata");
    QTest::newRow("files while packing") << "加密" << false << QStringList{"b.txt", "a.txt"} << true
                                         << QStringList{"f:a.txt", "f:b.txt"};
    QTest::newRow("folder, file and a web address while packing")
        << "加密" << false << QStringList{"a.txt", web, "folder/"} << true
        << QStringList{"d:folder", "f:a.txt"};
    QTest::newRow("only a web address")
        << "加密" << false << QStringList{web} << false << QStringList{};
    QTest::newRow("only a folder while unpacking")
        << "解密" << false << QStringList{"folder"} << false << QStringList{};
    QTest::newRow("an archive and a folder while unpacking")
        << "解密" << false << QStringList{"folder", "x.zrvdata"} << true
        << QStringList{"f:x.zrvdata"};
    QTest::newRow("files while a job runs")
        << "加密" << true << QStringList{"a.txt"} << false << QStringList{};
}

void TestSelection::dropping() {
    QFETCH(QString, mode);
    QFETCH(bool, busy);
    QFETCH(QStringList, dropped);
    QFETCH(bool, offers_copy);
    QFETCH(QStringList, rows);
    choose_mode(window, mode);
    if (busy)
        window->slot_start_work();
    QList<QUrl> urls;
    for (const QString &name : dropped)
        urls << (name.contains(QLatin1Char(':')) ? QUrl(name)
                                                 : QUrl::fromLocalFile(dir->filePath(name)));
    QMimeData data;
    data.setUrls(urls);

    // Dragged over the table and dropped there, as from a file manager.
    QWidget *target = table(window)->viewport();
    const QPoint point = target->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QCOMPARE(enter.isAccepted() && enter.dropAction() == Qt::CopyAction, offers_copy);
    QDropEvent drop(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCOMPARE(windowdriver::rows(table(window)), expected_rows(rows));
}

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
