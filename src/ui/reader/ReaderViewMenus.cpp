// The reader's menus (the author's other books, the smart tools, the book's
// notes, the page text's context menu), the author's biography, the word
// under the mouse, the analysis pop-ups and the in-app links they carry.

#include "ui/reader/ReaderView.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Numbers.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Beep.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/MenuPages.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/reader/PageRenderer.h"
#include "ui/reader/SmartPopover.h"
#include "scholar/Collate.h"

#include <QAbstractTextDocumentLayout>
#include <QKeySequence>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTreeView>

namespace quorvel {

namespace {

constexpr char kWordTitle[] = "الكلمة";
constexpr char kSourcesTitle[] = "المصادر";
constexpr char kIsnadTitle[] = "الإسناد";
constexpr char kEditionsTitle[] = "الطبعات";
constexpr char kPhraseTreeTitle[] = "شجرة المسألة";
constexpr char kCollateTitle[] = "مقابلة";
constexpr char kNarratorTitle[] = "الراوي";

constexpr int kMinWordCharacters = 2;

bool isBlank(QChar c)
{
    return c.isSpace();
}

bool isWordEdge(QChar c)
{
    return c.isSpace() || c.isPunct() || c.category() == QChar::Symbol_Other;
}

// Shows the key the main menu gives a command beside the menu's own copy,
// which answers no key itself.
void showKey(QAction* action, const char* key)
{
    action->setShortcut(QKeySequence(QString::fromLatin1(key)));
    action->setShortcutContext(Qt::WidgetShortcut);
    action->setShortcutVisibleInContextMenu(true);
}

// The decimal numbers among the pieces of a link's tail.
QList<std::int64_t> numbersOf(const QString& link, const QString& prefix)
{
    QString rest = link;
    rest.remove(prefix);
    QList<std::int64_t> numbers;
    for (const QString& piece : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (const auto n = Numbers::parseInteger(piece))
            numbers << *n;
    return numbers;
}

} // namespace

QString ReaderView::selectedText() const
{
    QString text = textView_->textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text.trimmed();
}

QString ReaderView::selectedPhrase() const
{
    const QTextCursor cursor = textView_->textCursor();
    if (!cursor.hasSelection())
        return {};
    const QTextDocument* document = textView_->document();
    const auto inWord = [document](int at) {
        const QChar c = document->characterAt(at);
        return c.isLetter() || c.isMark();
    };
    int start = cursor.selectionStart();
    int end = cursor.selectionEnd();
    if (start > 0 && inWord(start - 1))
        while (start < end && inWord(start))
            ++start;
    if (inWord(end))
        while (end > start && inWord(end - 1))
            --end;
    QString words;
    for (QTextBlock block = document->findBlock(start); block.isValid() && block.position() < end; block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment piece = it.fragment();
            const int from = std::max(start, piece.position());
            const int to = std::min(end, piece.position() + piece.length());
            const auto role = PageRenderer::Role(piece.charFormat().intProperty(TextProperty::pageRole));
            const bool text = int(role) == 0 || role == PageRenderer::Role::main || role == PageRenderer::Role::footnote;
            if (from < to)
                words += text ? piece.text().mid(from - piece.position(), to - from) : QStringLiteral(" ");
        }
        words += u' ';
    }
    return words.simplified();
}

QMenu* ReaderView::authorBooksMenu()
{
    if (!book_.authorId)
        return nullptr;
    auto* menu = new QMenu(this);
    const QPointer<ReaderView> self(this);
    const std::shared_ptr<const Catalog> catalog = lib_->catalog();
    QList<std::int64_t> own;
    for (const Book& other : catalog->books)
        if (other.authorId == book_.authorId)
            own.append(other.id);
    // Two editions of one work would read alike.
    const QHash<std::int64_t, QString> titles = BookTitles::labels(*catalog, own);
    for (const Book& other : catalog->books) {
        if (other.authorId != book_.authorId)
            continue;
        QAction* item = menu->addAction(titles.value(other.id));
        item->setCheckable(true);
        item->setChecked(other.id == book_.id);
        const std::int64_t id = other.id;
        // Another edition of this work opens where it holds the page shown.
        const bool edition = id != book_.id && BookTitles::sameWork(book_, other);
        connect(item, &QAction::triggered, this, [self, id, edition] {
            if (self && self->onOpenBook)
                self->onOpenBook(id, edition ? self->counterpartSeq(id) : std::nullopt);
        });
    }
    return menu;
}

std::optional<std::int64_t> ReaderView::counterpartSeq(std::int64_t otherBook) const
{
    if (!page_)
        return std::nullopt;
    const std::optional<Page> other = Collate::counterpart(*lib_, *page_, otherBook);
    return other ? std::optional<std::int64_t>(other->seq) : std::nullopt;
}

QString ReaderView::shownTitle() const
{
    const QString label = BookTitles::label(*lib_->catalog(), book_.id);
    return label.isEmpty() ? book_.title : label;
}

void ReaderView::showAuthorBio()
{
    constexpr char kNoBiography[] = "لا توجد ترجمة للمؤلّف";
    constexpr char kDeath[] = "\nالوفاة: ";
    constexpr char kHijri[] = "هـ";
    constexpr char kInLibrary[] = "\n\nله في المكتبة: ";
    const std::optional<Author> author = lib_->author(book_);
    if (!author) {
        Dialogs::alert(QString::fromUtf8(kNoBiography), QString(), window());
        return;
    }
    const Library::AuthorBio bio = lib_->authorBio(author->id);
    QString message = bio.fullName.value_or(author->name);
    if (author->death)
        message += QString::fromUtf8(kDeath) + Arabic::num(*author->death) + QString::fromUtf8(kHijri);
    if (bio.bio && !bio.bio->isEmpty())
        message += QStringLiteral("\n\n") + *bio.bio;
    qsizetype books = 0;
    for (const Book& other : lib_->books())
        books += other.authorId == author->id ? 1 : 0;
    message += QString::fromUtf8(kInLibrary) + CountedNoun::books().count(books);
    Dialogs::alert(author->name, message, window());
}

QMenu* ReaderView::smartToolsMenu()
{
    constexpr char kPageSources[] = "مصادر هذا النصّ ونقوله (العزو الحيّ)";
    constexpr char kPageIsnad[] = "الإسناد والرواة في هذه الصفحة";
    constexpr char kPageEditions[] = "طبعات أخرى من الكتاب ومقابلتها";
    constexpr char kCollateWithEdition[] = "قابل هذه الصفحة بطبعة أخرى";
    constexpr char kPhraseTreeOf[] = "شجرة المسألة: «";
    constexpr char kPhraseTreeFirst[] = "شجرة المسألة (حدّد عبارة أولاً)";
    constexpr char kWordAnalysisOf[] = "تحليل الكلمة: «";
    constexpr char kCloseQuote[] = "»";
    constexpr int kPhraseTreeCharacters = 30;
    auto* menu = new QMenu(this);
    const QPointer<ReaderView> self(this);
    if (page_) {
        QAction* sources = menu->addAction(QString::fromUtf8(kPageSources));
        connect(sources, &QAction::triggered, this, [self] {
            if (self)
                self->showReuse();
        });
        QAction* isnad = menu->addAction(QString::fromUtf8(kPageIsnad));
        connect(isnad, &QAction::triggered, this, [self] {
            if (self)
                self->showIsnad();
        });
        QAction* editions = menu->addAction(QString::fromUtf8(kPageEditions));
        connect(editions, &QAction::triggered, this, [self] {
            if (self)
                self->showEditions();
        });
        QAction* collate = menu->addAction(QString::fromUtf8(kCollateWithEdition));
        connect(collate, &QAction::triggered, this, [self] {
            if (self)
                self->collateWithEdition();
        });
        // The keys the main menu gives them, shown here too; the menu's own
        // copies answer no key.
        for (const auto& [action, key] : {std::pair{editions, editionsShortcut}, std::pair{collate, collateShortcut},
                                          std::pair{sources, reuseShortcut}, std::pair{isnad, isnadShortcut}})
            showKey(action, key);
    }
    const QString selection = selectedText();
    const QString phrase = selectedPhrase();
    QAction* tree = menu->addAction(phrase.isEmpty() ? QString::fromUtf8(kPhraseTreeFirst)
                                                     : QString::fromUtf8(kPhraseTreeOf) +
                                                           PanelText::leftCharacters(phrase, kPhraseTreeCharacters) +
                                                           QString::fromUtf8(kCloseQuote));
    tree->setEnabled(!phrase.isEmpty());
    showKey(tree, phraseTreeShortcut);
    if (!phrase.isEmpty())
        connect(tree, &QAction::triggered, this, phraseTree(phrase));
    if (!selection.isEmpty() && std::none_of(selection.begin(), selection.end(), isBlank) && PanelText::wordOf(selection)) {
        QAction* word = menu->addAction(QString::fromUtf8(kWordAnalysisOf) + selection + QString::fromUtf8(kCloseQuote));
        connect(word, &QAction::triggered, this, [self] {
            if (self)
                self->showWordAnalysis();
        });
        showKey(word, wordShortcut);
    }
    return menu;
}

QMenu* ReaderView::notesMenu()
{
    constexpr char kNoNotes[] = "لا توجد تعليقات في هذا الكتاب";
    constexpr char kNewNote[] = "تعليق جديد على هذه الصفحة";
    constexpr char kAside[] = " — محفوظ جانبا، بعد آخر صفحات الكتاب";
    constexpr int kNoteCharacters = 60;
    constexpr int kNotesMenuOtherRows = 3; // the separator and the new note
    auto* menu = new QMenu(this);
    const QPointer<ReaderView> self(this);
    const QList<Note> notes = lib_->notes(book_.id);
    QList<QAction*> items;
    for (const Note& note : notes) {
        // The page as the reader names it ("ج٢ ص٦"), not its place in the book.
        const std::optional<Page> page = lib_->page(book_.id, note.seq);
        auto* item = new QAction(PanelText::pageLabel(page ? page->vol : std::nullopt, page ? page->num : std::nullopt, note.seq) +
                                     QStringLiteral(": ") + PanelText::leftCharacters(note.text, kNoteCharacters),
                                 menu);
        items << item;
        // A note past the book's pages is set aside: listed, opening nothing.
        if (lib_->setAside(book_.id, note.seq)) {
            item->setText(item->text() + QString::fromUtf8(kAside));
            item->setEnabled(false);
            continue;
        }
        const std::int64_t seq = note.seq;
        connect(item, &QAction::triggered, this, [self, seq] {
            if (self)
                self->go(seq, true);
        });
    }
    // A book with many notes keeps the menu to the screen's height.
    MenuPages::add(menu, items, MenuPages::rows(menu) - kNotesMenuOtherRows);
    if (notes.isEmpty())
        menu->addAction(QString::fromUtf8(kNoNotes))->setEnabled(false);
    menu->addSeparator();
    connect(menu->addAction(QString::fromUtf8(kNewNote)), &QAction::triggered, this, [self] {
        if (self)
            self->editNote();
    });
    return menu;
}

void ReaderView::decorateMenu(QMenu* menu, const QPoint& viewportPos)
{
    constexpr char kCopyCited[] = "نسخ مع العزو";
    constexpr char kNoteOnPage[] = "تعليق على هذه الصفحة";
    constexpr char kReportOnPage[] = "الإبلاغ عن خطأ في هذه الصفحة";
    constexpr char kAnalyseWord[] = "تحليل «";
    constexpr char kAnalyseWordTail[] = "»: الصرف والورود والمعنى";
    constexpr char kSearchWord[] = "بحث عن «";
    constexpr char kSearchWordTail[] = "» في المكتبة";
    constexpr char kPhraseTreeHere[] = "شجرة المسألة لهذه العبارة";
    constexpr int kPhraseTreeMinCharacters = 7;
    const QPointer<ReaderView> self(this);
    auto guarded = [self](void (ReaderView::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    QAction* before = menu->actions().value(0);
    QList<QAction*> top;
    auto* copy = new QAction(QString::fromUtf8(kCopyCited), menu);
    connect(copy, &QAction::triggered, this, guarded(&ReaderView::copyCited));
    auto* note = new QAction(QString::fromUtf8(kNoteOnPage), menu);
    connect(note, &QAction::triggered, this, guarded(&ReaderView::editNote));
    auto* report = new QAction(QString::fromUtf8(kReportOnPage), menu);
    connect(report, &QAction::triggered, this, guarded(&ReaderView::reportError));
    auto* separator = new QAction(menu);
    separator->setSeparator(true);

    if (const std::optional<WordAt> found = word(viewportPos)) {
        const QString bare = Arabic::stripMarks(found->word);
        const std::shared_ptr<Library> lib = lib_;
        const QRect rect = found->rect;
        // A number is searched for, not analysed.
        if (const std::optional<QString> analysable = PanelText::wordOf(found->word)) {
            const QString chosen = *analysable;
            auto* analyse = new QAction(QString::fromUtf8(kAnalyseWord) + chosen + QString::fromUtf8(kAnalyseWordTail), menu);
            connect(analyse, &QAction::triggered, this, [self, lib, chosen, rect] {
                if (self)
                    self->showSmart(QString::fromUtf8(kWordTitle), rect,
                                    [lib, chosen] { return PanelText::word(*lib, chosen); });
            });
            top << analyse;
        }
        auto* search = new QAction(QString::fromUtf8(kSearchWord) + bare + QString::fromUtf8(kSearchWordTail), menu);
        connect(search, &QAction::triggered, this, [self, bare] {
            if (self)
                self->handleSmartLink(PanelText::searchURL(bare));
        });
        top << search;
    }
    const QString selection = selectedPhrase();
    if (std::any_of(selection.begin(), selection.end(), isBlank) &&
        Characters::count(selection, kPhraseTreeMinCharacters) >= kPhraseTreeMinCharacters) {
        auto* tree = new QAction(QString::fromUtf8(kPhraseTreeHere), menu);
        connect(tree, &QAction::triggered, this, phraseTree(selection));
        top.prepend(tree);
    }
    top << copy << note << report << separator;
    menu->insertActions(before, top);
    if (extraMenuHook)
        extraMenuHook(menu, viewportPos);
}

std::optional<ReaderView::WordAt> ReaderView::word(const QPoint& viewportPos) const
{
    QTextDocument* document = textView_->document();
    const QPointF at(viewportPos.x() + textView_->horizontalScrollBar()->value(),
                     viewportPos.y() + textView_->verticalScrollBar()->value());
    const int index = document->documentLayout()->hitTest(at, Qt::ExactHit);
    if (index < 0 || index >= document->characterCount() - 1)
        return std::nullopt;
    const QTextBlock block = document->findBlock(index);
    const QString text = block.text();
    const int inBlock = index - block.position();
    if (inBlock >= text.size())
        return std::nullopt;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(inBlock);
    qsizetype start = finder.isAtBoundary() ? inBlock : finder.toPreviousBoundary();
    finder.setPosition(inBlock);
    qsizetype end = finder.toNextBoundary();
    if (start < 0)
        start = 0;
    if (end < 0)
        end = text.size();
    while (start < end && isWordEdge(text[start]))
        ++start;
    while (end > start && isWordEdge(text[end - 1]))
        --end;
    const QString found = text.mid(start, end - start);
    if (Characters::count(found, kMinWordCharacters) < kMinWordCharacters)
        return std::nullopt;
    QRectF rect = RichText::rangeRect(*document, block.position() + start, end - start);
    rect.translate(-textView_->horizontalScrollBar()->value(), -textView_->verticalScrollBar()->value());
    return WordAt{found, rect.toAlignedRect()};
}

std::shared_ptr<SmartPopover> ReaderView::showSmart(const QString& title, std::optional<QRect> rect,
                                                    std::function<PanelText::Text()> build)
{
    QWidget* anchor = rect ? static_cast<QWidget*>(textView_->viewport()) : static_cast<QWidget*>(header_);
    const QPointer<ReaderView> self(this);
    return SmartPopover::show(
        title, anchor, rect,
        [self](const QString& link) {
            if (self)
                self->handleSmartLink(link);
        },
        std::move(build));
}

void ReaderView::handleSmartLink(const QString& link)
{
    const QString page = QString::fromLatin1(PanelText::pageScheme);
    const QString search = QString::fromLatin1(PanelText::searchScheme);
    const QString collate = QString::fromLatin1(PanelText::collateScheme);
    const QString narrator = QString::fromLatin1(PanelText::narratorScheme);
    const QString ask = QString::fromLatin1(PanelText::askScheme);
    if (link.startsWith(page)) {
        const QList<std::int64_t> numbers = numbersOf(link, page);
        if (numbers.size() != 2)
            return;
        if (numbers[0] == book_.id)
            go(numbers[1], true);
        else if (onOpenBook)
            onOpenBook(numbers[0], numbers[1]);
    } else if (link.startsWith(search)) {
        SearchQuery query;
        query.andPhrases = {PanelText::decodeSearch(link.mid(search.size())).value_or(QString())};
        if (onRunSearch)
            onRunSearch(query);
    } else if (link.startsWith(collate)) {
        const QList<std::int64_t> numbers = numbersOf(link, collate);
        if (numbers.size() != 2)
            return;
        // The link names the page it was made on: another page keeps it.
        if (page_ && numbers[0] == page_->id)
            showCollation(numbers[1]);
        else {
            const std::shared_ptr<Library> lib = lib_;
            showSmart(QString::fromUtf8(kCollateTitle), std::nullopt, [lib, pageId = numbers[0], other = numbers[1]] {
                return PanelText::collate(*lib, pageId, other);
            });
        }
    } else if (link.startsWith(narrator)) {
        // A narrator of the isnad panel, or of another card: his own card.
        const QList<std::int64_t> numbers = numbersOf(link, narrator);
        if (numbers.size() != 1)
            return;
        const std::shared_ptr<Library> lib = lib_;
        showSmart(QString::fromUtf8(kNarratorTitle), std::nullopt,
                  [lib, id = numbers[0]] { return PanelText::narrator(*lib, id); });
    } else if (link.startsWith(ask)) {
        const std::optional<QString> question = PanelText::decodeSearch(link.mid(ask.size()));
        if (question && !question->isEmpty() && onAskAssistant)
            onAskAssistant(*question);
    }
}

void ReaderView::showEditions()
{
    if (!page_)
        return;
    const std::shared_ptr<Library> lib = lib_;
    showSmart(QString::fromUtf8(kEditionsTitle), std::nullopt,
              [lib, book = book_, id = page_->id] { return PanelText::editions(*lib, book, id); });
}

void ReaderView::showCollation(std::int64_t otherBook)
{
    if (!page_)
        return;
    const std::shared_ptr<Library> lib = lib_;
    collationBook_ = otherBook;
    collation_ = showSmart(QString::fromUtf8(kCollateTitle), std::nullopt, [lib, pageId = page_->id, otherBook] {
        return PanelText::collate(*lib, pageId, otherBook);
    });
}

void ReaderView::collateWithEdition()
{
    if (page_)
        for (const std::int64_t other : BookTitles::otherEditions(*lib_->catalog(), book_.id))
            if (Collate::counterpart(*lib_, *page_, other)) {
                showCollation(other);
                return;
            }
    Beep::play();
}

void ReaderView::followCollation()
{
    const std::shared_ptr<SmartPopover> open = collation_.lock();
    if (!open || !open->isOpen())
        return;
    if (!page_) {
        open->close();
        return;
    }
    const std::shared_ptr<Library> lib = lib_;
    open->rebuild([lib, pageId = page_->id, other = collationBook_] { return PanelText::collate(*lib, pageId, other); });
}

void ReaderView::showWordAnalysis()
{
    // The word selected, else the word at the caret; a number (the hadith's,
    // where the caret stands on a new page) is no word.
    QString chosen = selectedText();
    if (chosen.isEmpty() || std::any_of(chosen.begin(), chosen.end(), isBlank)) {
        QTextCursor at = textView_->textCursor();
        at.clearSelection();
        at.select(QTextCursor::WordUnderCursor);
        chosen = at.selectedText();
    }
    while (!chosen.isEmpty() && isWordEdge(chosen.front()))
        chosen.remove(0, 1);
    while (!chosen.isEmpty() && isWordEdge(chosen.back()))
        chosen.chop(1);
    const std::optional<QString> analysed = PanelText::wordOf(chosen);
    if (Characters::count(chosen, kMinWordCharacters) < kMinWordCharacters || !analysed) {
        Beep::play();
        return;
    }
    const std::shared_ptr<Library> lib = lib_;
    showSmart(QString::fromUtf8(kWordTitle), std::nullopt, [lib, bare = *analysed] { return PanelText::word(*lib, bare); });
}

void ReaderView::showIsnad()
{
    if (!page_) {
        Beep::play();
        return;
    }
    const std::shared_ptr<Library> lib = lib_;
    showSmart(QString::fromUtf8(kIsnadTitle), std::nullopt, [lib, page = *page_] { return PanelText::isnad(*lib, page); });
}

void ReaderView::showReuse()
{
    if (!page_) {
        Beep::play();
        return;
    }
    const std::shared_ptr<Library> lib = lib_;
    showSmart(QString::fromUtf8(kSourcesTitle), std::nullopt, [lib, id = page_->id] { return PanelText::reuse(*lib, id); });
}

void ReaderView::showPhraseTree()
{
    const QString selection = selectedPhrase();
    if (selection.isEmpty()) {
        Beep::play();
        return;
    }
    phraseTree(selection)();
}

void ReaderView::focusContents()
{
    if (roots_.isEmpty()) {
        Beep::play();
        return;
    }
    if (outline_->isHidden())
        toggleToc();
    outline_->setFocus(Qt::ShortcutFocusReason);
}

void ReaderView::focusPage()
{
    textView_->setFocus(Qt::ShortcutFocusReason);
}

std::function<void()> ReaderView::phraseTree(const QString& phrase)
{
    const QPointer<ReaderView> self(this);
    const std::shared_ptr<Library> lib = lib_;
    return [self, lib, phrase] {
        if (self)
            self->showSmart(QString::fromUtf8(kPhraseTreeTitle), std::nullopt, [lib, phrase] { return PanelText::genealogy(*lib, phrase); });
    };
}

} // namespace quorvel
