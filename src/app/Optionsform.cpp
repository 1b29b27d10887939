#include "app/Optionsform.h"

#include "app/Mainform.h"
#include "app/Networkports.h"
#include "core/Dialogs.h"
#include "core/Timer.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TformOptions::TformOptions(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral(" Options"));
    setFont(windowFont());
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(387, 153);

    // The labels take the width of their text in Arial 13 px; the values sit after them.
    GroupBox1 = new QGroupBox(QStringLiteral("  Tx Timing  "), this);
    GroupBox1->setGeometry(8, 8, 371, 49);
    Label1 = new QLabel(QStringLiteral("Set Delay Between Command Characters to (ms) :"), GroupBox1);
    Label1->setGeometry(8, 22, 294, 16);
    editDelay = new QLineEdit(QStringLiteral("10"), GroupBox1);
    editDelay->setReadOnly(true);
    editDelay->setGeometry(304, 18, 45, 21);
    spinDelay = new UpDown(GroupBox1);
    spinDelay->setGeometry(349, 18, 16, 21);
    spinDelay->setRange(10, 2000);
    spinDelay->setIncrement(10);
    spinDelay->setPosition(10);

    GroupBox2 = new QGroupBox(QStringLiteral("  Maximum Height"), this);
    GroupBox2->setGeometry(8, 62, 371, 49);
    Label2 = new QLabel(QStringLiteral("Set Maximum Height to Sensor Height Plus (%) :"), GroupBox2);
    Label2->setGeometry(8, 22, 294, 16);
    editHeadroom = new QLineEdit(QStringLiteral("10"), GroupBox2);
    editHeadroom->setReadOnly(true);
    editHeadroom->setGeometry(304, 18, 45, 21);
    spinHeadroom = new UpDown(GroupBox2);
    spinHeadroom->setGeometry(349, 18, 16, 21);
    spinHeadroom->setRange(1, 100);
    spinHeadroom->setIncrement(1);
    spinHeadroom->setPosition(10);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setGeometry(216, 120, 75, 25);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setGeometry(304, 120, 75, 25);
    btnCancel->setDefault(true);
    btnCancel->setFocus();

    btnNetworkPorts = new QPushButton(QStringLiteral("&Network Ports ..."), this);
    btnNetworkPorts->setGeometry(8, 120, 120, 25);
    connect(btnNetworkPorts, &QPushButton::clicked, this, [this] {
        TformNetworkPorts ports(networkPorts, this);
        const int result = dialogs ? dialogs->exec(&ports) : ports.exec();
        if (result == QDialog::Accepted)
            networkPorts = ports.ports();
    });

    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(spinDelay, &UpDown::clicked, this, &TformOptions::showPositions);
    connect(spinHeadroom, &UpDown::clicked, this, &TformOptions::showPositions);
}

void TformOptions::setDelay(qint16 ms)
{
    spinDelay->setPosition(ms);
    showPositions();
}

void TformOptions::setHeadroom(qint16 percent)
{
    spinHeadroom->setPosition(percent);
    showPositions();
}

void TformOptions::showPositions()
{
    editDelay->setText(QString::number(spinDelay->position()));
    editHeadroom->setText(QString::number(spinHeadroom->position()));
}

void TformMain::menuOptionsClick()
{
    TformOptions dialog(this);
    dialog.setDelay(qint16(timerSlowTx->interval()));
    dialog.setHeadroom(qint16(maxHeightPercent));
    dialog.networkPorts = networkPorts;
    dialog.dialogs = platform.dialogs;
    if (platform.dialogs->exec(&dialog) == QDialog::Accepted) {
        networkPorts = dialog.networkPorts;
        timerSlowTx->setInterval(dialog.spinDelay->position());
        maxHeightPercent = dialog.spinHeadroom->position();
    }
}
