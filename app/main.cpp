#include "window/cofferbox.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // Sources are UTF-8 and Qt 6 reads literals as UTF-8, so no text codec is installed.
    int result = 0;
    {
        Cofferbox window(nullptr);
        window.setup_ui();
        window.show();
        result = app.exec();
    }
    return result;
}
