#include "ui/shell/SettingsWindowController.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WindowPlacement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr QSize windowSize(560, 560);
constexpr Insets kWindowInsets{20, 24, 20, 24};
constexpr int kRowLabelWidth = 96;
constexpr int kMinSize = 14;
constexpr int kMaxSize = 42;
constexpr int kMinSpacing = 0;
constexpr int kMaxSpacing = 30;
constexpr int kPreviewInset = 14;
constexpr int kStackSpacing = 12;
constexpr int kCopyRowSpacing = 18;
constexpr QSize swatchSize(44, 22);

constexpr const char* kSettingsTitle = "الإعدادات";
constexpr const char* kRestartTitle = "يُطبَّق عند إعادة تشغيل التطبيق";
constexpr const char* kPaperTitle = "لون الورق";

QPointer<SettingsWindowController>& instance()
{
    static QPointer<SettingsWindowController> window;
    return window;
}

// The slider position for a value in points, clamped to the slider's range.
int sliderValue(double points) { return int(std::lround(points * SettingsWindowController::sliderScale)); }
// The whole number of points a slider position stands for.
double sliderPoints(const QSlider* slider)
{
    return std::round(double(slider->value()) / SettingsWindowController::sliderScale);
}

constexpr int kSliderWidth = 260;

QSlider* makeSlider(double value, int minimum, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(minimum * SettingsWindowController::sliderScale, maximum * SettingsWindowController::sliderScale);
    slider->setValue(sliderValue(value));
    slider->setTracking(true);
    slider->setFixedWidth(kSliderWidth);
    return slider;
}

} // namespace

const QList<QPair<QString, QString>>& SettingsWindowController::fonts()
{
    static const QList<QPair<QString, QString>> table = {
        {QStringLiteral("Amiri"), QStringLiteral("أميري (مضمّن)")},
        // Book faces a Debian system carries.
        {QStringLiteral("Scheherazade New"), QStringLiteral("شهرزاد الجديد")},
        {QStringLiteral("Scheherazade"), QStringLiteral("شهرزاد")},
        {QStringLiteral("Noto Naskh Arabic"), QStringLiteral("نوتو نسخ")},
        {QStringLiteral("KacstBook"), QStringLiteral("كاكست بوك")},
        {QStringLiteral("Traditional Naskh"), QStringLiteral("النسخ التقليدي")},
        {QStringLiteral("DecoType Naskh"), QStringLiteral("ديكوتايب نسخ")},
        {QStringLiteral("Geeza Pro"), QStringLiteral("جيزة")},
        {QStringLiteral("Al Nile"), QStringLiteral("النيل")},
        {QStringLiteral("Baghdad"), QStringLiteral("بغداد")},
        {QStringLiteral("IBM Plex Sans Arabic"), QStringLiteral("آي بي إم بلكس")},
    };
    return table;
}

const QList<QPair<QString, QString>>& SettingsWindowController::sources()
{
    static const QList<QPair<QString, QString>> table = {
        {QStringLiteral("تلقائي"), QStringLiteral("auto")},
        {QStringLiteral("قاعدة التحرير الكاملة"), QStringLiteral("master")},
        {QStringLiteral("الكتب المنزّلة فقط"), QStringLiteral("local")},
    };
    return table;
}

void SettingsWindowController::show(const std::shared_ptr<Library>&)
{
    if (!instance())
        instance() = new SettingsWindowController;
    SettingsWindowController* window = instance();
    centreOnScreen(window, QGuiApplication::primaryScreen());
    // Rows that must scroll keep their whole width beside the scroll bar.
    if (const auto* scroller = window->findChild<QScrollArea*>();
        scroller && scroller->widget() && window->height() < scroller->widget()->sizeHint().height()) {
        window->resize(window->width() + scroller->style()->pixelMetric(QStyle::PM_ScrollBarExtent), window->height());
        centreOnScreen(window, QGuiApplication::primaryScreen());
    }
    window->QWidget::show();
    window->raise();
    window->activateWindow();
}

