#include "ui/reader/QuranView.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Numbers.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Beep.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/Quran.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvel {

namespace {

constexpr int kToolbarHeight = 44;
constexpr int kToolbarInset = 12;
constexpr int kToolbarSpacing = 8;
constexpr int kFieldWidth = 260;
constexpr int kNumberFieldWidth = 56;
constexpr double kControlFontSize = 13;
constexpr double kScriptFontSize = 12;
constexpr double kStatusFontSize = 12;
constexpr double kCreditFontSize = 11;

constexpr char kSearchPlaceholder[] = "ابحث في الآيات";
constexpr char kSuraLabel[] = "السورة";
constexpr char kAyahLabel[] = "الآية";
constexpr char kPageLabel[] = "الصفحة";
constexpr char kAyahTip[] = "رقم الآية";
constexpr char kPageTip[] = "صفحة المصحف";
// "ثبت مصحف الصفحات (٦٠٤ صفحات) من التنزيلات للتنقل بالصفحة".
constexpr char kPageHintBefore[] = "ثبت مصحف الصفحات (";
constexpr char kPageHintAfter[] = ") من التنزيلات للتنقل بالصفحة";
constexpr int kMushafPages = 604;
constexpr char kJuzPrefix[] = "الجزء ";
constexpr char kScriptUthmani[] = "عثماني";
constexpr char kScriptPlain[] = "إملائي";
constexpr char kScriptTip[] = "الرسم العثماني (نص مشروع تنزيل) أو الإملائي";
constexpr char kCopyTip[] = "نسخ الآية مع العزو (Ctrl+Shift+C)";
constexpr char kPlacesTip[] = "مواضع الآية في الكتب";
constexpr char kMushafTip[] = "فتح الموضع في المصحف";
constexpr char kTextLabel[] = "نص القرآن الكريم";
constexpr char kCreditText[] = "الرسم العثماني: مشروع تنزيل · ";
constexpr char kCreditSite[] = "https://tanzil.net";
constexpr char kCreditSiteShown[] = "tanzil.net";

constexpr char kStatusSura[] = "سورة ";
constexpr char kStatusAyah[] = " · الآية ";
constexpr char kStatusOf[] = " من ";
constexpr char kStatusJuz[] = "الجزء ";
constexpr char kStatusPage[] = "الصفحة ";
constexpr char kCopiedPrefix[] = "نسخ: ";

constexpr char kPlacesTitlePrefix[] = "مواضع ";
constexpr char kPlacesTitleSuffix[] = " في:";
constexpr char kPlacesTafsir[] = "كتب التفسير وعلوم القرآن";
constexpr char kPlacesAll[] = "كل كتب المكتبة";
constexpr char kNoTafsirTitle[] = "لا كتب تفسير مثبتة";
constexpr char kNoTafsirText[] = "ثبت كتب التفسير من التنزيلات، أو ابحث في كل المكتبة.";
constexpr char kOpeningNote[] = "لم يُعثر على «%1» في هذه الكتب، فهذه مواضع مطلع الآية «%2»، وهو مطلع %3 أيضا.";
constexpr char kShorterNote[] = "لم يُعثر على «%1» في هذه الكتب، فهذه مواضع مطلع الآية «%2».";
constexpr char kListJoin[] = "، ";
constexpr char kListMore[] = "، وغيرها";
// The verses named as sharing an opening; a short opening may open dozens.
constexpr int kSharingNamed = 3;
constexpr const char* kTafsirCategoryMarks[] = {"تفسير", "التفاسير", "القرآن"};
constexpr char kQuranTitle[] = "القرآن الكريم";
constexpr char kMushafSource[] = "Quran.Mushaf";

constexpr char16_t kOrnateOpen = u'\uFD3F';
constexpr char16_t kOrnateClose = u'\uFD3E';

// A number typed into a field, in any digits; nothing for other text.
std::optional<std::int64_t> typedNumber(const QString& text)
{
    return Numbers::parseInteger(Arabic::latinDigits(text).trimmed());
}

bool isQuranBook(const Book& book)
{
    return book.title == QString::fromUtf8(kQuranTitle) ||
           book.source.value_or(QString()).contains(QLatin1String(kMushafSource));
}

} // namespace

