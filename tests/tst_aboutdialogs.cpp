// The About dialog, the contact details behind its logo, and the version history
// whose rows follow the width of their change text.
#include "ExchangeRig.h"

#include "app/About.h"
#include "app/History.h"

#include <QAccessible>
#include <QDate>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

// The ink of the text drawn in a rectangle of an image: the runs of scan lines that
// hold dark pixels, each with the leftmost and rightmost dark pixel in it.
struct InkLine
{
    int top, bottom, left, right;
};

QList<InkLine> inkLines(const QImage &image, const QRect &rect)
{
    QList<InkLine> lines;
    bool inLine = false;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        int left = -1, right = -1;
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 110) {
                if (left < 0)
                    left = x;
                right = x;
            }
        }
        if (left >= 0) {
            if (!inLine)
                lines.append({y, y, left, right});
            InkLine &l = lines.last();
            l.bottom = y;
            l.left = qMin(l.left, left);
            l.right = qMax(l.right, right);
        }
        inLine = left >= 0;
    }
    return lines;
}

QImage renderGrid(HistoryGrid *grid)
{
    QImage image(grid->viewport()->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    grid->paintCells(painter);
    return image;
}

QList<int> bodyRowHeights(const HistoryGrid *grid)
{
    QList<int> heights;
    for (int r = 1; r < grid->rowCount(); ++r)
        heights << grid->rowHeight(r);
    return heights;
}

} // namespace

class TestAboutDialogs : public QObject
{
    Q_OBJECT

private slots:
    void aboutNamesTheApplication()
    {
        RecordingDialogs dialogs;
        TformAbout about(&dialogs);
        QCOMPARE(about.windowTitle(), QStringLiteral("  About EchoGauge Setup Application"));
        QCOMPARE(about.labelAppName->text(), QStringLiteral("EchoGauge Setup Application"));
        QCOMPARE(about.labelVersion->text(), QStringLiteral("V1.12"));
        QVERIFY(about.Label2->text().contains(QLatin1String("Brookmere")));
        QVERIFY(about.Label2->text().contains(QRegularExpression(QStringLiteral("\\b20\\d\\d\\b"))));
        QCOMPARE(about.btnShowHistory->text(), QStringLiteral("Show &Version History ..."));
        QCOMPARE(about.imageMakerLogo->pixmap().size(), QSize(245, 114));
        // Sized to its contents: the panels and the OK button inside a 16 pixel border.
        QCOMPARE(about.size(), QSize(448 + 32, 326 + 27 + 32));
        QVERIFY(about.rect().contains(about.OK_Btn->geometry()));
    }

