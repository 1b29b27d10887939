// The Channel Description page: its controls, where they stand, and what they run.
#include "app/Mainform.h"

#include "app/Windowsize.h"
#include "channel/Flow.h"
#include "channel/Flowtableview.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

namespace {

// Hands the keys typed into a dimension edit to the window's key handler first.
// Keys that type nothing (Backspace, Delete, arrows, shortcuts) pass, and so does
// pasted text, which the change handler reads as -1 m when it is not a number.
class DimensionKeyFilter : public QObject
{
public:
    explicit DimensionKeyFilter(TformMain *window) : QObject(window), window(window) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const QString text = key->text();
            auto *edit = qobject_cast<QLineEdit *>(watched);
            if (edit && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && text.size() == 1 &&
                text.at(0).isPrint() && window->editChanWidthKeyPress(edit, text.at(0)))
                return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TformMain *window;
};

// pbFlowGraph follows the page's right and bottom edges, as the form anchors it: at
// the designed client area it has its designed size of 248 x 382, and it grows and
// shrinks with the client area, whatever margins the tab pages take in this style.
// It watches the client area itself, since a page that is not shown learns of its
// new size only when it is shown.
class FlowGraphAnchor : public QObject
{
public:
    FlowGraphAnchor(QWidget *client, QWidget *graph) : QObject(graph), graph(graph)
    {
        client->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize) {
            const QSize client = static_cast<QWidget *>(watched)->size();
            graph->setGeometry(264, 67, std::max(248 + client.width() - designClientSize.width(), 1),
                               std::max(382 + client.height() - designClientSize.height(), 1));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *graph;
};

QLabel *label(const QString &text, QWidget *page, int left, int top)
{
    auto *l = new QLabel(text, page);
    l->move(left, top);
    l->adjustSize();
    return l;
}

Shape *blackBox(QWidget *page, int left, int top, int width, int height)
{
    auto *s = new Shape(Shape::Rectangle, page);
    s->setBrushColor(Qt::black);
    s->setPenColor(Qt::black);
    s->setGeometry(left, top, width, height);
    return s;
}

QLineEdit *dimensionEdit(QWidget *page, int left, int top, QObject *keyFilter)
{
    auto *e = new QLineEdit(QStringLiteral("0"), page);
    e->setGeometry(left, top, 64, 21);
    e->installEventFilter(keyFilter);
    return e;
}

UpDown *spinner(QWidget *page, int left, int top)
{
    auto *u = new UpDown(page);
    u->setGeometry(left, top, 17, 21);
    u->setRange(0, 1000);
    u->setPosition(500);
    return u;
}

} // namespace

bool TformMain::editChanWidthKeyPress(QLineEdit *edit, QChar key)
{
    switch (ClassifyDimensionKey(key)) {
    case DimensionKey::Type:
        return false;
    case DimensionKey::DecimalPoint:
        edit->insert(QStringLiteral("."));
        return true;
    case DimensionKey::Refuse:
        break;
    }
    // A refused key changes nothing, and says so.
    platform.dialogs->beep();
    return true;
}

void TformMain::buildChannelPage()
{
    QWidget *p = tabChannel;
    auto *keyFilter = new DimensionKeyFilter(this);
    QFont pictureFont(QStringLiteral("Arial"));
    pictureFont.setPixelSize(15);
    pictureFont.setBold(true);

    labelChanType = label(QStringLiteral("Channel Type :"), p, 264, 12);
    cbChanType = new QComboBox(p);
    cbChanType->setGeometry(264, 34, 201, 21);
    cbChanType->addItems(ChannelTypeNames());

    Shape1 = blackBox(p, 75, 72, 4, 180);
    Shape2 = blackBox(p, 222, 72, 4, 180);
    Shape3 = blackBox(p, 75, 248, 151, 4);
    pbChannel = new PaintBox(p);
    pbChannel->setGeometry(78, 52, 145, 196);
    pbChannel->setFont(pictureFont);

    labelWidth = new QLabel(QStringLiteral("W"), p);
    labelWidth->setGeometry(78, 268, 145, 18);
    labelWidth->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    labelWidth->setFont(pictureFont);
    shapeWidthH = blackBox(p, 78, 265, 145, 1);
    shapeWidthL = blackBox(p, 78, 256, 1, 19);
    shapeWidthR = blackBox(p, 222, 256, 1, 19);

    // The sensor picture over the channel, a copy of the one on the sensor page.
    Shape *const sensorShapes[4] = {shapeEchoGauge1, shapeEchoGauge2, shapeEchoGauge3, shapeEchoGauge4};
    Shape **const channelShapes[4] = {&shapeEchoGauge5, &shapeEchoGauge6, &shapeEchoGauge7, &shapeEchoGauge8};
    for (int i = 0; i < 4; ++i) {
        Shape *s = new Shape(sensorShapes[i] ? sensorShapes[i]->kind() : Shape::Rectangle, p);
        if (sensorShapes[i]) {
            s->setGeometry(sensorShapes[i]->geometry());
            s->setBrushColor(sensorShapes[i]->brushColor());
            s->setPenColor(sensorShapes[i]->penColor());
        }
        *channelShapes[i] = s;
    }

    labelNotchAngle = label(QStringLiteral("Notch Angle ="), p, 78, 11);
    labelNotchAngle->setMinimumWidth(160);
    labelNotchAngle->hide();
    tbNotchData = new QSlider(Qt::Horizontal, p);
    tbNotchData->setGeometry(67, 29, 167, 23);
    tbNotchData->setRange(15, 150);
    tbNotchData->setValue(90);
    tbNotchData->setPageStep(5);
    tbNotchData->setSingleStep(1);
    tbNotchData->setTickPosition(QSlider::NoTicks);
    tbNotchData->hide();
    btnChanDec = new QPushButton(QStringLiteral("-"), p);
    btnChanDec->setGeometry(57, 33, 15, 13);
    btnChanInc = new QPushButton(QStringLiteral("+"), p);
    btnChanInc->setGeometry(229, 33, 15, 13);

    editNotchWidth = dimensionEdit(p, 78, 28, keyFilter);
    udNotchWidth = spinner(p, 142, 28);
    labelNotchUnits = label(QStringLiteral("metres"), p, 160, 36);
    editNotchWidth->hide();
    udNotchWidth->hide();
    labelNotchUnits->hide();

    labelCrestHeight = label(QStringLiteral("Crest Height, P ="), p, 8, 292);
    editCrestHeight = dimensionEdit(p, 128, 289, keyFilter);
    udCrestHeight = spinner(p, 192, 289);
    lableCrestHeightUnits = label(QStringLiteral("metres"), p, 213, 297);

    labelChanWidth = label(QStringLiteral("Channel Width, W ="), p, 8, 326);
    editChanWidth = dimensionEdit(p, 128, 323, keyFilter);
    udChanWidth = spinner(p, 192, 323);
    labelChanWidthUnits = label(QStringLiteral("metres"), p, 213, 331);

    btnSendChannelData = new QPushButton(QStringLiteral("Send Channel Data to EchoGauge"), p);
    btnSendChannelData->setGeometry(8, 365, 209, 25);

    pbFlowGraph = new PaintBox(p);
    pbFlowGraph->setGeometry(264, 67, 248, 382);
    new FlowGraphAnchor(centralWidget(), pbFlowGraph);

    // Only a user's pick runs the handler; code that selects a type calls it itself.
    connect(cbChanType, &QComboBox::activated, this, [this] { cbChanTypeClick(); });
    // Whoever selects a type, the controls that go with it follow at once.
    connect(cbChanType, &QComboBox::currentIndexChanged, this, [this] { ShowChannelControls(); });
    for (QLineEdit *edit : {editNotchWidth, editCrestHeight, editChanWidth}) {
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { editChanWidthChange(edit); });
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] { editChanWidthExit(edit); });
    }
    for (UpDown *ud : {udNotchWidth, udCrestHeight, udChanWidth}) {
        ud->onChangingEx = [this, ud](int newValue, UpDown::Direction direction) {
            bool allow = true;
            udChanWidthChangingEx(ud, allow, newValue, direction);
            return allow;
        };
    }
    connect(tbNotchData, &QSlider::valueChanged, this, &TformMain::tbNotchDataChange);
    connect(btnChanInc, &QPushButton::clicked, this, &TformMain::btnChanIncClick);
    connect(btnChanDec, &QPushButton::clicked, this, &TformMain::btnChanDecClick);
    connect(btnSendChannelData, &QPushButton::clicked, this, &TformMain::btnSendChannelDataClick);

    pbChannel->onPaint = [this](PaintBox *box, QPainter &canvas) { pbChannelPaint(box, canvas); };
    pbSensor->onPaint = [this](PaintBox *box, QPainter &canvas) { pbChannelPaint(box, canvas); };
    pbFlowGraph->onPaint = [this](PaintBox *box, QPainter &canvas) { pbFlowGraphPaint(box, canvas); };
    connect(pbFlowGraph, &PaintBox::mouseMoved, this, &TformMain::pbFlowGraphMouseMove);

    connect(menuLoadChannel, &QAction::triggered, this, &TformMain::menuLoadChannelClick);
    connect(menuSaveChannel, &QAction::triggered, this, &TformMain::menuSaveChannelClick);
}
