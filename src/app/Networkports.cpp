#include "app/Networkports.h"

#include "app/Settings.h"
#include "app/Widgets.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

TformNetworkPorts::TformNetworkPorts(const QList<NetworkPortEntry> &ports, QWidget *parent)
    : QDialog(parent), list(ports)
{
    setWindowTitle(QStringLiteral(" Network Ports"));
    setFont(windowFont());
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(480, 318);

    tablePorts = new QTableWidget(0, 2, this);
    tablePorts->setGeometry(8, 8, 464, 150);
    tablePorts->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("URL")});
    tablePorts->horizontalHeader()->setStretchLastSection(true);
    tablePorts->setColumnWidth(0, 140);
    tablePorts->verticalHeader()->hide();
    tablePorts->setSelectionBehavior(QAbstractItemView::SelectRows);
    tablePorts->setSelectionMode(QAbstractItemView::SingleSelection);
    tablePorts->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto *labelUrl = new QLabel(QStringLiteral("URL:"), this);
    labelUrl->setGeometry(8, 170, 50, 16);
    editUrl = new QLineEdit(this);
    editUrl->setGeometry(60, 166, 412, 21);
    editUrl->setPlaceholderText(QStringLiteral("rfc2217://HOST:PORT or tcp://HOST:PORT"));
    auto *labelName = new QLabel(QStringLiteral("Name:"), this);
    labelName->setGeometry(8, 198, 50, 16);
    editName = new QLineEdit(this);
    editName->setGeometry(60, 194, 412, 21);
    editName->setMaxLength(maxNetworkPortName);

    btnAdd = new QPushButton(QStringLiteral("&Add"), this);
    btnAdd->setGeometry(60, 222, 75, 25);
    btnChange = new QPushButton(QStringLiteral("&Change"), this);
    btnChange->setGeometry(143, 222, 75, 25);
    btnRemove = new QPushButton(QStringLiteral("&Remove"), this);
    btnRemove->setGeometry(226, 222, 75, 25);

    labelError = new QLabel(this);
    labelError->setGeometry(8, 252, 464, 30);
    labelError->setWordWrap(true);
    QPalette red = labelError->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    labelError->setPalette(red);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setGeometry(310, 286, 75, 25);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setGeometry(397, 286, 75, 25);

    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnAdd, &QPushButton::clicked, this, [this] { addPort(editUrl->text(), editName->text()); });
    connect(btnChange, &QPushButton::clicked, this,
            [this] { changePort(tablePorts->currentRow(), editUrl->text(), editName->text()); });
    connect(btnRemove, &QPushButton::clicked, this, [this] { removePort(tablePorts->currentRow()); });
    connect(tablePorts, &QTableWidget::itemSelectionChanged, this, [this] { rowPicked(); });
    showList();
}

bool TformNetworkPorts::checked(const QString &url, int except, QString *canonical)
{
    QString why;
    const auto parsed = ParseNetworkPortUrl(url, &why);
    if (!parsed) {
        labelError->setText(QStringLiteral("\"%1\": %2.").arg(url.trimmed(), why));
        return false;
    }
    *canonical = parsed->text();
    for (int i = 0; i < list.size(); ++i)
        if (i != except && list.at(i).url == *canonical) {
            labelError->setText(QStringLiteral("%1 is listed already.").arg(*canonical));
            return false;
        }
    labelError->clear();
    return true;
}

bool TformNetworkPorts::addPort(const QString &url, const QString &name)
{
    QString canonical;
    if (!checked(url, -1, &canonical))
        return false;
    if (list.size() >= maxNetworkPorts) {
        labelError->setText(QStringLiteral("At most %1 network ports can be kept.").arg(maxNetworkPorts));
        return false;
    }
    list.append({canonical, name.simplified().left(maxNetworkPortName)});
    showList();
    tablePorts->selectRow(int(list.size()) - 1);
    return true;
}

bool TformNetworkPorts::changePort(int row, const QString &url, const QString &name)
{
    if (row < 0 || row >= list.size()) {
        labelError->setText(QStringLiteral("Pick the port to change in the list."));
        return false;
    }
    QString canonical;
    if (!checked(url, row, &canonical))
        return false;
    list[row] = {canonical, name.simplified().left(maxNetworkPortName)};
    showList();
    tablePorts->selectRow(row);
    return true;
}

void TformNetworkPorts::removePort(int row)
{
    if (row < 0 || row >= list.size())
        return;
    list.removeAt(row);
    showList();
}

void TformNetworkPorts::showList()
{
    tablePorts->setRowCount(int(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        tablePorts->setItem(i, 0, new QTableWidgetItem(list.at(i).name));
        tablePorts->setItem(i, 1, new QTableWidgetItem(list.at(i).url));
    }
}

void TformNetworkPorts::rowPicked()
{
    const int row = tablePorts->currentRow();
    if (row < 0 || row >= list.size())
        return;
    editUrl->setText(list.at(row).url);
    editName->setText(list.at(row).name);
}