// ---- AyahTextView -----------------------------------------------------------

AyahTextView::AyahTextView(QWidget* parent) : QTextBrowser(parent) {}

void AyahTextView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        // The tab scrolls and turns its pages, whichever control has the keyboard.
        event->ignore();
        return;
    }
    const bool arrow = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right;
    if (!arrow || event->modifiers() != Qt::NoModifier || !onArrow) {
        QTextBrowser::keyPressEvent(event);
        return;
    }
    // Arabic runs right to left, so the left arrow goes forward.
    event->accept();
    onArrow(event->key() == Qt::Key_Left ? +1 : -1);
}

void AyahTextView::mouseReleaseEvent(QMouseEvent* event)
{
    QTextBrowser::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || textCursor().hasSelection() || !onAyah)
        return;
    const int position = cursorForPosition(event->position().toPoint()).position();
    if (position < 0 || position >= document()->characterCount() - 1)
        return;
    const QVariant key = RichText::formatAt(*document(), position).property(TextProperty::ayahKey);
    if (key.isValid())
        onAyah(key.toInt());
}

// ---- QuranView --------------------------------------------------------------

QuranView::QuranView(std::shared_ptr<Library> lib, std::shared_ptr<const QuranText> q, QWidget* parent)
    : TabContent(parent), lib_(std::move(lib)), q_(std::move(q)), renderer_(QuranRenderer::State{})
{
    Q_ASSERT(lib_ && q_);
    renderer_.state().q = q_.get();
    renderer_.state().uthmani = &QuranText::uthmani();
    build();
    restorePosition();
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this, &QuranView::settingsChanged);
}

QuranView::~QuranView() = default;

void QuranView::restorePosition()
{
    QList<std::int64_t> numbers;
    const QString stored = lib_->kv(QString::fromLatin1(positionKey)).value_or(QString());
    for (const QString& piece : stored.split(u':', Qt::SkipEmptyParts))
        if (const auto n = Numbers::parseInteger(piece))
            numbers.append(*n);
    if (numbers.size() == 2 && numbers[0] >= 1 && numbers[0] <= QuranText::suraCount)
        show(int(numbers[0]), int(std::clamp<std::int64_t>(numbers[1], -1, 1'000'000)), true);
    else
        show(1, 1, false);
}

void QuranView::build()
{
    textView_ = new AyahTextView;
    textView_->setOpenLinks(false);
    textView_->setReadOnly(true);
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->setLayoutDirection(Qt::RightToLeft);
    textView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    textView_->setAccessibleName(QString::fromUtf8(kTextLabel));
    QPointer<QuranView> self(this);
    textView_->onAyah = [self](int i) {
        if (self)
            self->clicked(i);
    };
    textView_->onArrow = [self](int delta) {
        if (self && !self->stepPage(delta))
            Beep::play();
    };

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildToolbar());
    column->addWidget(textView_, 1);
    column->addWidget(buildBottomBar());
    setFocusProxy(field_);
    settingsChanged();
}

