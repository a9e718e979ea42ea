// Reads every window of the application the way a reader's eye does: each
// widget that draws text, a symbol or a check box is grabbed, and the colour
// it draws is measured against the colour actually drawn behind it (WCAG 2.1
// contrast). Styled text is measured run by run. The windows are opened and
// filled from the sample library by day; the same windows, left open, are
// measured again after night reading is switched on.

#include "ui/WindowTestSupport.h"

#include "assistant/AIAnswer.h"
#include "assistant/DataTable.h"
#include "core/Arabic.h"
#include "core/Notifier.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "scholar/PanelText.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "ui/assistant/AIChatView.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/PillView.h"
#include "ui/reader/PageTextView.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/reader/ReaderView.h"
#include "ui/reader/SmartPopover.h"
#include "ui/search/SearchTabView.h"
#include "ui/search/SearchWindowController.h"
#include "ui/search/SideButton.h"
#include "ui/shell/AboutWindow.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/SettingsWindowController.h"

#include <QAbstractItemView>
#include <QAbstractTextDocumentLayout>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace quorvel;

namespace {

constexpr double kText = 4.5;    // body text
constexpr double kLarge = 3.0;   // large headings, symbols, check-box borders, focus rings
constexpr int kLargePixels = 24; // 18 points
constexpr int kLargeBoldPixels = 19;
constexpr int kRing = 3;         // how far from a field's edge its focus ring is drawn
constexpr int kPairsShown = 20;
constexpr int kSettleMs = 20000; // limit for a state the audit waits for: a fade, the focus, a window shown

using Theme::contrast;

// A colour with alpha as it shows over `ground`.
QColor over(const QColor& ink, const QColor& ground)
{
    const double a = ink.alphaF();
    return QColor::fromRgbF(float(ink.redF() * a + ground.redF() * (1 - a)),
                            float(ink.greenF() * a + ground.greenF() * (1 - a)),
                            float(ink.blueF() * a + ground.blueF() * (1 - a)));
}

bool isLarge(const QFont& font)
{
    const int pixels = font.pixelSize() > 0 ? font.pixelSize() : qRound(font.pointSizeF() * 4 / 3);
    return pixels >= kLargePixels || (font.bold() && pixels >= kLargeBoldPixels);
}

// The most frequent colour of the image inside `region`: what the region is painted on.
QColor ground(const QImage& image, const QRegion& region)
{
    QHash<QRgb, int> counts;
    for (const QRect& r : region)
        for (int y = std::max(0, r.top()); y <= std::min(image.height() - 1, r.bottom()); ++y)
            for (int x = std::max(0, r.left()); x <= std::min(image.width() - 1, r.right()); ++x)
                ++counts[image.pixel(x, y) | 0xFF000000];
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    return most < 0 ? QColor() : QColor(best);
}

// The pixel of `region` that stands out most from `behind`; with `greyOnly`,
// among the nearly colourless pixels alone (a chart's labels between its bars).
QColor strongest(const QImage& image, const QRegion& region, const QColor& behind, bool greyOnly = false)
{
    QColor best = behind;
    double ratio = 1;
    for (const QRect& r : region)
        for (int y = std::max(0, r.top()); y <= std::min(image.height() - 1, r.bottom()); ++y)
            for (int x = std::max(0, r.left()); x <= std::min(image.width() - 1, r.right()); ++x) {
                const QColor c(image.pixel(x, y) | 0xFF000000);
                if (greyOnly && c.hsvSaturation() > 60)
                    continue;
                const double k = contrast(c, behind);
                if (k > ratio) {
                    ratio = k;
                    best = c;
                }
            }
    return best;
}

// The colour counted most often; invalid when none was counted.
QColor commonest(const QHash<QRgb, int>& counts)
{
    const auto it = std::max_element(counts.cbegin(), counts.cend());
    return it == counts.cend() ? QColor() : QColor(it.key());
}

// The colour of a symbol's main strokes: its most frequent opaque pixel.
QColor mainStroke(const QImage& symbol)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < symbol.height(); ++y)
        for (int x = 0; x < symbol.width(); ++x)
            if (const QRgb c = symbol.pixel(x, y); qAlpha(c) > 200)
                ++counts[c | 0xFF000000];
    return commonest(counts);
}

// The most frequent coloured pixel of `region` that is not `behind`: a chart's bars.
QColor mostColoured(const QImage& image, const QRegion& region, const QColor& behind)
{
    QHash<QRgb, int> counts;
    for (const QRect& r : region)
        for (int y = std::max(0, r.top()); y <= std::min(image.height() - 1, r.bottom()); ++y)
            for (int x = std::max(0, r.left()); x <= std::min(image.width() - 1, r.right()); ++x)
                if (const QColor c(image.pixel(x, y) | 0xFF000000); c.hsvSaturation() > 60 && c != behind)
                    ++counts[c.rgb()];
    return commonest(counts);
}

QString describe(const QWidget* w)
{
    QString text = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
    QString shown;
    if (const auto* label = qobject_cast<const QLabel*>(w))
        shown = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        shown = button->text().isEmpty() ? button->toolTip() : button->text();
    else
        shown = w->toolTip();
    if (!shown.isEmpty())
        text += QStringLiteral(" «") + shown.left(40) + QStringLiteral("»");
    return text;
}

