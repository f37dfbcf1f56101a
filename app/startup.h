// What the program sets up around its window at start: Qt's own texts in the user's language,
// its identity on the desktop (application ID and icon), file drops on the window, and the
// option to protect an archive with a password.
#pragma once

class Cofferbox;
class QApplication;

namespace startup {

// The reverse-DNS name of the desktop entry, icon, MIME type definition and metainfo.
inline constexpr char application_id[] = "org.cofferbox.Cofferbox";

// Before any widget exists: Qt's catalogue for the system locale, so the file dialogs and
// message box buttons speak the user's language; the desktop identity and icon. A missing
// catalogue leaves Qt's English texts.
void prepare_application(QApplication &app);

// Sets up the window, lets files and folders dropped on it join its selection, and adds the
// password option for packing.
void prepare_window(Cofferbox &window);

} // namespace startup
