#include "app/startup.h"
#include "window/cofferbox.h"

#include <QApplication>

#include <csignal>

int main(int argc, char *argv[]) {
    // A write past the file-size limit then fails with an error the job reports and cleans up
    // after, instead of killing the program with a half-written archive left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    // Sources are UTF-8 and Qt 6 reads literals as UTF-8, so no text codec is installed.
    startup::prepare_application(app);
    int result = 0;
    {
        Cofferbox window(nullptr);
        startup::prepare_window(window);
        window.show();
        result = app.exec();
    }
    return result;
}
