#pragma once

#include "app/Widgets.h"
#include "serial/NetworkPort.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The two transmission and height tuning values, edited in memory.
class TformOptions : public QDialog
{
    Q_OBJECT

public:
    explicit TformOptions(QWidget *parent = nullptr);

    // Positions as the window hands them over (16-bit); the up-down clamps them.
    void setDelay(qint16 ms);
    void setHeadroom(qint16 percent);

    QGroupBox *GroupBox1;
    QLabel *Label1;
    QLineEdit *editDelay;
    UpDown *spinDelay;
    QGroupBox *GroupBox2;
    QLabel *Label2;
    QLineEdit *editHeadroom;
    UpDown *spinHeadroom;
    QPushButton *btnOk;
    QPushButton *btnCancel;
    QPushButton *btnNetworkPorts;

    // The network ports as the "Network Ports ..." dialog leaves them; taken over
    // with OK. dialogs runs that dialog (a test's recorder answers it).
    QList<NetworkPortEntry> networkPorts;
    class Dialogs *dialogs = nullptr;

private:
    void showPositions();
};
