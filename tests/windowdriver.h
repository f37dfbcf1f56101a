// Drives the Cofferbox window the way a person does: finds controls by type and text, picks
// modes in the combo box's popup, and answers the dialogs that open.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <functional>

class Cofferbox;

namespace windowdriver {

// A new window, set up and shown as the program does at start.
Cofferbox *open_window();

QPushButton *button(QWidget *window, const QString &text);
void click(QWidget *window, const QString &text);
QComboBox *mode_box(QWidget *window);
QTableWidget *table(QWidget *window);
// The label at the left of the bottom row, which shows the busy text.
QLabel *status_label(QWidget *window);
// Picks `mode` in the mode box's popup with the keyboard; the mode shown counts as a pick too.
void choose_mode(QWidget *window, const QString &mode);

// Runs `answer` on the next modal dialog (the next one `wanted` accepts) as soon as it is
// open, while the code that opened it waits. Call before the click that opens the dialog.
void when_dialog_opens(std::function<void(QWidget *)> answer,
                       std::function<bool(QWidget *)> wanted = {});
void cancel(QWidget *dialog);

// Through the add-file dialog: goes to `folder`, types `typed` (one name, or several in
// quotes) and accepts.
void add_files(QWidget *window, const QString &folder, const QString &typed);
// Through the add-folder dialog: pastes `path` and accepts.
void add_folder(QWidget *window, const QString &path);

// What the table shows: one "path|type text|is dir|role path" per row, in order.
QStringList rows(QTableWidget *table);

} // namespace windowdriver
