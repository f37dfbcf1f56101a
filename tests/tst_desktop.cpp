// Cofferbox as a desktop application: what `cmake --install` puts in place and how the desktop
// sees it, and Qt's own texts (dialogs, buttons) in the language of the system locale. CTest
// runs this once under LANG=C and once under LANG=zh_CN.UTF-8.
#include "app/startup.h"
#include "testsupport.h"
#include "windowdriver.h"

#include <QDialogButtonBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void installs_as_a_desktop_application();
    void qt_dialogs_speak_the_system_language();
};

void TestDesktop::initTestCase() {
    startup::prepare_application(*qApp);
}

void TestDesktop::installs_as_a_desktop_application() {
    QTemporaryDir prefix;
    const CommandResult installed =
        run(QStringLiteral("cmake"), {QStringLiteral("--install"), QStringLiteral(BUILD_DIR),
                                      QStringLiteral("--prefix"), prefix.path()});
    QVERIFY2(installed.exit_code == 0, installed.output.constData());

    // Exactly the application: no tests, benchmarks or libraries.
    QStringList files;
    QDirIterator it(prefix.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(prefix.path()).relativeFilePath(it.next());
    files.sort();
    const QString id = QString::fromLatin1(startup::application_id);
    QCOMPARE(files, QStringList({"bin/cofferbox", "share/applications/" + id + ".desktop",
                                 "share/icons/hicolor/scalable/apps/" + id + ".svg",
                                 "share/metainfo/" + id + ".metainfo.xml",
                                 "share/mime/packages/" + id + ".xml"}));

    const QString share = prefix.filePath(QStringLiteral("share"));
    for (const auto &[program, arguments] :
         {std::pair{QStringLiteral("desktop-file-validate"),
                    QStringList{share + "/applications/" + id + ".desktop"}},
          std::pair{
              QStringLiteral("appstreamcli"),
              QStringList{"validate", "--no-net", share + "/metainfo/" + id + ".metainfo.xml"}},
          std::pair{QStringLiteral("update-mime-database"), QStringList{share + "/mime"}}}) {
        const CommandResult checked = run(program, arguments);
        QVERIFY2(checked.exit_code == 0, qPrintable(program + ": " + checked.output));
    }

    // The desktop's file-type lookup, with the installed data first, knows a .zrvdata file.
    QTemporaryDir work;
    write_file(work.filePath(QStringLiteral("in/a.txt")), "a");
    const QString archive = work.filePath(QStringLiteral("x.zrvdata"));
    QVERIFY(pack({work.filePath(QStringLiteral("in/a.txt"))}, {}, archive));
    const CommandResult type =
        run(QStringLiteral("env"),
            {"XDG_DATA_DIRS=" + share + ":/usr/share", "XDG_DATA_HOME=" + work.filePath("none"),
             QStringLiteral("gio"), QStringLiteral("info"), QStringLiteral("-a"),
             QStringLiteral("standard::content-type"), archive});
    QVERIFY2(type.output.contains("standard::content-type: application/x-zrvdata"),
             type.output.constData());
}

void TestDesktop::qt_dialogs_speak_the_system_language() {
    const bool chinese = QLocale::system().name() == QLatin1String("zh_CN");
    // Button texts without their keyboard shortcuts ("&Open", "打开(&O)").
    const QRegularExpression shortcut(QStringLiteral("\\(&.\\)|&"));
    QString ok_button;
    windowdriver::when_dialog_opens([&](QWidget *box) {
        ok_button = box->findChild<QPushButton *>()->text().remove(shortcut);
        windowdriver::cancel(box);
    });
    QMessageBox::about(nullptr, QStringLiteral("加密/解密"), QStringLiteral("文件加密成功"));
    QCOMPARE(ok_button, chinese ? QStringLiteral("确定") : QStringLiteral("OK"));

    QString look_in;
    QStringList buttons;
    windowdriver::when_dialog_opens([&](QWidget *dialog) {
        look_in = dialog->findChild<QLabel *>(QStringLiteral("lookInLabel"))->text();
        for (QAbstractButton *button : dialog->findChild<QDialogButtonBox *>()->buttons())
            buttons << button->text().remove(shortcut);
        windowdriver::cancel(dialog);
    });
    QFileDialog::getOpenFileNames(nullptr, QStringLiteral("选择加密的文件"));
    QCOMPARE(look_in, chinese ? QStringLiteral("查找范围：") : QStringLiteral("Look in:"));
    QCOMPARE(buttons, chinese ? QStringList({"打开", "取消"}) : QStringList({"Open", "Cancel"}));
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
