// The window as built: its layout, meta-object, texts, mode switch and start-up.
#include "testsupport.h"
#include "window/cofferbox.h"
#include "windowdriver.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMetaMethod>
#include <QProcess>
#include <QTest>

#include <QTextLayout>
#include <csignal>

using namespace windowdriver;

namespace {

// A readable name for what sits in a grid cell: how a person would point at it.
QString describe(QLayoutItem *item) {
    if (item->layout() != nullptr)
        return QStringLiteral("button row");
    QWidget *widget = item->widget();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return QStringLiteral("label ") + label->text();
    if (auto *push = qobject_cast<QPushButton *>(widget))
        return QStringLiteral("button ") + push->text();
    if (qobject_cast<QComboBox *>(widget))
        return QStringLiteral("mode box");
    if (qobject_cast<QTableWidget *>(widget))
        return QStringLiteral("table");
    return QStringLiteral("?");
}

// Every item of `grid` as "description@row,column,rowspan,columnspan,alignment".
QStringList cells(QGridLayout *grid) {
    QStringList result;
    for (int i = 0; i < grid->count(); ++i) {
        int row, column, row_span, column_span;
        grid->getItemPosition(i, &row, &column, &row_span, &column_span);
        result << QStringLiteral("%1@%2,%3,%4,%5,%6")
                      .arg(describe(grid->itemAt(i)))
                      .arg(row)
                      .arg(column)
                      .arg(row_span)
                      .arg(column_span)
                      .arg(int(grid->itemAt(i)->alignment()));
    }
    result.sort();
    return result;
}

QString cell(const QString &what, int row, int column, int row_span, int column_span,
             Qt::Alignment alignment) {
    return QStringLiteral("%1@%2,%3,%4,%5,%6")
        .arg(what)
        .arg(row)
        .arg(column)
        .arg(row_span)
        .arg(column_span)
        .arg(int(alignment));
}

struct ShownTexts : QObject {
    QStringList run_button_texts;
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Show)
            run_button_texts << windowdriver::button(static_cast<QWidget *>(watched),
                                                     run_button_text(watched))
                                    ->text();
        return false;
    }
    static QString run_button_text(QObject *window) {
        for (auto *candidate : window->findChildren<QPushButton *>()) {
            if (candidate->text().startsWith(QStringLiteral("加密")) &&
                candidate->text() != QStringLiteral("加密目录"))
                return candidate->text();
        }
        return QString();
    }
};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void grid_cells_data();
    void grid_cells();
    void grid_rows_and_columns_data();
    void grid_rows_and_columns();
    void opens_in_packing_mode();
    void meta_object();
    void mode_switch_data();
    void mode_switch();
    void never_shown_with_the_placeholder_run_text();
    void texts_render_with_a_font_that_has_them();
    void program_starts_and_exits_when_closed_data();
    void program_starts_and_exits_when_closed();

private:
    Cofferbox *window = nullptr;
};

void TestWindow::init() {
    window = open_window();
}

void TestWindow::cleanup() {
    delete window;
    window = nullptr;
}

void TestWindow::grid_cells_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QStringList>("expected");
    const QString hint = QStringLiteral("添加一部分文件和文件夹，可以打包加密。");
    QTest::newRow("window grid")
        << "main"
        << QStringList{cell(QStringLiteral("label 选择类型："), 0, 1, 1, 1, Qt::AlignLeft),
                       cell(QStringLiteral("mode box"), 0, 2, 1, 1, Qt::AlignLeft),
                       cell(QStringLiteral("label ") + hint, 0, 3, 1, 1, Qt::AlignLeft),
                       cell(QStringLiteral("table"), 1, 1, 1, 4, {}),
                       cell(QStringLiteral("button row"), 2, 0, 1, 4, {}),
                       cell(QStringLiteral("button 加密"), 3, 3, 1, 1, Qt::AlignRight),
                       cell(QStringLiteral("label "), 3, 1, 1, 1, Qt::AlignLeft)};
    QTest::newRow("button row")
        << "buttons"
        << QStringList{cell(QStringLiteral("button 添加文件"), 0, 1, 1, 1, Qt::AlignRight),
                       cell(QStringLiteral("button 添加文件夹"), 0, 2, 1, 1, Qt::AlignRight),
                       cell(QStringLiteral("button 删除"), 0, 3, 1, 1, Qt::AlignRight),
                       cell(QStringLiteral("button 清除"), 0, 4, 1, 1, Qt::AlignRight),
                       cell(QStringLiteral("button 加密目录"), 0, 5, 1, 1, Qt::AlignRight)};
}

void TestWindow::grid_cells() {
    QFETCH(QString, which);
    QFETCH(QStringList, expected);
    auto *grid = qobject_cast<QGridLayout *>(window->layout());
    QVERIFY(grid != nullptr);
    if (which == QLatin1String("buttons"))
        grid = qobject_cast<QGridLayout *>(grid->itemAtPosition(2, 0)->layout());
    QVERIFY(grid != nullptr);
    expected.sort();
    QCOMPARE(cells(grid), expected);
}