QWidget* QuranView::buildToolbar()
{
    QPointer<QuranView> self(this);
    toolbar_ = new BarView;
    toolbar_->setFixedHeight(kToolbarHeight);

    field_ = new QLineEdit;
    field_->setPlaceholderText(QString::fromUtf8(kSearchPlaceholder));
    field_->setFont(Theme::ui(kControlFontSize));
    field_->setFixedWidth(kFieldWidth);
    field_->setClearButtonEnabled(true);
    connect(field_, &QLineEdit::textChanged, this, [self] {
        if (self)
            self->runSearch();
    });

    // The script switch: two exclusive segments.
    auto* script = new QWidget;
    auto* scriptRow = new QHBoxLayout(script);
    scriptRow->setContentsMargins(0, 0, 0, 0);
    scriptRow->setSpacing(0);
    scriptSeg_ = new QButtonGroup(script);
    scriptSeg_->setExclusive(true);
    const char* segments[] = {kScriptUthmani, kScriptPlain};
    for (int segment = 0; segment < 2; ++segment) {
        auto* button = new QToolButton;
        button->setText(QString::fromUtf8(segments[segment]));
        button->setCheckable(true);
        button->setFont(Theme::ui(kScriptFontSize));
        // Tab reaches the checked segment, as it does a group of radio buttons.
        button->setFocusPolicy(Qt::TabFocus);
        scriptSeg_->addButton(button, segment);
        scriptRow->addWidget(button);
    }
    scriptSeg_->button(Settings::quranUthmani() ? 0 : 1)->setChecked(true);
    script->setEnabled(!QuranText::uthmani().isEmpty());
    script->setToolTip(QString::fromUtf8(kScriptTip));
    connect(scriptSeg_, &QButtonGroup::idClicked, this, [self](int segment) {
        if (!self)
            return;
        Settings::setQuranUthmani(segment == 0);
        self->render();
        self->show(self->sura_, self->q_->ayat[self->selected_].n, true);
    });

    suraPopup_ = new QComboBox;
    suraPopup_->setFont(Theme::ui(kControlFontSize));
    for (int s = 1; s <= QuranText::suraCount; ++s)
        suraPopup_->addItem(Arabic::num(s) + QStringLiteral(". ") + QuranText::name(s));
    suraPopup_->setMaxVisibleItems(20);
    onAction(suraPopup_, [self](QObject*) {
        if (self)
            self->show(self->suraPopup_->currentIndex() + 1, 1, true);
    });

    juzPopup_ = new QComboBox;
    juzPopup_->setFont(Theme::ui(kControlFontSize));
    for (int j = 1; j <= QuranText::juzCount; ++j)
        juzPopup_->addItem(QString::fromUtf8(kJuzPrefix) + Arabic::num(j));
    juzPopup_->setMaxVisibleItems(20);
    onAction(juzPopup_, [self](QObject*) {
        if (!self)
            return;
        const auto [s, a] = QuranText::juz()[std::clamp(self->juzPopup_->currentIndex(), 0, QuranText::juzCount - 1)];
        self->show(s, a, true);
    });

    auto numberField = [](const char* tip) {
        auto* field = new QLineEdit;
        field->setFont(Theme::ui(kControlFontSize));
        field->setAlignment(Qt::AlignCenter);
        field->setFixedWidth(kNumberFieldWidth);
        field->setPlaceholderText(QString::fromUtf8(tip));
        field->setToolTip(QString::fromUtf8(tip));
        return field;
    };
    ayahField_ = numberField(kAyahTip);
    onAction(ayahField_, [self](QObject*) {
        if (!self)
            return;
        if (const auto n = typedNumber(self->ayahField_->text()))
            self->show(self->sura_, int(std::clamp<std::int64_t>(*n, 0, 1'000'000)), true);
    });
    pageField_ = numberField(kPageTip);
    pageField_->setEnabled(q_->pagesBook.has_value());
    if (!q_->pagesBook)
        pageField_->setToolTip(QString::fromUtf8(kPageHintBefore) + CountedNoun::pages().count(kMushafPages)
                               + QString::fromUtf8(kPageHintAfter));
    onAction(pageField_, [self](QObject*) {
        if (!self)
            return;
        if (const auto n = typedNumber(self->pageField_->text()))
            self->goToPage(int(std::clamp<std::int64_t>(*n, -1, 1'000'000)));
    });

    auto* copy = iconButton(QStringLiteral("doc.on.doc.fill"), QString::fromUtf8(kCopyTip), 17, [self] {
        if (self)
            self->copyCited();
    });
    auto* places = iconButton(QStringLiteral("text.magnifyingglass"), QString::fromUtf8(kPlacesTip), 18, [self] {
        if (!self)
            return;
        QMenu* menu = self->citedMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(QCursor::pos());
    });
    auto* mushaf = iconButton(QStringLiteral("book.pages.fill"), QString::fromUtf8(kMushafTip), 18, [self] {
        if (self)
            self->openInMushaf();
    });

    auto heading = [](const char* text) { return label(QString::fromUtf8(text), kControlFontSize, QFont::Medium); };
    auto* row = new QHBoxLayout(toolbar_);
    row->setContentsMargins(kToolbarInset, 0, kToolbarInset, 0);
    row->setSpacing(kToolbarSpacing);
    for (QWidget* w : QList<QWidget*>{field_, script, heading(kSuraLabel), suraPopup_, heading(kAyahLabel), ayahField_,
                                      juzPopup_, heading(kPageLabel), pageField_})
        row->addWidget(w, 0, Qt::AlignVCenter);
    row->addStretch(1);
    for (QWidget* w : QList<QWidget*>{copy, places, mushaf})
        row->addWidget(w, 0, Qt::AlignVCenter);
    return toolbar_;
}