// How opaque a text field's side button (its clear button) is drawn; 1 for
// any other widget. The clear button fades in over some frames when its field
// gets text and out when it is emptied.
double sideOpacity(const QWidget* w)
{
    const QVariant opacity = w->property("opacity");
    return qobject_cast<const QLineEdit*>(w->parentWidget()) && opacity.isValid() ? opacity.toDouble() : 1.0;
}

// An emptied field hidden during its clear button's fade out keeps the
// button shown at nought, where it draws nothing: there is nothing to read.
bool drawsNothing(const QWidget* w)
{
    const auto* field = qobject_cast<const QLineEdit*>(w->parentWidget());
    return field && field->text().isEmpty() && sideOpacity(w) == 0.0;
}

bool fieldSettled(const QLineEdit* field)
{
    for (const QToolButton* button : field->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly))
        if (button->isVisible() && sideOpacity(button) < 1.0 && !drawsNothing(button))
            return false;
    return true;
}

// True when no side button of the window's fields (or of the field itself) is
// part way through a fade, which a grab would measure only partly drawn.
bool sideButtonsSettled(const QWidget* top)
{
    if (const auto* field = qobject_cast<const QLineEdit*>(top); field && !fieldSettled(field))
        return false;
    const QList<QLineEdit*> fields = top->findChildren<QLineEdit*>();
    return std::all_of(fields.cbegin(), fields.cend(), [](const QLineEdit* field) { return fieldSettled(field); });
}

class Audit {
public:
    struct Pair {
        QString where;
        QColor ink;
        QColor behind;
        double ratio;
        double need;
    };

    explicit Audit(QString phase) : phase_(std::move(phase)) {}

    // Grabs a shown window and measures everything visible in it.
    void window(QWidget* top, const QString& name)
    {
        QApplication::processEvents();
        EXPECT_EVENTUALLY(sideButtonsSettled(top), kSettleMs) << name.toStdString();
        const QImage image = top->grab().toImage().convertToFormat(QImage::Format_RGB32);
        // QUORVEL_AUDIT_PICTURES names a folder that receives every grab measured.
        if (const QString dir = qEnvironmentVariable("QUORVEL_AUDIT_PICTURES"); !dir.isEmpty())
            image.save(QDir(dir).filePath(phase_ + u'-' + QString(name).replace(u'/', u'-') + QStringLiteral(".png")));
        walk(top, top, image, name);
    }