void TestWindow::grid_rows_and_columns_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QList<int>>("row_stretches");
    QTest::addColumn<QList<int>>("row_minimums");
    QTest::addColumn<QList<int>>("column_stretches");
    QTest::addColumn<QList<int>>("column_minimums");
    QTest::newRow("window grid") << "main" << QList<int>{0, 1, 0, 0} << QList<int>{30, 0, 30, 30}
                                 << QList<int>{0, 0, 0, 1, 0} << QList<int>{20, 80, 80, 0, 0};
    QTest::newRow("button row") << "buttons" << QList<int>{0, 1, 1, 1} << QList<int>{30, 0, 0, 0}
                                << QList<int>{0, 0, 0, 0, 0, 0} << QList<int>{0, 0, 0, 0, 0, 0};
}

void TestWindow::grid_rows_and_columns() {
    QFETCH(QString, which);
    QFETCH(QList<int>, row_stretches);
    QFETCH(QList<int>, row_minimums);
    QFETCH(QList<int>, column_stretches);
    QFETCH(QList<int>, column_minimums);
    auto *grid = qobject_cast<QGridLayout *>(window->layout());
    if (which == QLatin1String("buttons"))
        grid = qobject_cast<QGridLayout *>(grid->itemAtPosition(2, 0)->layout());
    QVERIFY(grid != nullptr);
    QList<int> actual_row_stretches, actual_row_minimums, actual_column_stretches,
        actual_column_minimums;
    for (int row = 0; row < grid->rowCount(); ++row) {
        actual_row_stretches << grid->rowStretch(row);
        actual_row_minimums << grid->rowMinimumHeight(row);
    }
    for (int column = 0; column < grid->columnCount(); ++column) {
        actual_column_stretches << grid->columnStretch(column);
        actual_column_minimums << grid->columnMinimumWidth(column);
    }
    QCOMPARE(actual_row_stretches, row_stretches);
    QCOMPARE(actual_row_minimums, row_minimums);
    QCOMPARE(actual_column_stretches, column_stretches);
    QCOMPARE(actual_column_minimums, column_minimums);
}