SettingsWindowController* SettingsWindowController::shared() { return instance(); }

QString SettingsWindowController::dbLabelText(const QString& path)
{
    constexpr const char* kReadOnlySuffix = "?mode=ro";
    QString name = path;
    name.remove(QString::fromUtf8(kReadOnlySuffix));
    return name.section(u'/', -1);
}

SettingsWindowController::SettingsWindowController()
    : QWidget(nullptr, Qt::Window)
    , fontPopup_(new QComboBox)
    , sizeSlider_(makeSlider(Settings::defaultReaderSize, kMinSize, kMaxSize))
    , sizeLabel_(label(QString()))
    , spacingSlider_(makeSlider(Settings::defaultLineSpacing, kMinSpacing, kMaxSpacing))
    , paperWell_(new QPushButton)
    , cbIndic_(checkbox(QStringLiteral("أرقام هندية (١٢٣) بدل العربية (123)"), false))
    , cbNight_(checkbox(QStringLiteral("القراءة الليلية"), false))
    , cbTashkeel_(checkbox(QStringLiteral("إظهار التشكيل افتراضياً"), false))
    , cbSession_(checkbox(QStringLiteral("استعادة التبويبات عند التشغيل"), false))
    , cbUpdates_(checkbox(QStringLiteral("التحقق من وجود إصدار جديد عند التشغيل"), false))
    , cbCopyMarks_(checkbox(QStringLiteral("النسخ بلا تشكيل"), false))
    , cbCopyRefs_(checkbox(QStringLiteral("النسخ بلا أرقام الحواشي"), false))
    , preview_(new QLabel)
    , dbLabel_(label(QString(), 12, QFont::Normal, Theme::secondaryLabel()))
{
    setWindowTitle(QString::fromUtf8(kSettingsTitle));
    setLayoutDirection(Qt::RightToLeft);
    // Closing only hides the window; it must not keep the application alive
    // once the main window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(windowSize);
    closeOnEscape(this);

    const QStringList installed = QFontDatabase::families();
    for (const auto& [family, title] : fonts()) {
        if (!installed.contains(family, Qt::CaseInsensitive))
            continue;
        // Each face is offered in its own letters.
        QFont face = fontPopup_->font();
        face.setFamilies({family});
        fontPopup_->addItem(title, family);
        fontPopup_->setItemData(fontPopup_->count() - 1, face, Qt::FontRole);
    }

    QPointer<SettingsWindowController> self(this);
    auto applyLater = [self](QObject*) {
        if (self)
            self->apply();
    };
    onAction(fontPopup_, applyLater);
    onAction(sizeSlider_, applyLater);
    onAction(spacingSlider_, applyLater);
    for (QCheckBox* box : checkBoxes())
        onAction(box, applyLater);
    paperWell_->setFixedSize(swatchSize);
    paperWell_->setToolTip(QString::fromUtf8(kPaperTitle));
    onAction(paperWell_, [self](QObject*) {
        if (self)
            self->choosePaper();
    });

    preview_->setAlignment(Qt::AlignCenter);
    preview_->setWordWrap(true);
    preview_->setTextFormat(Qt::RichText);
    previewBox_ = new QFrame;
    previewBox_->setObjectName(QStringLiteral("previewBox"));
    pin(previewBox_, preview_, {kPreviewInset, kPreviewInset, kPreviewInset, kPreviewInset});

    paperDefault_ = textButton(QStringLiteral("الافتراضي"), QString(), [self] {
        if (!self)
            return;
        Preferences::standard().remove(QString::fromUtf8(Settings::paperColorKey));
        self->load();
        self->apply();
    });
    dbButton_ = textButton(QStringLiteral("تغيير…"), QString(), [self] {
        if (self)
            self->chooseDB();
    });

    // Row labels share one width so the controls beside them start in one column.
    auto rowLabel = [](const char* text) {
        Label* title = label(QString::fromUtf8(text), 13, QFont::Medium);
        title->setMinimumWidth(kRowLabelWidth);
        return title;
    };
    StackView* stack = vstack(
        {
            hstack({rowLabel("خطّ القراءة"), fontPopup_}),
            hstack({rowLabel("حجم الخطّ"), sizeSlider_, sizeLabel_}),
            hstack({rowLabel("تباعد الأسطر"), spacingSlider_}),
            hstack({rowLabel("لون الورق"), paperWell_, paperDefault_}),
            separator(),
            cbIndic_,
            cbNight_,
            cbTashkeel_,
            cbSession_,
            cbUpdates_,
            hstack({cbCopyMarks_, cbCopyRefs_}, kCopyRowSpacing),
            separator(),
            previewBox_,
            separator(),
            hstack({rowLabel("قاعدة البيانات:"), dbLabel_, dbButton_}),
            hstack({rowLabel("مصدر الكتب:"), sourcePopup()}),
        },
        kStackSpacing);
    // On a screen too small for every row (large text) the rows scroll
    // rather than lie over one another; the window opens at their whole
    // size, so that at its usual size nothing scrolls.
    auto* content = new QWidget;
    pin(content, stack, {kWindowInsets.top, kWindowInsets.leading, kWindowInsets.bottom, kWindowInsets.trailing});
    pin(this, rowScroller(content));
    // The preview spans the stack's whole width, so the verse wraps inside it
    // rather than running past the box.
    previewBox_->setFixedWidth(windowSize.width() - kWindowInsets.leading - kWindowInsets.trailing);

    if (const std::shared_ptr<Library> lib = Library::shared()) {
        dbLabel_->setText(dbLabelText(lib->dbPath()));
        dbLabel_->setToolTip(lib->dbPath());
    }
    load();
    resize(windowSize.expandedTo(content->sizeHint()));
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this, [this] {
        if (!applying_)
            load();
    });
}

