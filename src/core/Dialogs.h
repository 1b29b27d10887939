#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QFileDialog;

// Every modal box, file dialog and document launch goes through this seam, so that
// a test replaces it with a recorder and a modal box never blocks a test.
class Dialogs
{
public:
    enum class Icon
    {
        Information,
        Warning,
        Error
    };

    virtual ~Dialogs() = default;

    // A modal message with a single OK button.
    virtual void message(QWidget *parent, const QString &text, Icon icon = Icon::Information,
                         const QString &title = QString()) = 0;

    // An empty result means the user cancelled.
    virtual QString openFileName(QWidget *parent, const QString &title, const QString &filter) = 0;
    virtual QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                                 const QString &defaultSuffix) = 0;

    // Opens a document with the desktop's viewer. Returns false when it cannot;
    // noViewer is set when no program is associated with the document's type.
    virtual bool openDocument(const QString &path, bool *noViewer) = 0;

    // Runs one of the application's own dialogs modally and returns its result.
    virtual int exec(QDialog *dialog) { return dialog->exec(); }

    // The system's beep, for a key that is refused.
    virtual void beep();

    static Dialogs *system();
};

// Gives a file dialog its filters from a filter text of the form "Caption (*.cdf);;
// All Files (*.*)". The captions are shown as they stand; where "*.*" would list only
// names with a dot (everywhere but Windows), that entry lists every file.
void setFileDialogFilter(QFileDialog &dialog, const QString &filter);

// What the tests use: answers from queues, records what was shown.
class RecordingDialogs : public Dialogs
{
public:
    struct Shown
    {
        QString text;
        Icon icon;
        QString title;
    };

    void message(QWidget *, const QString &text, Icon icon, const QString &title) override
    {
        messages.append({text, icon, title});
        if (whileMessageShown)
            whileMessageShown(text);
    }
    QString openFileName(QWidget *, const QString &, const QString &) override
    {
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    bool openDocument(const QString &path, bool *noViewer) override
    {
        documentsOpened.append(path);
        if (noViewer)
            *noViewer = documentNoViewer;
        return documentOpens;
    }
    int exec(QDialog *dialog) override
    {
        dialogsRun.append(dialog->windowTitle());
        return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
    }

    void beep() override { ++beeps; }

    QList<Shown> messages;
    // Called with each message as if while its box were open.
    std::function<void(const QString &)> whileMessageShown;
    int beeps = 0;
    QStringList openAnswers;
    QStringList saveAnswers;
    QStringList documentsOpened;
    bool documentOpens = true;
    bool documentNoViewer = false;
    QStringList dialogsRun; // captions of the dialogs that would have been modal
    // Given each such dialog instead of running it; its return is the dialog's result.
    std::function<int(QDialog *)> onDialog;
};
