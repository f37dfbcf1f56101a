// The window as a person sees it: its texts from top to bottom, the mode switch, characters
// that render, and the program starting and closing.
#include "testsupport.h"
#include "window/cofferbox.h"
#include "windowdriver.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QProcess>
#include <QTest>
#include <QTextLayout>

#include <algorithm>
#include <csignal>

using namespace windowdriver;

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init() { window = open_window(); }
    void cleanup() { delete window; }
    void what_a_person_sees();
    void mode_switch_data();
    void mode_switch();
    void texts_render_with_a_font_that_has_them();
    void program_starts_and_exits_when_closed();

private:
    Cofferbox *window = nullptr;
};

void TestWindow::what_a_person_sees() {
    // Every visible control, read top to bottom and left to right.
    QList<QWidget *> shown;
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            shown << child;
    std::sort(shown.begin(), shown.end(), [](QWidget *a, QWidget *b) {
        return std::pair(a->y() / 10, a->x()) < std::pair(b->y() / 10, b->x());
    });
    QStringList texts;
    for (QWidget *widget : shown) {
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << QStringLiteral("label ") + label->text();
        else if (auto *push = qobject_cast<QPushButton *>(widget))
            texts << QStringLiteral("button ") + push->text();
        else if (auto *combo = qobject_cast<QComboBox *>(widget))
            texts << QStringLiteral("mode ") + combo->currentText();
        else if (auto *view = qobject_cast<QTableWidget *>(widget))
            texts << QStringLiteral("table ") + view->horizontalHeaderItem(0)->text() + "|" +
                         view->horizontalHeaderItem(1)->text();
    }
    QCOMPARE(texts,
             QStringList({"label 选择类型：", "mode 加密",
                          "label 添加一部分文件和文件夹，可以打包加密。", "table 文件名|文件类型",
                          "button 添加文件", "button 添加文件夹", "button 删除", "button 清除",
                          "button 加密目录", "label ", "button 加密"}));
    QCOMPARE(window->size(), QSize(600, 420));
}

void TestWindow::mode_switch_data() {
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<bool>("packing");
    QTest::newRow("to unpacking") << QStringList{"解密"} << false;
    QTest::newRow("to unpacking and back") << QStringList{"解密", "加密"} << true;
    QTest::newRow("unpacking chosen again") << QStringList{"解密", "解密"} << false;
}

void TestWindow::mode_switch() {
    QFETCH(QStringList, picks);
    QFETCH(bool, packing);
    for (const QString &mode : picks)
        choose_mode(window, mode);
    const QStringList hints = {"请选择后缀名为(*.zrvdata)文件解密。",
                               "添加一部分文件和文件夹，可以打包加密。"};
    QStringList labels;
    for (QLabel *label : window->findChildren<QLabel *>())
        labels << label->text();
    QVERIFY(labels.contains(hints.at(packing)) && !labels.contains(hints.at(!packing)));
    QVERIFY(button(window, packing ? QStringLiteral("加密") : QStringLiteral("解密"))->isEnabled());
    QCOMPARE(button(window, QStringLiteral("添加文件夹"))->isEnabled(), packing);
}

void TestWindow::texts_render_with_a_font_that_has_them() {
    const QString texts =
        QStringLiteral("选择类型：加密解密添加一部分文件和文件夹，可以打包。请选择"
                       "后缀名为(*.zrvdata)文件类型删除清除目录/正在中成功失败取消"
                       "第个归档，共速度剩余约秒分小时");
    QTextLayout layout(texts, window->font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int glyphs = 0;
    for (const QGlyphRun &run : layout.glyphRuns()) {
        for (quint32 glyph : run.glyphIndexes()) {
            ++glyphs;
            // Glyph 0 is the empty box a font shows for a character it lacks.
            QVERIFY2(glyph != 0, qPrintable(run.rawFont().familyName()));
        }
    }
    QCOMPARE(glyphs, texts.size());
}

void TestWindow::program_starts_and_exits_when_closed() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("closing another program's window needs an X server");
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    // Arguments that are not Qt's own change nothing.
    program.start(QStringLiteral(COFFERBOX_BINARY), {"--frobnicate", "extra", "加密"});
    QVERIFY(program.waitForStarted());
    // Past the file-size limit a write fails and the job reports it; the program lives on.
    const auto ignores_file_size_signal = [&] {
        const QByteArray status =
            testsupport::read_file(QStringLiteral("/proc/%1/status").arg(program.processId()));
        const qsizetype at = status.indexOf("SigIgn:") + 7;
        return (status.mid(at, status.indexOf('\n', at) - at).trimmed().toULongLong(nullptr, 16) &
                (1ULL << (SIGXFSZ - 1))) != 0;
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