    // Opens a menu, measures its enabled items, closes it.
    void menu(QMenu* menu, const QString& name)
    {
        menu->popup(QPoint(200, 200));
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, kSettleMs)) << name.toStdString();
        const QImage image = menu->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() || !action->isVisible() || !action->isEnabled())
                continue;
            const QRect row = menu->actionGeometry(action);
            const QColor behind = ground(image, row);
            add(name + QStringLiteral(" / «") + action->text() + u'»', strongest(image, row, behind), behind, kText);
        }
        menu->hide();
    }

    // Gives each field of the window the keyboard: its ring must show, and
    // the caret of an empty right-to-left field sits at its right end.
    void focusRings(QWidget* top, const QString& name)
    {
        top->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(top, kSettleMs)) << name.toStdString();
        for (QLineEdit* field : top->findChildren<QLineEdit*>()) {
            if (!field->isVisibleTo(top) || !field->isEnabled() || field->isReadOnly() || field->width() < 2 * kRing + 4
                || qobject_cast<QComboBox*>(field->parentWidget()))
                continue;
            const QString where = name + QStringLiteral(" / focus ") + describe(field);
            field->clearFocus();
            // A side button part way through its fade would show as a
            // change between the two grabs: a ring, or a caret at the left.
            EXPECT_EVENTUALLY(!field->hasFocus() && sideButtonsSettled(field), kSettleMs) << where.toStdString();
            const QImage before = field->grab().toImage().convertToFormat(QImage::Format_RGB32);
            field->setFocus(Qt::TabFocusReason);
            // The keyboard reaches the field only once its window is the
            // active one, which the platform reports in its own time.
            EXPECT_EVENTUALLY(field->hasFocus() && sideButtonsSettled(field), kSettleMs) << where.toStdString();
            const QImage after = field->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QRect inner = field->rect().adjusted(kRing, kRing, -kRing, -kRing);
            const QColor behind = ground(before, inner);
            QColor ring = behind;
            double caretX = 0;
            int caretPixels = 0;
            for (int y = 0; y < after.height(); ++y)
                for (int x = 0; x < after.width(); ++x) {
                    if (after.pixel(x, y) == before.pixel(x, y))
                        continue;
                    const QColor c(after.pixel(x, y));
                    if (!inner.contains(x, y)) {
                        if (contrast(c, behind) > contrast(ring, behind))
                            ring = c;
                    } else {
                        caretX += x;
                        ++caretPixels;
                    }
                }
            add(where, ring, behind, kLarge);
            if (field->text().isEmpty() && field->layoutDirection() == Qt::RightToLeft && caretPixels > 0
                && caretX / caretPixels < field->width() / 2.0)
                carets_ << phase_ + QStringLiteral(": ") + where;
        }
    }

    // Gives each list or outline the keyboard on its current row, left
    // unselected: what the focus draws there must show the keyboard's place.
    void focusedRows(QWidget* top, const QString& name)
    {
        top->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(top, kSettleMs)) << name.toStdString();
        for (QAbstractItemView* view : top->findChildren<QAbstractItemView*>()) {
            const QModelIndex current = view->currentIndex();
            if (!view->isVisibleTo(top) || !view->isEnabled() || !current.isValid()
                || view->focusPolicy() == Qt::NoFocus)
                continue;
            const QRect cell = view->visualRect(current) & view->viewport()->rect();
            if (cell.height() < 4 || cell.width() < 4)
                continue;
            const bool selected = view->selectionModel()->isSelected(current);
            view->selectionModel()->select(current, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
            view->clearFocus();
            EXPECT_EVENTUALLY(!view->hasFocus(), kSettleMs) << name.toStdString();
            const QImage before = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            view->setFocus(Qt::TabFocusReason);
            EXPECT_EVENTUALLY(view->hasFocus(), kSettleMs) << name.toStdString();
            const QImage after = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            if (const QString dir = qEnvironmentVariable("QUORVEL_AUDIT_PICTURES"); !dir.isEmpty())
                after.save(QDir(dir).filePath(phase_ + u'-' + name + QStringLiteral("-focused-row.png")));
            // The row's edges, where a focus frame is drawn, and not its text.
            const QRect row(0, cell.top(), after.width(), cell.height());
            const QRegion edges = QRegion(row.adjusted(0, -1, 0, 1)) - QRegion(row.adjusted(0, 2, 0, -2));
            const QColor behind = ground(before, row);
            QColor mark = behind;
            for (const QRect& r : edges)
                for (int y = std::max(0, r.top()); y <= std::min(after.height() - 1, r.bottom()); ++y)
                    for (int x = std::max(0, r.left()); x <= std::min(after.width() - 1, r.right()); ++x)
                        if (after.pixel(x, y) != before.pixel(x, y)
                            && contrast(QColor(after.pixel(x, y)), behind) > contrast(mark, behind))
                            mark = QColor(after.pixel(x, y));
            add(name + QStringLiteral(" / focused row of ") + describe(view) + QStringLiteral(" «")
                    + current.data().toString().left(30) + u'»',
                mark, behind, kLarge);
            if (selected)
                view->selectionModel()->select(current, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    const QList<Pair>& pairs() const { return pairs_; }
    const QStringList& carets() const { return carets_; }

    // Prints the worst pairs and fails on each below its threshold.
    void check() const
    {
        QList<Pair> sorted = pairs_;
        std::sort(sorted.begin(), sorted.end(),
                  [](const Pair& a, const Pair& b) { return a.ratio / a.need < b.ratio / b.need; });
        std::printf("%s: %lld pairs measured; the worst:\n", qPrintable(phase_), (long long)sorted.size());
        for (qsizetype i = 0; i < sorted.size() && i < kPairsShown; ++i)
            std::printf("  %5.2f:1 (needs %.1f) %s on %s  %s\n", sorted[i].ratio, sorted[i].need,
                        qPrintable(sorted[i].ink.name()), qPrintable(sorted[i].behind.name()),
                        sorted[i].where.toUtf8().constData());
        for (const Pair& p : sorted)
            EXPECT_GE(p.ratio, p.need) << phase_.toStdString() << ": " << p.where.toStdString() << " "
                                       << p.ink.name().toStdString() << " on " << p.behind.name().toStdString();
        EXPECT_TRUE(carets_.isEmpty()) << "caret at the left of an empty right-to-left field: "
                                       << carets_.join(QStringLiteral("; ")).toStdString();
    }

private:
    void add(const QString& where, const QColor& ink, const QColor& behind, double need)
    {
        if (!ink.isValid() || !behind.isValid())
            return;
        pairs_.append({phase_ + QStringLiteral(": ") + where, ink, behind, contrast(ink, behind), need});
    }

    // The widget's own area in the top window's picture, less its visible children.
    static QRegion ownArea(QWidget* top, QWidget* w, const QRect& part)
    {
        QRegion area(part.translated(w->mapTo(top, QPoint())));
        for (QObject* child : w->children()) {
            auto* c = qobject_cast<QWidget*>(child);
            if (c && c->isVisibleTo(top) && !c->isWindow())
                area -= QRegion(c->geometry().translated(w->mapTo(top, QPoint())));
        }
        return area & QRegion(top->rect());
    }

    // Text against the colour most of its area shows; a symbol, which may
    // fill most of its area, against the colour at the area's edge.
    void pixels(QWidget* top, QWidget* w, const QImage& image, const QString& where, double need,
                const QRect& part = {}, bool symbol = false)
    {
        const QRect rect = part.isNull() ? w->rect() : part;
        const QRegion area = ownArea(top, w, rect);
        if (area.isEmpty())
            return;
        const QRegion edge = symbol ? area - ownArea(top, w, rect.adjusted(2, 2, -2, -2)) : area;
        const QColor behind = ground(image, edge.isEmpty() ? area : edge);
        add(where, strongest(image, area, behind), behind, need);
    }

    // A symbol that is a mark on a shape (the × of a close box, the arrow in
    // a disc): the mark, as drawn, against the shape around it. A mark cut
    // into its shape shows light where the symbol is drawn all in black; a
    // mark drawn in one ink over a shape in the other lies whole on it.
    void markOnPlate(QWidget* top, HoverButton* button, const QImage& image, const QString& where)
    {
        const QString name = button->symbolName();
        if (name.isEmpty())
            return;
        const QSize size = button->iconSize();
        auto render = [&](const QColor& primary, const QColor& accent) {
            return Theme::symbolPixmap(name, size.width(), {primary, accent}, QFont::Normal, 1.0)
                .toImage()
                .convertToFormat(QImage::Format_ARGB32);
        };
        const QPoint origin =
            button->mapTo(top, QPoint((button->width() - size.width()) / 2, (button->height() - size.height()) / 2));
        // Measures the pixels `isMark` picks against those `isShape` picks.
        auto measure = [&](const std::function<bool(int, int)>& isMark, const std::function<bool(int, int)>& isShape) {
            QHash<QRgb, int> marks;
            QHash<QRgb, int> shapes;
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x) {
                    const QPoint at = origin + QPoint(x, y);
                    if (!image.rect().contains(at))
                        continue;
                    if (isMark(x, y))
                        ++marks[image.pixel(at) | 0xFF000000];
                    else if (isShape(x, y))
                        ++shapes[image.pixel(at) | 0xFF000000];
                }
            if (marks.isEmpty() || shapes.isEmpty())
                return false;
            add(where + QStringLiteral(" (mark on its shape)"), commonest(marks), commonest(shapes), kLarge);
            return true;
        };
        const QImage black = render(Qt::black, Qt::black);
        if (black.size() != size)
            return;
        const bool cut = measure([&](int x, int y) { return qAlpha(black.pixel(x, y)) > 240 && qGray(black.pixel(x, y)) > 200; },
                                 [&](int x, int y) { return qAlpha(black.pixel(x, y)) > 240 && qGray(black.pixel(x, y)) < 30; });
        if (cut || (!name.startsWith(QStringLiteral("xmark.")) && !name.contains(QStringLiteral(".circle.fill"))))
            return;
        const QImage primary = render(Qt::black, Qt::transparent);
        const QImage accent = render(Qt::transparent, Qt::black);
        for (const auto& [mark, shape] : {std::pair{&primary, &accent}, std::pair{&accent, &primary}}) {
            // A thin stroke at this size is rarely opaque anywhere.
            auto inMark = [&, mark = mark](int x, int y) { return qAlpha(mark->pixel(x, y)) > 100; };
            auto inShape = [&, shape = shape](int x, int y) { return qAlpha(shape->pixel(x, y)) > 200; };
            int marked = 0;
            int onShape = 0;
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    if (inMark(x, y)) {
                        ++marked;
                        onShape += inShape(x, y) ? 1 : 0;
                    }
            if (marked > 0 && onShape * 5 >= marked * 4) {
                measure([&](int x, int y) { return inMark(x, y) && inShape(x, y); },
                        [&](int x, int y) { return inShape(x, y) && qAlpha(mark->pixel(x, y)) == 0; });
                return;
            }
        }
    }

    // A check box's or radio button's square: its border or fill against what surrounds it.
    void indicator(const QImage& image, const QRect& box, const QString& where)
    {
        const QRegion ring = QRegion(box.adjusted(-3, -3, 3, 3)) - QRegion(box);
        const QColor behind = ground(image, ring);
        add(where + QStringLiteral(" (box)"), strongest(image, box, behind), behind, kLarge);
    }

    void checkView(QWidget* top, QAbstractItemView* view, const QImage& image, const QString& where)
    {
        QWidget* port = view->viewport();
        QAbstractItemModel* model = view->model();
        if (!model || model->rowCount() == 0)
            return;
        pixels(top, port, image, where, kText);
        const QPoint origin = port->mapTo(top, QPoint());
        const QColor rows = ground(image, ownArea(top, port, port->rect()));
        // The visible rows' check boxes, walked down from the top of the viewport.
        for (int y = 2; y < port->height(); y += 4) {
            const QModelIndex row = view->indexAt(QPoint(port->width() / 2, y));
            if (!row.isValid())
                continue;
            for (int column = 0; column < model->columnCount(row.parent()); ++column) {
                const QModelIndex index = row.siblingAtColumn(column);
                // A row's symbol: its main strokes against the row as drawn.
                // The platform's file dialogs draw the platform's own symbols.
                if (const QVariant decoration = index.data(Qt::DecorationRole);
                    decoration.canConvert<QIcon>() && !qobject_cast<QFileDialog*>(top)
                    && !view->selectionModel()->isSelected(index)) {
                    const QImage symbol =
                        qvariant_cast<QIcon>(decoration).pixmap(view->iconSize().isValid() ? view->iconSize() : QSize(16, 16)).toImage();
                    if (!symbol.isNull())
                        add(where + QStringLiteral(" «") + index.data().toString().left(30) + QStringLiteral("» (symbol)"),
                            mainStroke(symbol.convertToFormat(QImage::Format_ARGB32)), rows, kLarge);
                }
                if (!index.data(Qt::CheckStateRole).isValid()
                    || index.data(Qt::CheckStateRole).value<Qt::CheckState>() != Qt::Unchecked)
                    continue;
                QStyleOptionViewItem option;
                option.initFrom(port);
                option.rect = view->visualRect(index);
                option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
                option.text = index.data().toString();
                option.direction = view->layoutDirection();
                const QRect box = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
                if (box.isValid() && port->rect().contains(box))
                    indicator(image, box.translated(origin), where + QStringLiteral(" «") + option.text.left(30) + u'»');
            }
            y = std::max(y, view->visualRect(row).bottom());
        }
    }

    void checkText(QWidget* top, QTextEdit* edit, const QImage& image, const QString& where)
    {
        QWidget* port = edit->viewport();
        const QRect shown = QRect(port->mapTo(top, QPoint()), port->size()) & top->rect();
        const QPoint origin = port->mapTo(top, QPoint())
                              - QPoint(edit->horizontalScrollBar()->value(), edit->verticalScrollBar()->value());
        QTextDocument* document = edit->document();
        QAbstractTextDocumentLayout* layout = document->documentLayout();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            const QRectF bounds = layout->blockBoundingRect(block).translated(origin);
            if (!bounds.intersects(shown) || !block.layout())
                continue;
            const QTextLayout* lines = block.layout();
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const QString text = fragment.text();
                const int start = fragment.position() - block.position();
                const QTextLine line = lines->lineForTextPosition(start);
                if (!line.isValid())
                    continue;
                const int end = std::min(start + fragment.length(), line.textStart() + line.textLength());
                const double x1 = line.cursorToX(start);
                const double x2 = line.cursorToX(end);
                const QRect rect = QRectF(std::min(x1, x2), line.y(), std::abs(x2 - x1), line.height())
                                       .translated(bounds.topLeft())
                                       .toAlignedRect()
                                   & shown;
                if (rect.width() < 4 || rect.height() < 4)
                    continue;
                const QTextCharFormat format = fragment.charFormat();
                const QString run = where + QStringLiteral(" «") + text.left(30) + u'»';
                const QColor behind = ground(image, rect);
                if (format.isImageFormat()) {
                    // A chart: its labels are the colourless ink between the bars.
                    add(run + QStringLiteral(" (picture)"), strongest(image, rect, behind, true), behind, kText);
                    add(run + QStringLiteral(" (bars)"), mostColoured(image, rect, behind), behind, kLarge);
                    continue;
                }
                if (text.trimmed().isEmpty())
                    continue;
                QColor ink = format.foreground().style() != Qt::NoBrush ? format.foreground().color()
                             : format.isAnchor()                       ? edit->palette().color(QPalette::Link)
                                                                        : edit->palette().color(QPalette::Text);
                if (ink.alpha() == 0)
                    continue;
                add(run, over(ink, behind), behind, isLarge(format.font()) ? kLarge : kText);
            }
        }
    }

    void walk(QWidget* top, QWidget* w, const QImage& image, const QString& name)
    {
        if (!w->isVisibleTo(top) && w != top)
            return;
        if (w != top && w->isWindow())
            return;
        if (drawsNothing(w))
            return;
        const QString where = name + QStringLiteral(" / ") + describe(w);
        if (!w->isEnabled()) {
            // Greyed controls are out of the reckoning.
        } else if (auto* edit = qobject_cast<QTextEdit*>(w)) {
            checkText(top, edit, image, where);
            return;
        } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
            checkView(top, view, image, where);
            return;
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            if (!label->pixmap().isNull())
                pixels(top, w, image, where, kLarge, {}, true);
            else if (!label->text().trimmed().isEmpty())
                pixels(top, w, image, where, isLarge(label->font()) ? kLarge : kText, label->contentsRect());
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            auto* button = static_cast<QAbstractButton*>(w);
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const bool check = qobject_cast<QCheckBox*>(w) != nullptr;
            const QRect box = w->style()->subElementRect(
                check ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator, &option, w);
            if (!button->isChecked())
                indicator(image, box.translated(w->mapTo(top, QPoint())), where);
            const QRect words = w->style()->subElementRect(
                check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &option, w);
            if (!button->text().isEmpty())
                pixels(top, w, image, where, kText, words);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (!button->text().isEmpty())
                pixels(top, w, image, where, kText);
            // A segmented control: the selected segment against each of the others.
            if (QButtonGroup* group = button->group(); group && group->exclusive() && button->isChecked()) {
                const QColor selected = ground(image, ownArea(top, w, w->rect()));
                for (QAbstractButton* other : group->buttons())
                    if (other != button && other->isVisibleTo(top) && other->isEnabled())
                        add(where + QStringLiteral(" (selected, against ") + describe(other) + u')',
                            ground(image, ownArea(top, other, other->rect())), selected, kLarge);
            }
            if (!button->text().isEmpty() && !button->icon().isNull()) {
                // The symbol beside the title: its main strokes against the button's ground.
                const QRegion area = ownArea(top, w, w->rect());
                const QImage symbol =
                    button->icon().pixmap(button->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
                add(where + QStringLiteral(" (symbol)"), mainStroke(symbol), ground(image, area), kLarge);
            } else if (!button->icon().isNull()) {
                pixels(top, w, image, where, kLarge, {}, true);
                if (auto* hover = qobject_cast<HoverButton*>(w))
                    markOnPlate(top, hover, image, where);
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // The text, between the frame and the arrow.
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect field = w->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, w);
            pixels(top, w, image, where, kText, field);
        } else if (qobject_cast<PillView*>(w)) {
            pixels(top, w, image, where, kText);
        } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
            if (!field->text().isEmpty())
                pixels(top, w, image, where, kText);
            // Its border, the outer two pixels, against what surrounds the field.
            if (field->hasFrame() && !qobject_cast<QComboBox*>(field->parentWidget())
                && !qobject_cast<QAbstractSpinBox*>(field->parentWidget())) {
                const QRect box(w->mapTo(top, QPoint()), w->size());
                const QRegion border = QRegion(box) - QRegion(box.adjusted(2, 2, -2, -2));
                const QColor behind = ground(image, (QRegion(box.adjusted(-3, -3, 3, 3)) - QRegion(box)) & top->rect());
                add(where + QStringLiteral(" (border)"), strongest(image, border, behind), behind, kLarge);
            }
        }
        for (QObject* child : w->children())
            if (auto* c = qobject_cast<QWidget*>(child))
                walk(top, c, image, name);
    }

    QString phase_;
    QList<Pair> pairs_;
    QStringList carets_;
};

