#include "core/Dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

class SystemDialogs : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text, Icon icon, const QString &title) override
    {
        QMessageBox box(parent);
        box.setIcon(icon == Icon::Error     ? QMessageBox::Critical
                    : icon == Icon::Warning ? QMessageBox::Warning
                                            : QMessageBox::Information);
        box.setWindowTitle(title.isEmpty() ? QGuiApplication::applicationDisplayName() : title);
        box.setText(text);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    }

    QString openFileName(QWidget *parent, const QString &title, const QString &filter) override
    {
        return QFileDialog::getOpenFileName(parent, title, QString(), filter);
    }

    QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                         const QString &defaultSuffix) override
    {
        QFileDialog dialog(parent, title, QString(), filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    }

    bool openDocument(const QString &path, bool *noViewer) override
    {
        if (noViewer)
            *noViewer = false;
#ifndef _WIN32
        // QDesktopServices reports success whenever xdg-open starts, so ask the
        // desktop first whether anything is associated with the document's type.
        const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
        QProcess query;
        query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), mime});
        if (query.waitForFinished(3000) && query.exitCode() == 0 &&
            query.readAllStandardOutput().trimmed().isEmpty()) {
            if (noViewer)
                *noViewer = true;
            return false;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
            if (noViewer)
                *noViewer = true;
            return false;
        }
#endif
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    }
};

} // namespace

Dialogs *Dialogs::system()
{
    static SystemDialogs dialogs;
    return &dialogs;
}