QWidget* QuranView::buildBottomBar()
{
    status_ = label(QString(), kStatusFontSize, QFont::Normal, Theme::secondaryLabel());
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // A plain label: the kit's eliding label draws its text as plain text,
    // and this one carries a link.
    credit_ = new QLabel;
    credit_->setFont(Theme::ui(kCreditFontSize));
    credit_->setTextFormat(Qt::RichText);
    // The colours are fixed when the text is read, the link's too: a new
    // appearance writes it again.
    followPalette(credit_, [label = credit_] {
        label->setText(QStringLiteral("<span style=\"color:%1\">%2<a href=\"%3\" style=\"color:%5\">%4</a></span>")
                           .arg(Theme::secondaryLabel().name(), QString::fromUtf8(kCreditText).toHtmlEscaped(),
                                QString::fromLatin1(kCreditSite), QString::fromLatin1(kCreditSiteShown),
                                Theme::accent().resolve().name()));
    });
    credit_->setOpenExternalLinks(true);
    credit_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    credit_->setVisible(!QuranText::uthmani().isEmpty());

    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 4, 14, 6);
    row->setSpacing(8);
    row->addWidget(status_, 1);
    row->addWidget(credit_, 0);
    return bar;
}

// ---- Showing -------------------------------------------------------------------

void QuranView::render()
{
    QuranRenderer::State& state = renderer_.state();
    state.sura = sura_;
    state.selected = selected_;
    state.results = results_;
    state.terms = terms_;
    state.searchText = field_->text();
    state.readerSize = Settings::readerSize();
    state.lineSpacing = Settings::lineSpacing();
    state.uthmaniWanted = Settings::quranUthmani();
    QTextDocument* document = renderer_.render().release();
    document->setParent(textView_);
    // The text view deletes a document it made itself; the ones given to it
    // are deleted here, or with the text view, their parent.
    const QPointer<QTextDocument> old = textView_->document();
    textView_->setDocument(document);
    if (old && old != document && old->parent() == textView_)
        delete old;
    rendered_ = true;
    if (results_)
        status_->setText(renderer_.resultStatus());
}

void QuranView::show(int sura, int ayah, bool scroll)
{
    sura_ = std::clamp(sura, 1, QuranText::suraCount);
    selected_ = q_->index(sura_, ayah);
    results_.reset();
    render();
    if (scroll) {
        QPointer<QuranView> self(this);
        QTimer::singleShot(0, this, [self] {
            if (self)
                self->scrollToSelected();
        });
    }
    sync();
}

void QuranView::scrollToSelected()
{
    const QList<std::pair<int, int>> ranges = renderer_.ranges(selected_);
    QTextDocument* document = textView_->document();
    if (ranges.isEmpty() || !document)
        return;
    document->setTextWidth(textView_->viewport()->width());
    if (textView_->viewport()->width() <= 1)
        return;
    const QRectF rect = RichText::rangeRect(*document, ranges.first().first, ranges.first().second);
    textView_->verticalScrollBar()->setValue(std::max(0, int(rect.top()) - scrollMargin));
}

void QuranView::sync()
{
    const Ayah& v = q_->ayat[selected_];
    const int juz = q_->juzOf(selected_);
    suraPopup_->setCurrentIndex(v.sura - 1);
    juzPopup_->setCurrentIndex(juz - 1);
    ayahField_->setText(Arabic::num(v.n));
    pageField_->setText(v.page ? Arabic::num(*v.page) : QString());
    if (!results_) {
        QString line = QString::fromUtf8(kStatusSura) + QuranText::name(v.sura) + QString::fromUtf8(kStatusAyah) +
                       Arabic::num(v.n) + QString::fromUtf8(kStatusOf) + Arabic::num(q_->count(v.sura)) +
                       QString::fromUtf8(CountedNoun::separator) + QString::fromUtf8(kStatusJuz) + Arabic::num(juz);
        if (v.page)
            line += QString::fromUtf8(CountedNoun::separator) + QString::fromUtf8(kStatusPage) + Arabic::num(*v.page);
        status_->setText(line);
    }
    lib_->setKV(QString::fromLatin1(positionKey), QString::number(v.sura) + u':' + QString::number(v.n));
    if (onChange)
        onChange();
}

