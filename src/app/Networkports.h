#pragma once

#include "serial/NetworkPort.h"

#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The network ports the search tries after the machine's own: each a URL and a
// name of the user's, added, changed and removed here, in the order listed.
class TformNetworkPorts : public QDialog
{
    Q_OBJECT

public:
    explicit TformNetworkPorts(const QList<NetworkPortEntry> &ports, QWidget *parent = nullptr);

    QList<NetworkPortEntry> ports() const { return list; }

    // What the user does, callable from tests: false with the reason in labelError
    // for a URL that is no network port or is listed already.
    bool addPort(const QString &url, const QString &name);
    bool changePort(int row, const QString &url, const QString &name);
    void removePort(int row);

    QTableWidget *tablePorts;
    QLineEdit *editUrl;
    QLineEdit *editName;
    QPushButton *btnAdd;
    QPushButton *btnChange;
    QPushButton *btnRemove;
    QLabel *labelError;
    QPushButton *btnOk;
    QPushButton *btnCancel;

private:
    bool checked(const QString &url, int except, QString *canonical);
    void showList();
    void rowPicked();
    QList<NetworkPortEntry> list;
};
