// What the program sets up around its window at start: Qt's own texts in the user's language,
// its identity on the desktop (application ID and icon), and file drops on the window.
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

// Sets up the window and lets files and folders dropped on it join its selection.
void prepare_window(Cofferbox &window);

} // namespace startup
