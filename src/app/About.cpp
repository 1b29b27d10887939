#include "app/About.h"

#include "app/History.h"
#include "app/Mainform.h"
#include "core/Dialogs.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int borderWidth = 16;

QFont arial13()
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    return f;
}

QFrame *bevelPanel(QWidget *parent)
{
    auto *panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    return panel;
}

} // namespace

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.x() + area.width() / 2 - window->width() / 2,
                 area.y() + area.height() / 2 - window->height() / 2);
}

QImage makerLogoImage()
{
    QImage image(245, 114, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QColor navy(16, 42, 96);
    const QColor water(30, 120, 200);

    // The sensor head, and the sound it sends down spreading in rings.
    p.setPen(Qt::NoPen);
    p.setBrush(navy);
    p.drawRoundedRect(QRectF(34, 10, 28, 14), 3, 3);
    p.setBrush(Qt::NoBrush);
    for (int k = 0; k < 3; ++k) {
        QPen ring(water, 3 - k * 0.6);
        p.setPen(ring);
        const double r = 14 + k * 12;
        p.drawArc(QRectF(48 - r, 24 - r, 2 * r, 2 * r), -35 * 16, -110 * 16);
    }

    // The water surface it measures: two rows of waves.
    for (int row = 0; row < 2; ++row) {
        QPainterPath wave;
        const double y = 78 + row * 10;
        wave.moveTo(8, y);
        for (int i = 0; i < 4; ++i) {
            const double x = 8 + i * 20;
            wave.cubicTo(x + 5, y - 5, x + 15, y + 5, x + 20, y);
        }
        p.setPen(QPen(row == 0 ? water : navy, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(wave);
    }

    // The name, and what the company makes.
    QFont name(QStringLiteral("Liberation Sans"));
    name.setPixelSize(27);
    name.setBold(true);
    p.setFont(name);
    p.setPen(navy);
    p.drawText(QRect(96, 22, 146, 34), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Brookmere"));
    QFont line(QStringLiteral("Liberation Sans"));
    line.setPixelSize(11);
    p.setFont(line);
    p.setPen(water);
    p.drawText(QRect(98, 58, 146, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Open-channel"));
    p.drawText(QRect(98, 72, 146, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("level and flow sensing"));
    p.setPen(QPen(navy, 1));
    p.drawRect(QRectF(0.5, 0.5, 244, 113));
    return image;
}

QString licenceText()
{
    return QStringLiteral("BROOKMERE END-USER LICENCE FOR SOFTWARE AND FIRMWARE\n"
                          "\n"
                          "Please read this licence before you use the EchoGauge Setup\n"
                          "Application or load any firmware into an EchoGauge sensor.\n"
                          "By installing, copying or using the software or the firmware\n"
                          "you accept the terms below. If you do not accept them, do\n"
                          "not use the software or the firmware, and return them to\n"
                          "Brookmere or to the distributor from whom you received them.\n"
                          "\n"
                          "1. DEFINITIONS\n"
                          "\"Brookmere\" means Brookmere and its subsidiaries.\n"
                          "\"Software\" means this setup application, its help files,\n"
                          "its documents and every update that Brookmere supplies.\n"
                          "\"Firmware\" means the programs held in an EchoGauge sensor\n"
                          "and every firmware update file that Brookmere supplies.\n"
                          "\"Product\" means an EchoGauge sensor bought from Brookmere\n"
                          "or from a distributor appointed by Brookmere.\n"
                          "\"You\" means the person or the organisation that uses the\n"
                          "Software or the Firmware.\n"
                          "\n"
                          "2. WHAT YOU MAY DO\n"
                          "Brookmere grants you a non-exclusive, non-transferable\n"
                          "licence to use the Software on any number of computers, for\n"
                          "the sole purpose of installing, configuring, testing and\n"
                          "servicing Products. You may use the Firmware only in the\n"
                          "Product into which Brookmere or the Software loaded it.\n"
                          "You may make copies of the Software for backup and for use\n"
                          "by your own staff, provided every copy carries this licence.\n"
                          "\n"
                          "3. WHAT YOU MAY NOT DO\n"
                          "You may not sell, rent, lend or sub-license the Software or\n"
                          "the Firmware. You may not alter, translate, decompile or\n"
                          "disassemble them, except where the law allows it in spite\n"
                          "of this clause. You may not load the Firmware into any\n"
                          "device that is not a Product. You may not remove or change\n"
                          "any notice of ownership in the Software or the Firmware.\n"
                          "\n"
                          "4. OWNERSHIP\n"
                          "The Software and the Firmware are licensed, not sold.\n"
                          "Brookmere keeps the ownership of them, of every copy and of\n"
                          "every right in them that this licence does not give you.\n"
                          "\n"
                          "5. FIRMWARE UPDATES\n"
                          "A firmware update replaces the program in the sensor. Do not\n"
                          "disconnect the sensor, its supply or the computer while an\n"
                          "update runs. An interrupted update can leave the sensor\n"
                          "unable to measure until it is returned to Brookmere for\n"
                          "repair. Check the sensor's settings after every update.\n"
                          "\n"
                          "6. LIMITED WARRANTY\n"
                          "Brookmere warrants for ninety days from delivery that the\n"
                          "medium on which the Software is supplied is free of defects\n"
                          "in material and workmanship. Your only remedy under this\n"
                          "warranty is the replacement of a defective medium returned\n"
                          "to Brookmere within that time with proof of purchase.\n"
                          "\n"
                          "7. DISCLAIMER OF OTHER WARRANTIES\n"
                          "EXCEPT FOR THE LIMITED WARRANTY ABOVE, THE SOFTWARE AND THE\n"
                          "FIRMWARE ARE SUPPLIED \"AS IS\". BROOKMERE GIVES NO OTHER\n"
                          "WARRANTY, EXPRESS OR IMPLIED, INCLUDING ANY WARRANTY OF\n"
                          "MERCHANTABILITY, OF FITNESS FOR A PARTICULAR PURPOSE OR OF\n"
                          "NON-INFRINGEMENT. BROOKMERE DOES NOT WARRANT THAT THE\n"
                          "SOFTWARE OR THE FIRMWARE WILL RUN WITHOUT INTERRUPTION OR\n"
                          "ERROR, OR THAT THEY WILL MEET YOUR REQUIREMENTS.\n"
                          "\n"
                          "8. MEASUREMENTS AND THEIR USE\n"
                          "Levels and flows depend on the installation: the mounting\n"
                          "height, the channel or weir dimensions and the settings that\n"
                          "you enter. Brookmere is not responsible for readings made\n"
                          "with wrong settings, with a damaged or fouled channel, or\n"
                          "under conditions outside the Product's rated limits. Do not\n"
                          "use a Product as the only safeguard where a wrong reading\n"
                          "could endanger people, property or the environment.\n"
                          "\n"
                          "9. LIMITATION OF LIABILITY\n"
                          "TO THE EXTENT THE LAW ALLOWS, BROOKMERE SHALL NOT BE LIABLE\n"
                          "FOR ANY LOSS OF PROFIT, DATA, PRODUCTION OR USE, OR FOR ANY\n"
                          "INDIRECT, SPECIAL OR CONSEQUENTIAL LOSS, ARISING FROM THE USE\n"
                          "OF OR THE INABILITY TO USE THE SOFTWARE OR THE FIRMWARE,\n"
                          "EVEN IF BROOKMERE WAS TOLD THAT SUCH LOSS WAS POSSIBLE.\n"
                          "BROOKMERE'S TOTAL LIABILITY SHALL NOT EXCEED THE PRICE YOU\n"
                          "PAID FOR THE PRODUCT WITH WHICH THE SOFTWARE WAS SUPPLIED.\n"
                          "Nothing in this licence limits liability for death or\n"
                          "personal injury caused by negligence, or any liability that\n"
                          "cannot be limited by law.\n"
                          "\n"
                          "10. TERMINATION\n"
                          "This licence ends at once if you break any of its terms.\n"
                          "You must then destroy every copy of the Software in your\n"
                          "possession. Clauses 4, 7, 8 and 9 survive its end.\n"
                          "\n"
                          "11. EXPORT\n"
                          "You agree to follow every export law and regulation that\n"
                          "applies to the Software, the Firmware and the Products.\n"
                          "\n"
                          "12. GENERAL\n"
                          "This licence is the whole agreement between you and\n"
                          "Brookmere about the Software and the Firmware. If a court\n"
                          "finds any term of it unenforceable, the other terms stay in\n"
                          "force. A failure to enforce a term is not a waiver of it.\n"
                          "\n"
                          "Questions about this licence: write to Brookmere, or ask\n"
                          "the distributor who supplied your Product.\n");
}

TformAbout::TformAbout(Dialogs *dialogs, QWidget *parent) : QDialog(parent), dialogs(dialogs)
{
    setWindowTitle(QStringLiteral("About"));
    QFont sansSerif(QStringLiteral("MS Sans Serif"));
    sansSerif.setPixelSize(10);
    setFont(sansSerif);

    Panel4 = bevelPanel(this);
    Panel4->setGeometry(borderWidth, borderWidth, 448, 133);
    labelAppName = new QLabel(QStringLiteral("Dummy"), Panel4);
    labelAppName->setFont(arial13());
    labelAppName->move(8, 8);
    labelVersion = new QLabel(QStringLiteral("Dummy"), Panel4);
    labelVersion->setFont(arial13());
    labelVersion->move(8, 30);
    Label2 = new QLabel(QStringLiteral("\u00A9 2016 Brookmere"), Panel4);
    Label2->setFont(arial13());
    Label2->move(8, 52);
    imageMakerLogo = new QLabel(Panel4);
    imageMakerLogo->setPixmap(QPixmap::fromImage(makerLogoImage()));
    imageMakerLogo->setGeometry(195, 9, 245, 114);
    imageMakerLogo->setToolTip(QStringLiteral("Double-click for Brookmere's contact details"));
    imageMakerLogo->installEventFilter(this);

    Version_Panel = bevelPanel(this);
    Version_Panel->setGeometry(borderWidth, borderWidth + 139, 448, 181);
    Disclaimer_Memo = new QPlainTextEdit(Version_Panel);
    Disclaimer_Memo->setGeometry(5, 6, 437, 92);
    Disclaimer_Memo->setFrameStyle(QFrame::NoFrame);
    Disclaimer_Memo->setReadOnly(true);
    Disclaimer_Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Disclaimer_Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Disclaimer_Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont memoFont(QStringLiteral("MS Sans Serif"));
    memoFont.setPixelSize(11);
    Disclaimer_Memo->setFont(memoFont);
    QPalette face = Disclaimer_Memo->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    Disclaimer_Memo->setPalette(face);
    Disclaimer_Memo->setPlainText(licenceText());

    Line_2 = new QFrame(Version_Panel);
    Line_2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Line_2->setGeometry(7, 107, 434, 10);
    btnShowHistory = new QPushButton(QStringLiteral("Show &Version History ..."), Version_Panel);
    btnShowHistory->setFont(arial13());
    btnShowHistory->setGeometry(140, 125, 167, 33);
    btnShowHistory->setAutoDefault(false);

    OK_Btn = new QPushButton(QStringLiteral("&OK"), this);
    OK_Btn->setGeometry(borderWidth + 182, borderWidth + 326, 83, 27);
    OK_Btn->setDefault(true);

    // Sized to its contents with the border all round.
    setFixedSize(448 + 2 * borderWidth, 326 + 27 + 2 * borderWidth);

    connect(OK_Btn, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnShowHistory, &QPushButton::clicked, this, &TformAbout::btnShowHistoryClick);
    FormCreate();
}

void TformAbout::FormCreate()
{
    setWindowTitle(QStringLiteral("  About %1").arg(QLatin1String(applicationTitle)));
    labelAppName->setText(QLatin1String(applicationTitle));
    labelAppName->adjustSize();
    labelVersion->setText(QLatin1String(applicationVersion));
    labelVersion->adjustSize();
    Label2->adjustSize();
}

void TformAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    centreOnScreen(this);
}

bool TformAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == imageMakerLogo && event->type() == QEvent::MouseButtonDblClick) {
        imageMakerLogoDblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TformAbout::btnShowHistoryClick()
{
    TformHistory history(this);
    dialogs->exec(&history);
}

void TformAbout::imageMakerLogoDblClick()
{
    TformAuthor author(this);
    dialogs->exec(&author);
}

TformAuthor::TformAuthor(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral(" Contact Brookmere"));
    setFont(arial13());
    labelContact = new QLabel(QStringLiteral("Brookmere\n"
                                             "Technical Support\n"
                                             "\n"
                                             "E-mail:  support@brookmere.example\n"
                                             "Web:     www.brookmere.example\n"
                                             "\n"
                                             "Please quote the sensor's serial number\n"
                                             "and the version of this application."),
                              this);
    labelContact->setGeometry(16, 16, 288, 128);
    labelContact->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setGeometry(122, 152, 75, 25);
    btnOk->setDefault(true);
    setFixedSize(320, 192);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

void TformMain::menuAboutClick()
{
    TformAbout about(platform.dialogs, this);
    platform.dialogs->exec(&about);
}