void SettingsWindowController::showEvent(QShowEvent* event)
{
    load();
    QWidget::showEvent(event);
}

QLabel* SettingsWindowController::sizeLabel() const { return sizeLabel_; }
QLabel* SettingsWindowController::dbLabel() const { return dbLabel_; }

QList<QCheckBox*> SettingsWindowController::checkBoxes() const
{
    return {cbIndic_, cbNight_, cbTashkeel_, cbSession_, cbUpdates_, cbCopyMarks_, cbCopyRefs_};
}

QComboBox* SettingsWindowController::sourcePopup()
{
    if (sourcePopup_)
        return sourcePopup_;
    sourcePopup_ = new QComboBox;
    sourcePopup_->setFont(Theme::ui(12));
    int selected = 0;
    for (const auto& [title, value] : sources()) {
        if (value == Library::libraryMode())
            selected = sourcePopup_->count();
        sourcePopup_->addItem(title, value);
    }
    sourcePopup_->setCurrentIndex(selected);
    QPointer<SettingsWindowController> self(this);
    onAction(sourcePopup_, [self](QObject*) {
        if (!self)
            return;
        Library::setLibraryMode(self->sourcePopup_->currentData().toString());
        Dialogs::alert(QString::fromUtf8(kRestartTitle), QString(), self);
    });
    return sourcePopup_;
}

void SettingsWindowController::setPaperWell(const QColor& color)
{
    paperColor_ = color;
    paperWell_->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid %2; border-radius: 4px; }")
                                  .arg(color.name(), Theme::gold().name()));
}

void SettingsWindowController::load()
{
    loading_ = true;
    const int font = fontPopup_->findData(Settings::readerFont());
    if (font >= 0)
        fontPopup_->setCurrentIndex(font);
    sizeSlider_->setValue(sliderValue(Settings::readerSize()));
    spacingSlider_->setValue(sliderValue(Settings::lineSpacing()));
    setPaperWell(Settings::paperColor());
    cbIndic_->setChecked(Settings::indicDigits());
    cbNight_->setChecked(Settings::nightReading());
    cbTashkeel_->setChecked(Settings::showTashkeel());
    cbSession_->setChecked(Settings::restoreSession());
    cbUpdates_->setChecked(Settings::checkUpdates());
    cbCopyMarks_->setChecked(Settings::copyNoTashkeel());
    cbCopyRefs_->setChecked(Settings::copyNoFootnoteRefs());
    loading_ = false;
    updatePreview();
}

