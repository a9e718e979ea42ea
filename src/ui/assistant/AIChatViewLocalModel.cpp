// The assistant tab's local model: the status line saying what answers the
// questions, the model menu, a model file chosen from the disk, and a
// catalogue model's download with its progress.

#include "ui/assistant/AIChatView.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Preferences.h"
#include "core/Theme.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/Voice.h"
#include "ui/kit/Widgets.h"

#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

namespace quorvel {

namespace {

const QString txtModelMenu = QStringLiteral(u"النموذج…");
constexpr int kProgressWidth = 160;

} // namespace

void AIChatView::buildModelControls()
{
    QPointer<AIChatView> self(this);
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(kProgressWidth);
    progress_->setFixedHeight(8);
    progress_->hide();
    modelBtn_ = new QPushButton(txtModelMenu);
    modelBtn_->setFont(Theme::ui(12));
    onAction(modelBtn_, [self](QObject*) {
        if (!self)
            return;
        QMenu* menu = self->modelMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(self->modelBtn_->mapToGlobal(QPoint(0, self->modelBtn_->height() + 4)));
    });
}

AIChatView::ModelCheck AIChatView::checkModel()
{
    ModelCheck check;
    check.hasModel = LocalLLM::hasModel();
    check.hasServer = check.hasModel && LocalLLM::serverBinary().has_value();
    check.canDownload = LocalLLM::downloadConfigured();
    return check;
}

void AIChatView::refreshStatus()
{
    if (modelChecked_)
        showStatus(checkModel());
}

namespace {

const QString txtReady = QStringLiteral(u"المحرك المحلي جاهز · يعمل على جهازك دون اتصال");
const QString txtNoServer = QStringLiteral(u"النموذج المحلي لا يعمل: لم يُعثر على برنامج llama-server · الإجابات مقتطفات من الكتب");
const QString txtEngineStopped = QStringLiteral(u"المحرك المحلي متوقف · يعمل من جديد مع سؤالك التالي");
const QString txtStarting = QStringLiteral(u"جاري تشغيل المحرك المحلي…");
const QString txtNotStarted = QStringLiteral(u"لم يبدأ المحرك المحلي: ");
const QString txtNotStartedAfter = QStringLiteral(u" · الإجابات مقتطفات من الكتب، ويُعاد تشغيله مع سؤالك التالي");
const QString txtNoModel = QStringLiteral(u"دون نموذج: إجابات مستخلصة من الكتب مباشرة");
const QString txtDownloadModel = QStringLiteral(u"تنزيل النموذج العربي (%1GB)");
constexpr double kDownloadModelGB = 1.7;
const QString txtModelFromDisk = QStringLiteral(u"نموذج من الجهاز…");

} // namespace

void AIChatView::showStatus(const ModelCheck& check)
{
    // Until the speech engine has started there is nothing to say about it.
    const QString unavailable = Voice::isReady() ? Voice::shared().unavailable() : QString();
    if (check.hasModel && !check.hasServer) {
        status_->setText(txtNoServer);
        status_->setToolTip(LocalLLM::msgNoServer);
        modelBtn_->setText(txtModelMenu);
        return;
    }
    if (check.hasModel) {
        // A server given up on is said, with why, until a start succeeds.
        const QString failure = LocalLLM::lastStartFailure();
        status_->setText(LocalLLM::isStarting() ? txtStarting
                         : engineStopped_       ? txtEngineStopped
                         : failure.isEmpty()    ? txtReady
                                                : txtNotStarted + failure + txtNotStartedAfter);
        modelBtn_->setText(txtModelMenu);
    } else {
        status_->setText(txtNoModel);
        modelBtn_->setText(check.canDownload ? txtDownloadModel.arg(Arabic::decimal(kDownloadModelGB, 1))
                                             : txtModelFromDisk);
    }
    // Without an engine that can speak, the listen links do nothing: say so.
    status_->setToolTip(unavailable);
}

void AIChatView::engineChanged()
{
    if (!listener_ && !downloader_)
        refreshStatus();
}

namespace {

const QString txtStopDownload = QStringLiteral(u"إيقاف التنزيل");
const QString txtDownloadItem = QStringLiteral(u"تنزيل: ");
const QString txtChooseFile = QStringLiteral(u"اختيار ملف نموذج GGUF من الجهاز…");
const QString txtCurrentModel = QStringLiteral(u"النموذج الحالي: ");
const QString txtStopEngine = QStringLiteral(u"إيقاف المحرك (تحرير الذاكرة)");

} // namespace

QMenu* AIChatView::modelMenu()
{
    auto* menu = new QMenu(this);
    QPointer<AIChatView> self(this);
    if (downloader_) {
        menu->addAction(menuItem(
            txtStopDownload, QString(),
            [self] {
                if (self)
                    self->stopDownload();
            },
            menu));
    } else if (!LocalLLM::downloadConfigured()) {
        QAction* none = menu->addAction(LocalLLM::msgNoDownloadSource);
        none->setEnabled(false);
    } else {
        for (const LocalLLM::ModelInfo& info : LocalLLM::catalog()) {
            const QString title = txtDownloadItem + info.title + QString::fromUtf8(CountedNoun::separator)
                + Arabic::decimal(double(info.bytes) / 1e9, 1) + QStringLiteral("GB");
            menu->addAction(menuItem(
                title, QString(),
                [self, info] {
                    if (self)
                        self->download(info);
                },
                menu));
        }
    }
    menu->addAction(menuItem(
        txtChooseFile, QString(),
        [self] {
            if (self)
                self->chooseModelFile();
        },
        menu));
    if (const std::optional<QString> path = LocalLLM::modelPath()) {
        menu->addSeparator();
        QAction* current = menu->addAction(txtCurrentModel + QFileInfo(*path).fileName());
        current->setEnabled(false);
        menu->addAction(menuItem(
            txtStopEngine, QString(),
            [self] {
                LocalLLM::stop();
                if (self) {
                    self->engineStopped_ = true;
                    self->refreshStatus();
                }
            },
            menu));
    }
    return menu;
}

namespace {

constexpr char kModelPathKey[] = "localModelPath";
const QString txtChooseMessage = QStringLiteral(u"اختر نموذجا بصيغة GGUF");

} // namespace

void AIChatView::chooseModelFile()
{
    const std::optional<QString> path = Dialogs::openFile(txtChooseMessage, QString(), window());
    if (!path || QFileInfo(*path).suffix().toLower() != QLatin1String("gguf"))
        return;
    Preferences::standard().set(QString::fromLatin1(kModelPathKey), *path);
    LocalLLM::stop();
    engineStopped_ = false;
    refreshStatus();
}

void AIChatView::stopDownload()
{
    // Let go of the download before cancelling it: its cancelled end is then
    // no longer the current download's and changes nothing here.
    QPointer<LocalLLM::Downloader> stopped = downloader_;
    downloader_ = nullptr;
    progress_->hide();
    refreshStatus();
    if (stopped)
        stopped->cancel();
}

namespace {

const QString txtDownloading = QStringLiteral(u"جاري تنزيل النموذج ");
const QString txtDownloaded = QStringLiteral(u"اكتمل تنزيل النموذج");
const QString txtDownloadedText = QStringLiteral(u"صار البحث الذكي يكتب إجابات بنص عربي معزو، على جهازك دون اتصال.");
const QString txtDownloadFailed = QStringLiteral(u"تعذر التنزيل");

} // namespace

void AIChatView::download(const LocalLLM::ModelInfo& info)
{
    auto* d = new LocalLLM::Downloader(info, this);
    downloader_ = d;
    progress_->setValue(0);
    progress_->show();
    QPointer<AIChatView> self(this);
    connect(d, &LocalLLM::Downloader::progress, this, [self, d](double fraction) {
        // Each download speaks only while it is the current one.
        if (!self || self->downloader_ != d)
            return;
        self->progress_->setValue(int(fraction * self->progress_->maximum()));
        self->status_->setText(txtDownloading + Arabic::num((long long)(fraction * 100)) + u'٪');
    });
    connect(d, &LocalLLM::Downloader::done, this, [self, d](const LocalLLM::DownloadResult& result) {
        d->deleteLater();
        if (!self || self->downloader_ != d)
            return;
        self->downloader_ = nullptr;
        self->progress_->hide();
        self->refreshStatus();
        if (result.succeeded())
            Dialogs::alert(txtDownloaded, txtDownloadedText, self->window());
        else
            Dialogs::alert(txtDownloadFailed, result.description(), self->window());
    });
    if (prepareDownloader)
        prepareDownloader(*d);
    d->start();
}

} // namespace quorvel
