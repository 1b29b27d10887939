#include "core/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

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
        QFileDialog dialog(parent, title);
        setFileDialogFilter(dialog, filter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    }

    QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                         const QString &defaultSuffix) override
    {
        QFileDialog dialog(parent, title);
        setFileDialogFilter(dialog, filter);
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
#ifdef _WIN32
        // The shell's "open" verb starts the user's PDF viewer, and its result tells
        // a type that nothing is associated with apart from other failures.
        const std::wstring file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (result > 32)
            return true;
        if (noViewer)
            *noViewer = result == SE_ERR_NOASSOC;
        return false;
#else
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
#endif
    }
};

} // namespace

void Dialogs::beep()
{
    QApplication::beep();
}

void setFileDialogFilter(QFileDialog &dialog, const QString &filter)
{
    const QStringList entries = filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts);
#ifdef _WIN32
    dialog.setNameFilters(entries);
#else
    // The dialog takes its patterns from the last parentheses of an entry and, with
    // the details hidden, shows what stands before them: "All Files (*.*) (*)" shows
    // "All Files (*.*)" and lists every file. Qt's own dialog, since a desktop's
    // native one may show the entry differently.
    static const QRegularExpression captionAndPatterns(QStringLiteral("^(.*)\\(([^()]*)\\)\\s*$"));
    QStringList shown;
    for (const QString &entry : entries) {
        const QRegularExpressionMatch m = captionAndPatterns.match(entry);
        if (!m.hasMatch()) {
            shown << entry;
            continue;
        }
        QStringList patterns = m.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (QString &pattern : patterns) {
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        }
        shown << entry.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(shown);
#endif
}

Dialogs *Dialogs::system()
{
    static SystemDialogs dialogs;
    return &dialogs;
}