void TestWindow::opens_in_packing_mode() {
    QCOMPARE(window->size(), QSize(600, 420));
    QCOMPARE(window->windowTitle(), QString());
    QCOMPARE(mode_box(window)->currentText(), QStringLiteral("加密"));
    QCOMPARE(mode_box(window)->count(), 2);
    QCOMPARE(mode_box(window)->itemText(1), QStringLiteral("解密"));
    QVERIFY(!mode_box(window)->itemData(0).isValid());
    QCOMPARE(status_label(window)->text(), QString());
    for (QWidget *control : window->findChildren<QWidget *>())
        QVERIFY2(control->isEnabled(), qPrintable(control->metaObject()->className()));
    QTableWidget *files = table(window);
    QCOMPARE(files->rowCount(), 0);
    QCOMPARE(files->columnCount(), 2);
    QCOMPARE(files->horizontalHeaderItem(0)->text(), QStringLiteral("文件名"));
    QCOMPARE(files->horizontalHeaderItem(1)->text(), QStringLiteral("文件类型"));
    QCOMPARE(files->columnWidth(0), 450);
    QVERIFY(files->horizontalHeader()->isVisible());
    QVERIFY(!files->verticalHeader()->isVisible());
    QVERIFY(files->horizontalHeader()->stretchLastSection());
    QCOMPARE(files->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(files->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(files->selectionMode(), QAbstractItemView::ExtendedSelection);
}

void TestWindow::meta_object() {
    const QMetaObject *meta = window->metaObject();
    QCOMPARE(meta->className(), "Cofferbox");
    QCOMPARE(window->qt_metacast("Cofferbox"), static_cast<void *>(window));
    QCOMPARE(window->qt_metacast("QWidget"), static_cast<void *>(static_cast<QWidget *>(window)));
    QCOMPARE(qobject_cast<Cofferbox *>(static_cast<QObject *>(window)), window);

    const QList<QByteArray> expected = {"signal_end_work(QVariant)",
                                        "slot_select_file()",
                                        "slot_select_dir()",
                                        "slot_del_select()",
                                        "slot_del_all()",
                                        "slot_open_dir()",
                                        "slot_encryption()",
                                        "slot_textChanged(QString)",
                                        "slot_start_work()",
                                        "slot_end_work(QVariant)"};
    QList<QByteArray> actual;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        actual << meta->method(i).methodSignature();
    QCOMPARE(actual, expected);
    const QMetaMethod signal = meta->method(meta->methodOffset());
    QCOMPARE(signal.methodType(), QMetaMethod::Signal);
    QCOMPARE(signal.access(), QMetaMethod::Protected);
    const QMetaMethod mode_slot = meta->method(meta->indexOfSlot("slot_textChanged(QString)"));
    QCOMPARE(mode_slot.parameterNames(), QList<QByteArray>{"str"});
    for (int i = meta->methodOffset() + 1; i < meta->methodCount(); ++i) {
        QCOMPARE(meta->method(i).methodType(), QMetaMethod::Slot);
        QCOMPARE(meta->method(i).access(), QMetaMethod::Public);
    }
}

void TestWindow::mode_switch_data() {
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<bool>("packing");
    QTest::newRow("to unpacking") << QStringList{"解密"} << false;
    QTest::newRow("to unpacking and back") << QStringList{"解密", "加密"} << true;
    QTest::newRow("packing chosen again") << QStringList{"加密"} << true;
    QTest::newRow("unpacking chosen again") << QStringList{"解密", "解密"} << false;
}

void TestWindow::mode_switch() {
    QFETCH(QStringList, picks);
    QFETCH(bool, packing);
    for (const QString &mode : picks)
        choose_mode(window, mode);

    QCOMPARE(hint_label(window)->text(),
             packing ? QStringLiteral("添加一部分文件和文件夹，可以打包加密。")
                     : QStringLiteral("请选择后缀名为(*.zrvdata)文件解密。"));
    const QString run_text = packing ? QStringLiteral("加密") : QStringLiteral("解密");
    QCOMPARE(button(window, run_text)->isEnabled(), true);
    QCOMPARE(button(window, QStringLiteral("添加文件夹"))->isEnabled(), packing);
    QCOMPARE(button(window, QStringLiteral("添加文件"))->isEnabled(), true);
    QCOMPARE(mode_box(window)->currentText(), picks.last());
    // The mode decides which file dialog opens: its caption shows it.
    QString caption;
    when_dialog_opens([&](QWidget *dialog) {
        caption = dialog->windowTitle();
        cancel(dialog);
    });
    QTest::mouseClick(button(window, QStringLiteral("添加文件")), Qt::LeftButton);
    QCOMPARE(caption,
             packing ? QStringLiteral("选择加密的文件") : QStringLiteral("选择解密的文件"));
}

void TestWindow::never_shown_with_the_placeholder_run_text() {
    ShownTexts shown;
    Cofferbox fresh(nullptr);
    fresh.installEventFilter(&shown);
    fresh.setup_ui();
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    QCOMPARE(shown.run_button_texts, QStringList{"加密"});
}

void TestWindow::texts_render_with_a_font_that_has_them() {
    const QStringList texts = {"选择类型：",
                               "加密",
                               "解密",
                               "添加一部分文件和文件夹，可以打包加密。",
                               "请选择后缀名为(*.zrvdata)文件解密。",
                               "文件名",
                               "文件类型",
                               "文件夹",
                               "文件",
                               "添加文件",
                               "添加文件夹",
                               "删除",
                               "清除",
                               "加密目录",
                               "加密/解密",
                               "正在加密中",
                               "正在解密中",
                               "文件加密成功",
                               "文件加密失败",
                               "文件解密成功",
                               "文件解密失败",
                               "选择加密的文件",
                               "选择解密的文件"};
    for (const QString &text : texts) {
        QTextLayout layout(text, window->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        int glyphs = 0;
        for (const QGlyphRun &run : layout.glyphRuns()) {
            for (quint32 glyph : run.glyphIndexes()) {
                ++glyphs;
                // Glyph 0 is the empty box a font shows for a character it lacks.
                QVERIFY2(glyph != 0, qPrintable(text + " in " + run.rawFont().familyName()));
            }
        }
        QCOMPARE(glyphs, text.size());
    }
}

void TestWindow::program_starts_and_exits_when_closed_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList{};
    QTest::newRow("unknown arguments") << QStringList{"--frobnicate", "extra", "-x", "加密"};
}

void TestWindow::program_starts_and_exits_when_closed() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("closing another program's window needs an X server");
    QFETCH(QStringList, arguments);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(COFFERBOX_BINARY), arguments);
    QVERIFY(program.waitForStarted());
    // Past the file-size limit a write fails and the job reports it; the program lives on.
    const auto ignores_file_size_signal = [&] {
        const QByteArray status =
            testsupport::read_file(QStringLiteral("/proc/%1/status").arg(program.processId()));
        const qsizetype at = status.indexOf("SigIgn:") + 7;
        const quint64 ignored =
            status.mid(at, status.indexOf('\n', at) - at).trimmed().toULongLong(nullptr, 16);
        return (ignored & (quint64(1) << (SIGXFSZ - 1))) != 0;
    };
    QTRY_VERIFY(ignores_file_size_signal());

    // A person closes the window with the window's close button.
    const testsupport::CommandResult closed = testsupport::python(
        {QStringLiteral(TESTS_SOURCE_DIR "/close_window.py"), QStringLiteral("cofferbox")});
    QVERIFY2(closed.exit_code == 0, closed.output.constData());
    QCOMPARE(closed.output.trimmed(), QByteArray("600x420"));
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