class ContrastAudit : public test::WindowTest {
protected:
    ContrastAudit()
        : WindowTest({Settings::nightReadingKey, Settings::restoreSessionKey, MainWindowController::searchModeKey,
                      DownloadsWindowController::sourceKey, DownloadsWindowController::autoKey})
    {
    }
    void TearDown() override
    {
        Settings::setNightReading(false);
        Notifier::postReaderSettingsChanged();
    }
};

// A data answer as the assistant gives it: a heading, a paragraph and a
// table of the sample library's books by century, with its chart.
AIAnswer dataAnswer(const Library& lib)
{
    AIAnswer a(AIMode::data, QStringLiteral("كم كتابا في كل قرن؟"), {});
    a.text = QStringLiteral("## الكتب بحسب القرون\nعدد كتب المكتبة بحسب قرن وفاة مؤلفيها، من الأقدم إلى الأحدث.");
    a.structured = true;
    DataTable table;
    table.title = QStringLiteral("الكتب بحسب القرن");
    table.columns = {QStringLiteral("القرن"), QStringLiteral("الكتب")};
    QMap<int, int> centuries;
    for (const Book& book : lib.books())
        if (const auto author = lib.author(book); author && author->death && *author->death > 0)
            ++centuries[int((*author->death + 99) / 100)];
    for (auto it = centuries.cbegin(); it != centuries.cend(); ++it) {
        const QString label = QStringLiteral("القرن ") + Arabic::num(it.key());
        table.rows.append({label, Arabic::num(it.value())});
        table.chart.append({label, {double(it.value())}});
    }
    table.series = {QStringLiteral("الكتب")};
    a.tables.append(table);
    return a;
}

} // namespace