void SettingsWindowController::apply()
{
    if (loading_)
        return;
    if (fontPopup_->currentIndex() >= 0)
        Settings::setReaderFont(fontPopup_->currentData().toString());
    Settings::setReaderSize(sliderPoints(sizeSlider_));
    Settings::setLineSpacing(sliderPoints(spacingSlider_));
    if (paperColor_ != Settings::paperColor())
        Settings::setPaperColor(paperColor_);
    Settings::setIndicDigits(cbIndic_->isChecked());
    Settings::setNightReading(cbNight_->isChecked());
    Settings::setShowTashkeel(cbTashkeel_->isChecked());
    Settings::setRestoreSession(cbSession_->isChecked());
    Settings::setCheckUpdates(cbUpdates_->isChecked());
    Settings::setCopyNoTashkeel(cbCopyMarks_->isChecked());
    Settings::setCopyNoFootnoteRefs(cbCopyRefs_->isChecked());
    updatePreview();
    applying_ = true;
    Notifier::postReaderSettingsChanged();
    applying_ = false;
}

void SettingsWindowController::choosePaper()
{
    const std::optional<QColor> chosen = Dialogs::chooseColor(QString::fromUtf8(kPaperTitle), paperColor_, this);
    if (!chosen || *chosen == paperColor_)
        return;
    setPaperWell(*chosen);
    apply();
}

std::optional<QString> SettingsWindowController::askForDatabase(QWidget* parent)
{
    constexpr const char* kChooseDBMessage = "اختر ملفّ قاعدة المكتبة (quorvel.db أو library.db)";
    std::optional<QString> path = Dialogs::openFile(QString::fromUtf8(kChooseDBMessage), QString(), parent);
    if (!path || path->isEmpty())
        return std::nullopt;
    return path;
}

void SettingsWindowController::chooseDB()
{
    constexpr const char* kNewDBTitle = "سيُستعمل الملفّ الجديد عند إعادة التشغيل";
    const std::optional<QString> path = askForDatabase(this);
    if (!path)
        return;
    Preferences::standard().set(QLatin1String(Library::dbPathKey), *path);
    Dialogs::alert(QString::fromUtf8(kNewDBTitle), *path, this);
}

void SettingsWindowController::updatePreview()
{
    constexpr const char* kPreviewText = "بِسْمِ اللَّهِ الرَّحْمَنِ الرَّحِيمِ، الحَمْدُ لِلَّهِ رَبِّ العَالَمِينَ";
    constexpr int kPreviewLines = 3;
    sizeLabel_->setText(Arabic::num(static_cast<long long>(Settings::readerSize())));
    const double size = Settings::readerSize();
    const QFont font = Theme::reader(size);
    preview_->setFont(font);
    // The spacing is added between lines, as a fixed line height over the font's own.
    const int lineHeight = int(std::lround(QFontMetricsF(font).height() + Settings::lineSpacing()));
    preview_->setText(QStringLiteral("<div dir=\"rtl\" align=\"center\" style=\"line-height: %1px; color: %2;\">%3</div>")
                          .arg(lineHeight)
                          .arg(Theme::ink().name(), QString::fromUtf8(kPreviewText)));
    // At most three lines show; the box grows with the text up to them.
    previewBox_->setStyleSheet(QStringLiteral("QFrame#previewBox { background: %1; border: 1px solid %2; border-radius: 6px; }")
                                   .arg(Theme::parchment().name(), Theme::gold().name()));
    // The box's border takes its width from the text too.
    previewBox_->ensurePolished();
    const int edge = kPreviewInset + previewBox_->frameWidth();
    const int textHeight = preview_->heightForWidth(previewBox_->width() - 2 * edge);
    previewBox_->setFixedHeight(std::clamp(textHeight, lineHeight, lineHeight * kPreviewLines) + 2 * edge);
}

} // namespace quorvel
