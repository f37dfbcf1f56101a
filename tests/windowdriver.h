// Drives the Cofferbox window the way a person does: finds controls by type and text, picks
// modes in the combo box's popup, and answers the dialogs that open.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

#include <functional>

class Cofferbox;

namespace windowdriver {

// A new window, set up and shown as the program does at start.
Cofferbox *open_window();

QPushButton *button(QWidget *window, const QString &text);
QComboBox *mode_box(QWidget *window);
QTableWidget *table(QWidget *window);
// The label at the left of the bottom row, which shows the busy text.
QLabel *status_label(QWidget *window);

// Opens the mode box's popup and picks `mode` with the keyboard, as a person does; picking
// the mode already shown counts as a pick too.
void choose_mode(QWidget *window, const QString &mode);

// Runs `answer` on the next modal dialog as soon as it is open (while the code that opened it
// waits for it); with `wanted`, on the next one it accepts. Call before the click that opens
// the dialog.
void when_dialog_opens(std::function<void(QWidget *)> answer,
                       std::function<bool(QWidget *)> wanted = {});

// Types `text` into the dialog's file-name box and presses Return.
void type_and_accept(QWidget *dialog, const QString &text);
// Pastes `text` into the dialog's file-name box and presses Return.
void paste_and_accept(QWidget *dialog, const QString &text);
// Presses Escape.
void cancel(QWidget *dialog);

// Adds through the add-file button: goes to `folder` in the dialog, types `typed` (one name, or
// several in quotes) and accepts.
void add_files(QWidget *window, const QString &folder, const QString &typed);
// Adds through the add-folder button: pastes `path` into the dialog and accepts.
void add_folder(QWidget *window, const QString &path);

// What the table shows: one "path|type text|is dir|role path" string per row, in order.
QStringList rows(QTableWidget *table);

} // namespace windowdriver