TEST_F(ContrastAudit, everyWindowReadsByDayAndAfterASwitchToNightWithTheWindowsOpen)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    ScriptedDialogs dialogs;
    QTemporaryDir store;
    test::ScopedEnv libdb("QUORVEL_LIBDB", store.filePath(QStringLiteral("library.db")));
    const QList<Book> books = sample.lib->books();
    ASSERT_GE(books.size(), 2);

    // The main window: a reader, a results tab, the Quran tab and the assistant.
    MainWindowController w(sample.lib);
    QPointer<MainWindowController> main(&w);
    w.setMenuBar(MainMenu::build([main] { return main.data(); }));
    const AIAnswer answer = dataAnswer(*sample.lib);
    w.assistant = [answer](const QString&, AIMode, const std::function<void(const QString&)>&) { return answer; };
    w.resize(1400, 860);
    w.show();
    w.openBook(books[0].id, 3);
    SearchQuery query;
    query.andPhrases = {QStringLiteral("الصلاة")};
    w.runSearch(query);
    w.openQuran(36, 58);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.activeQuran() != nullptr; }, 20000));
    w.openAI(QStringLiteral("كم كتابا في كل قرن؟"));
    auto* chat = qobject_cast<AIChatView*>(w.tabs().last()->view());
    ASSERT_NE(chat, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chat->isBusy() && !chat->answers().isEmpty(); }, 20000));
    auto* results = qobject_cast<SearchTabView*>(w.tabs()[1]->view());
    ASSERT_NE(results, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return results->isDone(); }, 20000));
    ASSERT_GT(results->resultCount(), 0);

    // The other windows.
    SearchWindowController search(sample.lib, &w);
    search.present();
    // Its usual size: the test screen is smaller than the window.
    search.resize(SearchWindowController::windowSize);
    DownloadsWindowController::setSource(QStringLiteral(QUORVEL_SAMPLE_RELEASE));
    DownloadsWindowController downloads;
    downloads.resize(980, 660);
    downloads.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return downloads.catalog().has_value(); }, 10000));
    SettingsWindowController::show(sample.lib);
    SettingsWindowController* settings = SettingsWindowController::shared();
    ASSERT_NE(settings, nullptr);
    const std::unique_ptr<QMessageBox> about(Dialogs::messageBox(
        QStringLiteral("مكتبة قورفل"), AboutWindow::text(*sample.lib, QStringLiteral("1.0")), {}, &w));
    about->show();
    const std::unique_ptr<QFileDialog> save(Dialogs::saveDialog(
        QStringLiteral("تصدير الكتاب إلى PDF"), books[0].title + QStringLiteral(".pdf"), QStringLiteral("PDF (*.pdf)")));
    save->show();
    for (QWidget* window : std::initializer_list<QWidget*>{&w, &search, settings, about.get(), save.get()})
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window, kSettleMs)) << describe(window).toStdString();

    // The analysis pop-ups over the reader's page, each in turn.
    struct Panel {
        const char* title;
        std::function<PanelText::Text()> build;
    };
    // A page of hadith with its chains in the book that comes in two
    // editions, for the panels to have narrators, editions and a collation.
    std::shared_ptr<Library> lib = sample.lib;
    QList<Book> editions;
    for (const Book& book : books)
        if (book.title.startsWith(QStringLiteral("سنن ابن ماجه")))
            editions.append(book);
    ASSERT_EQ(editions.size(), 2);
    Page hadith;
    for (std::int64_t seq = 1; seq < 200 && hadith.id == 0; ++seq)
        if (const auto page = lib->page(editions[0].id, seq);
            page && page->content.count(QStringLiteral("حدثنا")) >= 2)
            hadith = *page;
    ASSERT_NE(hadith.id, 0);
    const Book first = editions[0];
    const std::int64_t other = editions[1].id;
    const QList<Panel> panels{
        {"isnad", [lib, hadith] { return PanelText::isnad(*lib, hadith); }},
        {"editions", [lib, first, hadith] { return PanelText::editions(*lib, first, hadith.id); }},
        {"collation", [lib, hadith, other] { return PanelText::collate(*lib, hadith.id, other); }},
        {"reuse", [lib, hadith] { return PanelText::reuse(*lib, hadith.id); }},
    };

    auto auditAll = [&](Audit& audit) {
        for (int tab = 0; tab < int(w.tabs().size()); ++tab) {
            w.select(tab);
            EXPECT_EVENTUALLY(w.tabs()[tab]->view()->isVisible(), kSettleMs) << tab;
            audit.window(&w, QStringLiteral("main, tab %1").arg(tab));
        }
        // The Quran tab's verse search: verses with their references.
        for (int tab = 0; tab < int(w.tabs().size()); ++tab)
            if (auto* quran = qobject_cast<QuranView*>(w.tabs()[tab]->view())) {
                w.select(tab);
                // The field's clear button is measured once it has faded in;
                // the field is emptied and left at once, as a reader may.
                quran->setSearch(QStringLiteral("الحي القيوم"));
                audit.window(&w, QStringLiteral("main, verse search"));
                quran->setSearch(QString());
            }
        w.select(0);
        EXPECT_EVENTUALLY(w.tabs()[0]->view()->isVisible(), kSettleMs);
        audit.focusRings(&w, QStringLiteral("main"));
        audit.focusedRows(&w, QStringLiteral("main"));
        ReaderView* reader = w.activeReader();
        EXPECT_NE(reader, nullptr);
        if (reader) {
            for (const Panel& panel : panels) {
                auto popover = SmartPopover::show(QString::fromLatin1(panel.title), reader->textView(), std::nullopt,
                                                  {}, panel.build);
                if (!QTest::qWaitFor([&] { return popover->isBuilt(); }, 20000) || !popover->frame()) {
                    ADD_FAILURE() << "the " << panel.title << " panel was not built";
                    continue;
                }
                EXPECT_TRUE(QTest::qWaitForWindowExposed(popover->frame(), kSettleMs)) << panel.title;
                audit.window(popover->frame(), QString::fromLatin1(panel.title));
                popover->close();
            }
            std::unique_ptr<QMenu> context(reader->textView()->menuFor(QPoint(60, 60)));
            if (context)
                audit.menu(context.get(), QStringLiteral("page context menu"));
            std::unique_ptr<QMenu> tools(reader->smartToolsMenu());
            audit.menu(tools.get(), QStringLiteral("analysis menu"));
        }
        for (QAction* item : w.menuBar()->actions())
            if (item->menu())
                audit.menu(item->menu(), QStringLiteral("menu bar ") + item->text());
        for (int page = 0; page < SearchWindowController::pageCount; ++page) {
            const auto which = SearchWindowController::page(page);
            if (!which || *which == BookPicker::Page::logs)
                continue;
            search.select(*which);
            audit.window(&search, QStringLiteral("search, ") + SearchWindowController::title(*which));
        }
        search.select(BookPicker::Page::books);
        audit.focusRings(&search, QStringLiteral("search"));
        audit.window(&downloads, QStringLiteral("downloads"));
        audit.window(settings, QStringLiteral("settings"));
        audit.window(about.get(), QStringLiteral("about"));
        audit.window(save.get(), QStringLiteral("save"));
    };

    Audit day(QStringLiteral("day"));
    auditAll(day);
    day.check();

    // Night switched on with everything open, as Ctrl+Shift+N does.
    Settings::setNightReading(true);
    Notifier::postReaderSettingsChanged();
    EXPECT_EVENTUALLY(QApplication::palette() == Theme::palette(true), kSettleMs);
    Audit night(QStringLiteral("night"));
    auditAll(night);
    night.check();
    EXPECT_GT(night.pairs().size(), 200);
    // The Quran tab kept its place through the switch: its current verse
    // (and so its mark) was in view and measured.
    const QString currentMark = QStringLiteral("۝٥٨");
    EXPECT_TRUE(std::any_of(night.pairs().cbegin(), night.pairs().cend(),
                            [&](const Audit::Pair& p) { return p.where.contains(currentMark); }))
        << "the current verse is out of view after the switch";

    // Pictures for a person to look at.
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    auto shoot = [&](QWidget* view, const char* name) {
        EXPECT_TRUE(view->grab().toImage().save(folder + QLatin1String(name), "PNG")) << name;
    };
    for (int tab = 0; tab < int(w.tabs().size()); ++tab) {
        w.select(tab);
        EXPECT_EVENTUALLY(w.tabs()[tab]->view()->isVisible(), kSettleMs) << tab;
        shoot(&w, qPrintable(QStringLiteral("audit-night-tab%1.png").arg(tab)));
    }
    search.select(BookPicker::Page::books);
    shoot(&search, "audit-night-search.png");
    shoot(&downloads, "audit-night-downloads.png");
    shoot(settings, "audit-night-settings.png");
    if (ReaderView* reader = [&] { w.select(0); return w.activeReader(); }()) {
        auto popover = SmartPopover::show(QStringLiteral("isnad"), reader->textView(), std::nullopt, {}, panels[0].build);
        if (QTest::qWaitFor([&] { return popover->isBuilt(); }, 20000) && popover->frame())
            shoot(popover->frame(), "audit-night-isnad.png");
        popover->close();
    }
    settings->close();
}

