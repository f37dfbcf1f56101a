#include "app/startup.h"

#include "window/cofferbox.h"
#include "window/droptarget.h"
#include "window/passwordoption.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace startup {

void prepare_application(QApplication &app) {
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
    QGuiApplication::setDesktopFileName(QString::fromLatin1(application_id));
    // The installed theme icon where there is one, else the copy built into the program.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QString::fromLatin1(application_id),
                         QIcon(QStringLiteral(":/icons/org.cofferbox.Cofferbox.svg"))));
}

void prepare_window(Cofferbox &window) {
    window.setup_ui();
    new DropTarget(&window);
    new PasswordOption(&window);
}

} // namespace startup
