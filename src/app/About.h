#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

class Dialogs;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The maker's logo, drawn rather than shipped: ripples spreading from a sensor head
// over a line of water, beside the maker's name, on a white ground, 245 x 114.
QImage makerLogoImage();

// The end-user licence and the warranty disclaimers shown in the About dialog.
QString licenceText();

// The About dialog: the application's name and version, the licence, and the way to
// the version history.
class TformAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TformAbout(Dialogs *dialogs, QWidget *parent = nullptr);

    void FormCreate();
    void btnShowHistoryClick();
    void imageMakerLogoDblClick();

    QFrame *Panel4;
    QLabel *labelAppName;
    QLabel *labelVersion;
    QLabel *Label2;
    QLabel *imageMakerLogo;
    QFrame *Version_Panel;
    QPlainTextEdit *Disclaimer_Memo;
    QFrame *Line_2;
    QPushButton *btnShowHistory;
    QPushButton *OK_Btn;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Dialogs *dialogs;
};

// The maker's contact details, opened from the logo.
class TformAuthor : public QDialog
{
    Q_OBJECT

public:
    explicit TformAuthor(QWidget *parent = nullptr);

    QLabel *labelContact;
    QPushButton *btnOk;
};

// Centres a dialog on the screen it is about to be shown on.
void centreOnScreen(QWidget *window);