void QuranView::clicked(int i)
{
    if (i < 0 || i >= q_->ayat.size())
        return;
    if (results_) {
        show(q_->ayat[i].sura, q_->ayat[i].n, true);
        return;
    }
    const int previous = selected_;
    selected_ = i;
    renderer_.state().selected = i;
    if (QTextDocument* document = textView_->document()) {
        renderer_.restyle(*document, QList<int>{previous, i});
    }
    sync();
}

bool QuranView::goToPage(int page)
{
    for (int i = 0; i < q_->ayat.size(); ++i) {
        if (q_->ayat[i].page.value_or(0) >= page) {
            show(q_->ayat[i].sura, q_->ayat[i].n, true);
            return true;
        }
    }
    return false;
}

bool QuranView::canPage() const
{
    return !q_->ayat.isEmpty() && q_->ayat[selected_].page.has_value();
}

bool QuranView::stepPage(int delta)
{
    if (!canPage())
        return false;
    const int target = *q_->ayat[selected_].page + delta;
    return target >= 1 && goToPage(target);
}

bool QuranView::firstPage()
{
    return canPage() && goToPage(1);
}

bool QuranView::lastPage()
{
    if (!canPage())
        return false;
    int last = 0;
    for (const Ayah& v : q_->ayat)
        last = std::max(last, v.page.value_or(0));
    return goToPage(last);
}

bool QuranView::scrollKey(int key)
{
    const bool forward = key == Qt::Key_Down || key == Qt::Key_PageDown;
    const bool screen = key == Qt::Key_PageDown || key == Qt::Key_PageUp;
    if (!forward && key != Qt::Key_Up && key != Qt::Key_PageUp)
        return false;
    QScrollBar* bar = textView_->verticalScrollBar();
    const int before = bar->value();
    bar->triggerAction(screen ? (forward ? QAbstractSlider::SliderPageStepAdd : QAbstractSlider::SliderPageStepSub)
                              : (forward ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub));
    if (!screen || bar->value() != before)
        return true;
    // At the end of the text a screen more is the page after the sura's
    // last verse, at its start the page before its first; the text shows
    // whole suras, so that is the next or the previous sura.
    if (results_ || (forward ? sura_ >= QuranText::suraCount : sura_ <= 1)) {
        Beep::play();
        return true;
    }
    if (forward)
        show(sura_ + 1, 1, true);
    else
        show(sura_ - 1, q_->count(sura_ - 1), true);
    return true;
}

void QuranView::keyPressEvent(QKeyEvent* event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && scrollKey(event->key())) {
        event->accept();
        return;
    }
    TabContent::keyPressEvent(event);
}

void QuranView::openInMushaf()
{
    if (!onOpenBook)
        return;
    const Ayah& v = q_->ayat[selected_];
    if (q_->pagesBook && v.page && q_->pageSeq.contains(*v.page)) {
        onOpenBook(*q_->pagesBook, q_->pageSeq.value(*v.page));
        return;
    }
    onOpenBook(q_->textBook, lib_->seqFor(q_->textBook, std::nullopt, v.sura).value_or(v.sura));
}

std::pair<int, int> QuranView::position() const
{
    const Ayah& v = q_->ayat[selected_];
    return {v.sura, v.n};
}

void QuranView::focusSearch()
{
    if (window())
        field_->setFocus();
}

void QuranView::setSearch(const QString& text)
{
    // Setting the text searches through the field's change signal.
    if (field_->text() == text)
        runSearch();
    else
        field_->setText(text);
}