    // The licence is read without word wrap and without a horizontal scroll bar, so
    // every line must fit the memo's width.
    void licenceFitsItsMemo()
    {
        RecordingDialogs dialogs;
        TformAbout about(&dialogs);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QStringList lines = about.Disclaimer_Memo->toPlainText().split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 90, qPrintable(QString::number(lines.size())));
        QVERIFY(about.Disclaimer_Memo->isReadOnly());
        const QFontMetrics metrics(about.Disclaimer_Memo->font());
        const int room = about.Disclaimer_Memo->viewport()->width() - 8;
        for (const QString &line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= room, qPrintable(line));
        QVERIFY(about.Disclaimer_Memo->toPlainText().count(QLatin1String("Brookmere")) >= 10);
    }

    // The Help menu's About runs modally, and from it the history and the contact
    // details; each through the dialog seam, so nothing here waits for a user.
    void dialogsOpenFromTheMenuAndFromEachOther()
    {
        ExchangeRig rig(QStringLiteral("about-menu"));
        bool sawHistory = false;
        rig.dialogs.onDialog = [&](QDialog *dialog) {
            if (auto *about = qobject_cast<TformAbout *>(dialog)) {
                about->btnShowHistory->click();
                QTest::mouseDClick(about->imageMakerLogo, Qt::LeftButton);
            }
            if (auto *history = qobject_cast<TformHistory *>(dialog))
                sawHistory = history->parent() != nullptr && qobject_cast<TformAbout *>(history->parent());
            return int(QDialog::Accepted);
        };
        rig.form->menuAbout->trigger();
        QCOMPARE(rig.dialogs.dialogsRun,
                 (QStringList{"  About EchoGauge Setup Application", " Version History Information ",
                              " Contact Brookmere"}));
        QVERIFY(sawHistory);
        QVERIFY(rig.form->findChildren<TformAbout *>().isEmpty()); // destroyed after closing
    }

    void historyHoldsEveryRelease()
    {
        TformHistory history;
        HistoryGrid *grid = history.gridHistory;
        QCOMPARE(history.windowTitle(), QStringLiteral(" Version History Information "));
        QCOMPARE(grid->columnCount(), 4);
        QCOMPARE(grid->rowCount(), 14);
        QCOMPARE((QStringList{grid->cell(0, 0), grid->cell(1, 0), grid->cell(2, 0), grid->cell(3, 0)}),
                 (QStringList{"Version", "Author", "Date", "Change Details"}));
        QDate previous;
        for (int r = 1; r < 14; ++r) {
            QCOMPARE(grid->cell(0, r), QStringLiteral("1.%1").arg(13 - r, 2, 10, QLatin1Char('0')));
            const QString date = grid->cell(2, r);
            QVERIFY2(
                QRegularExpression(QStringLiteral("^\\d\\d-[A-Z][a-z][a-z]-\\d\\d$")).match(date).hasMatch(),
                qPrintable(date));
            const QDate when = QDate::fromString(date, QStringLiteral("dd-MMM-yy")).addYears(100);
            QVERIFY2(when.isValid(), qPrintable(date));
            if (previous.isValid())
                QVERIFY2(when < previous, qPrintable(date)); // newest first
            previous = when;
            QVERIFY(!grid->cell(1, r).isEmpty());
            QVERIFY(grid->cell(3, r).contains(QLatin1Char('\n'))); // items one a line
        }
        QCOMPARE(grid->columnWidth(0), 77);
        QCOMPARE(grid->columnWidth(1), 150);
        QCOMPARE(grid->columnWidth(2), 90);
    }

    // A screen reader finds the history as a table: its rows and cells with their
    // texts, each cell where it is drawn, the header naming the columns.
    void historyIsATableForAScreenReader()
    {
        TformHistory history;
        history.show();
        QVERIFY(QTest::qWaitForWindowExposed(&history));
        HistoryGrid *grid = history.gridHistory;
        QAccessibleInterface *table = QAccessible::queryAccessibleInterface(grid);
        QVERIFY(table);
        QCOMPARE(table->role(), QAccessible::Table);
        QCOMPARE(table->text(QAccessible::Name), QStringLiteral("Version History"));
        QAccessibleTableInterface *cells = table->tableInterface();
        QVERIFY(cells);
        QCOMPARE(cells->rowCount(), 13);
        QCOMPARE(cells->columnCount(), 4);
        QCOMPARE(table->childCount(), 14 * 4);
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(cells->columnDescription(c), grid->cell(c, 0));
            QAccessibleInterface *head = table->child(c);
            QCOMPARE(head->role(), QAccessible::ColumnHeader);
            QCOMPARE(head->text(QAccessible::Name), grid->cell(c, 0));
        }
        for (int r = 0; r < 13; ++r) {
            for (int c = 0; c < 4; ++c) {
                QAccessibleInterface *cell = cells->cellAt(r, c);
                QVERIFY(cell && cell->isValid());
                QCOMPARE(cell->role(), QAccessible::Cell);
                QCOMPARE(cell->text(QAccessible::Name), grid->cell(c, r + 1));
                QCOMPARE(table->indexOfChild(cell), (r + 1) * 4 + c);
                QAccessibleTableCellInterface *place = cell->tableCellInterface();
                QVERIFY(place);
                QCOMPARE(place->rowIndex(), r);
                QCOMPARE(place->columnIndex(), c);
                QCOMPARE(place->columnHeaderCells().value(0), table->child(c));
                // Where it is drawn, wrapped rows as tall as their change text.
                const QRect drawn = grid->cellRect(c, r + 1);
                QCOMPARE(cell->rect(), QRect(grid->viewport()->mapToGlobal(drawn.topLeft()), drawn.size()));
            }
        }
        QCOMPARE(cells->cellAt(0, 0)->text(QAccessible::Name), QStringLiteral("1.12"));
        const QRect first = cells->cellAt(0, 3)->rect();
        QCOMPARE(table->childAt(first.center().x(), first.center().y()), cells->cellAt(0, 3));
        QVERIFY(!cells->cellAt(0, 0)->state().offscreen);
        QVERIFY(cells->cellAt(12, 0)->state().offscreen); // scrolled out of the grid
    }

    void historyCannotBeNarrowerThan600()
    {
        TformHistory history;
        history.show();
        QVERIFY(QTest::qWaitForWindowExposed(&history));
        history.resize(480, 200);
        QCOMPARE(history.size(), QSize(600, 360));
        history.resize(719, 362);
        QCOMPARE(history.size(), QSize(719, 362));
    }

    // Narrowing the dialog lowers no row and raises at least one; widening does the
    // opposite. The last column always takes the rest of the width.
    void rowsFollowTheWidth()
    {
        TformHistory history;
        HistoryGrid *grid = history.gridHistory;
        history.show();
        QVERIFY(QTest::qWaitForWindowExposed(&history));
        auto settle = [&](int width, QList<int> *heights) {
            history.resize(width, 500);
            const bool fitted = QTest::qWaitFor([&] {
                return grid->width() == width - 24 && grid->columnWidth(3) == grid->clientWidth() -
                                                                                  4 * grid->gridLineWidth() -
                                                                                  77 - 150 - 90;
            });
            renderGrid(grid); // drawing fits the rows it shows; it must agree
            *heights = bodyRowHeights(grid);
            return fitted;
        };
        QList<int> design, narrow, wide, back;
        QVERIFY(settle(719, &design));
        QVERIFY(settle(600, &narrow));
        QVERIFY(settle(1200, &wide));
        bool rose = false, fell = false;
        for (int i = 0; i < design.size(); ++i) {
            QVERIFY(narrow[i] >= design[i]);
            QVERIFY(wide[i] <= design[i]);
            rose |= narrow[i] > design[i];
            fell |= wide[i] < design[i];
        }
        QVERIFY(rose);
        QVERIFY(fell);
        // And back: the heights depend on the width alone.
        QVERIFY(settle(719, &back));
        QCOMPARE(back, design);
    }

    // Each cell's text: the first columns centred, the change text from the left, a
    // row tall enough for all its lines.
    void cellsAreDrawnWrappedAndAligned_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("lines"); // -1: at least two
        QTest::addColumn<QString>("align");

        QTest::newRow("two authors on two centred lines") << 719 << 1 << 2 << 2 << "centre";
        QTest::newRow("two authors, narrow dialog") << 600 << 1 << 4 << 2 << "centre";
        QTest::newRow("one author on one centred line") << 719 << 1 << 1 << 1 << "centre";
        QTest::newRow("version centred") << 719 << 0 << 3 << 1 << "centre";
        QTest::newRow("date centred") << 719 << 2 << 5 << 1 << "centre";
        QTest::newRow("header centred") << 719 << 3 << 0 << 1 << "centre";
        QTest::newRow("change text from the left, wrapped") << 600 << 3 << 1 << -1 << "left";
    }
    void cellsAreDrawnWrappedAndAligned()
    {
        QFETCH(int, width);
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(int, lines);
        QFETCH(QString, align);

        TformHistory history;
        HistoryGrid *grid = history.gridHistory;
        history.show();
        QVERIFY(QTest::qWaitForWindowExposed(&history));
        history.resize(width, 700);
        QTRY_COMPARE(grid->width(), width - 24);
        renderGrid(grid);
        const QImage image = renderGrid(grid);
        const QRect cell = grid->cellRect(column, row).adjusted(1, 1, -1, -1);
        const QList<InkLine> ink = inkLines(image, cell);
        if (lines > 0)
            QCOMPARE(ink.size(), lines);
        else
            QVERIFY(ink.size() >= 3);
        for (const InkLine &l : ink) {
            QVERIFY(l.bottom < cell.bottom()); // nothing cut off at the foot of the row
            if (align == QLatin1String("centre")) {
                const int leftGap = l.left - cell.left();
                const int rightGap = cell.right() - l.right;
                QVERIFY2(qAbs(leftGap - rightGap) <= 3,
                         qPrintable(QStringLiteral("gaps %1 and %2").arg(leftGap).arg(rightGap)));
            } else {
                QVERIFY(l.left - cell.left() <= 5);
            }
        }
        if (align == QLatin1String("left")) {
            // The widest wrapped line comes near the right edge, but never beyond it.
            int widest = 0;
            for (const InkLine &l : ink)
                widest = qMax(widest, l.right);
            QVERIFY(widest <= cell.right() - 3);
            QVERIFY(widest > cell.left() + cell.width() / 2);
        }
    }

    void wrappedTextMeasure_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("lines");
        QTest::newRow("one short line") << "Version" << 200 << 1;
        QTest::newRow("a line break is always a new line") << "a\nb" << 200 << 2;
        QTest::newRow("an empty item still takes its line") << "a\n\nb" << 200 << 3;
        QTest::newRow("words wrap") << "one two three four five six" << 60 << 3;
        QTest::newRow("a word longer than the width is not split") << "Measurement" << 10 << 1;
    }
    void wrappedTextMeasure()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(int, lines);
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(13);
        const int lineHeight = QFontMetrics(font).height();
        const int h = wrappedTextHeight(text, font, width);
        if (width >= 60 && text.contains(QLatin1Char(' ')))
            QVERIFY(h >= lines * lineHeight - 1 && h < (lines + 2) * lineHeight);
        else
            QVERIFY2(qAbs(h - lines * lineHeight) <= 1, qPrintable(QString::number(h)));

        // What is drawn fills exactly the height measured.
        QImage image(width + 200, h + 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setPen(Qt::black);
        drawWrappedText(painter, QRect(0, 0, width, h + 40), text, font, Qt::AlignLeft);
        painter.end();
        const QList<InkLine> ink = inkLines(image, image.rect());
        QVERIFY(!ink.isEmpty());
        QVERIFY(ink.last().bottom < h);
    }
};

QTEST_MAIN(TestAboutDialogs)
#include "tst_aboutdialogs.moc"
