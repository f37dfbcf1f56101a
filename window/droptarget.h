// Lets files and folders dropped on the window join its selection exactly as if they had been
// picked with the add buttons: files to the file set, folders to the folder set in packing
// mode (in unpacking mode folders cannot be added, so they are ignored). Only local files
// count, and nothing is taken while a job runs; the drag cursor offers a copy only where the
// drop would add something.
#pragma once

#include <QObject>
#include <QStringList>

class Cofferbox;
class QMimeData;

class DropTarget : public QObject {
    Q_OBJECT

public:
    // Watches `window`'s drag and drop events, as its child.
    explicit DropTarget(Cofferbox *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Addition {
        QStringList files;
        QStringList folders;
        bool isEmpty() const { return files.isEmpty() && folders.isEmpty(); }
    };
    Addition addition(const QMimeData *data) const;

    Cofferbox *window;
    // Whether what is being dragged over the window would add something.
    bool offers_copy = false;
};