TEST_F(ContrastAudit, arabicMenuItemsDrawNoMnemonicUnderline)
{
    // The underline under one letter cuts an Arabic word's joining; the key
    // still works, only the drawing leaves it out.
    auto shot = [](const QString& title) {
        QMenu menu;
        menu.addAction(title);
        menu.popup(QPoint(100, 100));
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isVisible(); }, kSettleMs));
        const QImage image = menu.grab().toImage();
        menu.hide();
        return image;
    };
    EXPECT_EQ(shot(QStringLiteral("ان&سخ")), shot(QStringLiteral("انسخ")));
    EXPECT_EQ(shot(QStringLiteral("وص&لة")), shot(QStringLiteral("وصلة")));
    // Latin titles keep their underline, where it breaks nothing.
    EXPECT_NE(shot(QStringLiteral("&Copy")), shot(QStringLiteral("Copy")));
}

TEST_F(ContrastAudit, dialogButtonsDrawNoMnemonicUnderlineAndKeepRoomAroundTheirTitle)
{
    // Qt's own catalogue titles the standard buttons with a mnemonic («&نعم»).
    QDialogButtonBox standard(QDialogButtonBox::Yes | QDialogButtonBox::No);
    QStringList titles;
    for (QAbstractButton* button : standard.buttons())
        titles << QString(button->text()).remove(u'&');
    ASSERT_TRUE(std::all_of(titles.cbegin(), titles.cend(), [](const QString& t) { return t.front().script() == QChar::Script_Arabic; }))
        << "the standard buttons are not titled in Arabic";
    for (const QString& plain : titles) {
        auto shot = [](const QString& title) {
            QDialogButtonBox box;
            QPushButton* button = box.addButton(title, QDialogButtonBox::ActionRole);
            box.resize(box.sizeHint());
            box.show();
            QApplication::processEvents();
            return button->grab().toImage();
        };
        EXPECT_EQ(shot(QStringLiteral("&") + plain), shot(plain)) << plain.toStdString();
        // The title keeps some room from the button's edges.
        QDialogButtonBox box;
        QPushButton* bare = box.addButton(plain, QDialogButtonBox::ActionRole);
        EXPECT_GE(bare->sizeHint().width(), bare->fontMetrics().horizontalAdvance(plain) + 20) << plain.toStdString();
    }
    QDialogButtonBox wide;
    QPushButton* long_ = wide.addButton(QStringLiteral("استعادة الإعدادات الافتراضية"), QDialogButtonBox::ResetRole);
    EXPECT_GE(long_->sizeHint().width(), long_->fontMetrics().horizontalAdvance(long_->text()) + 20);
}
