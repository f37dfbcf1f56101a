#include "window/droptarget.h"

#include "window/cofferbox.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

DropTarget::DropTarget(Cofferbox *window) : QObject(window), window(window) {
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

DropTarget::Addition DropTarget::addition(const QMimeData *data) const {
    Addition result;
    // The run button is off exactly while a job runs.
    if (!window->run_button.isEnabled() || !data->hasUrls())
        return result;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        // Paths as the dialogs give them: absolute, with "/" and no trailing separator.
        const QFileInfo info(QDir::cleanPath(url.toLocalFile()));
        if (info.isDir()) {
            if (window->encrypt_mode)
                result.folders << info.absoluteFilePath();
        } else if (info.exists()) {
            result.files << info.absoluteFilePath();
        }
    }
    return result;
}

bool DropTarget::eventFilter(QObject *watched, QEvent *event) {
    if (watched != window)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
        // What is dragged stays the same until the drop, so it is looked at once.
        offers_copy = !addition(static_cast<QDragEnterEvent *>(event)->mimeData()).isEmpty();
        [[fallthrough]];
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (offers_copy) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const Addition added = addition(drop->mimeData());
        if (added.isEmpty()) {
            drop->ignore();
            return true;
        }
        for (const QString &path : added.files)
            window->file_set[path] = path;
        for (const QString &path : added.folders)
            window->dir_set[path] = path;
        window->refresh_table();
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }
    default:
        return false;
    }
}