void QuranView::settingsChanged()
{
    QPalette p = textView_->palette();
    p.setColor(QPalette::Base, Theme::parchment());
    p.setColor(QPalette::Text, Theme::ink());
    textView_->setPalette(p);
    if (!rendered_)
        return;
    // The new document starts at its top: the reader keeps the place he was
    // reading, as a share of the sura, once the new text is laid out.
    QScrollBar* bar = textView_->verticalScrollBar();
    const double place = bar->maximum() > 0 ? double(bar->value()) / bar->maximum() : 0;
    render();
    if (QTextDocument* document = textView_->document(); document && textView_->viewport()->width() > 1) {
        document->setTextWidth(textView_->viewport()->width());
        // Laying the whole text out sets the scroll range.
        (void)document->size();
    }
    bar->setValue(int(place * bar->maximum()));
}

// ---- Search and cited copy ----------------------------------------------------------

void QuranView::runSearch()
{
    terms_ = Arabic::normalize(field_->text(), true).split(u' ', Qt::SkipEmptyParts);
    if (terms_.isEmpty()) {
        if (results_)
            show(sura_, q_->ayat[selected_].n, true);
        return;
    }
    results_ = q_->search(terms_);
    render();
    textView_->verticalScrollBar()->setValue(0);
}

QList<int> QuranView::selectedAyat() const
{
    QList<int> keys;
    const QTextCursor cursor = textView_->textCursor();
    if (!cursor.hasSelection())
        return keys;
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    const QTextDocument* document = textView_->document();
    QSet<int> seen;
    for (QTextBlock block = document->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.position() + fragment.length() <= start || fragment.position() >= end)
                continue;
            const QVariant key = fragment.charFormat().property(TextProperty::ayahKey);
            if (key.isValid() && !seen.contains(key.toInt())) {
                seen.insert(key.toInt());
                keys.append(key.toInt());
            }
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

void QuranView::copyCited()
{
    QString text = renderer_.display(selected_);
    QString citation = q_->cite(selected_);
    const QTextCursor cursor = textView_->textCursor();
    if (cursor.hasSelection()) {
        text = cursor.selectedText().replace(QChar::ParagraphSeparator, u'\n').trimmed();
        const QList<int> keys = selectedAyat();
        if (!keys.isEmpty()) {
            // Each run of consecutive verses of one sura is cited on its own,
            // so verses listed apart are never cited as one range.
            QStringList runs;
            qsizetype from = 0;
            for (qsizetype k = 1; k <= keys.size(); ++k) {
                const bool ends = k == keys.size() || keys[k] != keys[k - 1] + 1 ||
                                  q_->ayat[keys[k]].sura != q_->ayat[keys[k - 1]].sura;
                if (!ends)
                    continue;
                runs.append(q_->cite(keys[from], keys[k - 1]));
                from = k;
            }
            citation = runs.join(u' ');
        }
    }
    QApplication::clipboard()->setText(kOrnateOpen + text + kOrnateClose + u' ' + citation);
    status_->setText(QString::fromUtf8(kCopiedPrefix) + citation);
}

QString QuranView::statusText() const
{
    return status_->text();
}

QMenu* QuranView::citedMenu()
{
    QPointer<QuranView> self(this);
    auto* menu = new QMenu(this);
    QAction* title = menu->addAction(QString::fromUtf8(kPlacesTitlePrefix) + q_->cite(selected_) +
                                     QString::fromUtf8(kPlacesTitleSuffix));
    title->setEnabled(false);
    menu->addAction(menuItem(QString::fromUtf8(kPlacesTafsir), QString(),
                             [self] {
                                 if (self)
                                     self->searchCited(true);
                             },
                             menu));
    menu->addAction(menuItem(QString::fromUtf8(kPlacesAll), QString(),
                             [self] {
                                 if (self)
                                     self->searchCited(false);
                             },
                             menu));
    return menu;
}

QuranView::Places QuranView::places(int index) const
{
    const QStringList words = q_->ayat[index].plain.split(u' ', Qt::SkipEmptyParts);
    const qsizetype opening = words.size() < wholeVerseWords ? words.size() : leadingWords;
    // Leading words that open another verse too (the Throne Verse's open
    // Al Imran 2) would find the places of that verse: words are added until
    // no other verse holds them.
    auto holders = [&](const QString& phrase) {
        QList<int> found;
        for (int i = 0; i < q_->ayat.size(); ++i)
            if (i != index && q_->ayat[i].plain.contains(phrase))
                found.append(i);
        return found;
    };
    qsizetype taken = opening;
    while (taken < words.size() && !holders(words.mid(0, taken).join(u' ')).isEmpty())
        ++taken;
    Places found{words.mid(0, taken).join(u' '), {}};
    // Books may quote the verse no further than a few of its words: each
    // shorter opening is searched in turn when the longer found nothing, so
    // the places are those of the longest opening the books quote.
    for (qsizetype length = taken - 1; length >= shortestOpening; --length) {
        const QString openingWords = words.mid(0, length).join(u' ');
        const QList<int> sharing = holders(openingWords);
        QStringList named;
        for (qsizetype k = 0; k < sharing.size() && k < kSharingNamed; ++k)
            named.append(q_->cite(sharing[k]));
        QString note = sharing.isEmpty()
            ? QString::fromUtf8(kShorterNote).arg(found.phrase, openingWords)
            : QString::fromUtf8(kOpeningNote)
                  .arg(found.phrase, openingWords,
                       named.join(QString::fromUtf8(kListJoin)) +
                           (sharing.size() > kSharingNamed ? QString::fromUtf8(kListMore) : QString()));
        SearchQuery shorter;
        shorter.andPhrases = {openingWords};
        shorter.inNotes = false;
        found.fallbacks.append(Fallback{shorter, note});
    }
    return found;
}

void QuranView::searchCited(bool tafsirOnly)
{
    if (q_->ayat[selected_].plain.isEmpty())
        return;
    Places cited = places(selected_);

    QSet<std::int64_t> quranBooks;
    const QList<Book> books = lib_->books();
    for (const Book& book : books)
        if (isQuranBook(book))
            quranBooks.insert(book.id);

    QList<std::int64_t> scope;
    if (tafsirOnly) {
        for (const Category& category : lib_->categories()) {
            const bool tafsir = std::any_of(std::begin(kTafsirCategoryMarks), std::end(kTafsirCategoryMarks),
                                            [&](const char* mark) { return category.name.contains(QString::fromUtf8(mark)); });
            if (!tafsir)
                continue;
            for (const std::int64_t id : category.bookIds)
                if (!quranBooks.contains(id))
                    scope.append(id);
        }
        if (scope.isEmpty()) {
            Dialogs::alert(QString::fromUtf8(kNoTafsirTitle), QString::fromUtf8(kNoTafsirText), window());
            return;
        }
    } else {
        for (const Book& book : books)
            if (!quranBooks.contains(book.id))
                scope.append(book.id);
    }
    SearchQuery query;
    query.andPhrases = {cited.phrase};
    query.inNotes = false;
    query.scope = scope;
    for (Fallback& fallback : cited.fallbacks)
        fallback.query.scope = scope;
    if (onSearch)
        onSearch(query, cited.fallbacks);
}

// ---- TabContent ---------------------------------------------------------------------

QString QuranView::title() const
{
    return tabTitle();
}

QString QuranView::tabTitle()
{
    constexpr char kTitle[] = "القرآن الكريم";
    return QString::fromUtf8(kTitle);
}

QString QuranView::symbol() const
{
    return QString::fromLatin1(tabSymbol);
}

Json::Value QuranView::sessionJSON() const
{
    const auto [s, a] = position();
    Json::Value tab = Json::Value::object();
    tab["k"] = sessionKind;
    tab["sura"] = s;
    tab["ayah"] = a;
    return tab;
}

bool QuranView::restore(const Json::Value& entry)
{
    if (Json::strictString(entry, "k") != QLatin1String(sessionKind))
        return false;
    const auto s = Json::strictInt(entry, "sura");
    const auto a = Json::strictInt(entry, "ayah");
    if (!s || !a)
        return false;
    show(int(std::clamp<std::int64_t>(*s, 1, QuranText::suraCount)), int(std::clamp<std::int64_t>(*a, 0, 1'000'000)),
         true);
    return true;
}

} // namespace quorvel
