#pragma once

// The settings window: the reading preferences, the library database file and
// the books source. Every control applies at once; there is no OK button.
// Each change writes every reading preference from the controls and posts one
// reader-settings notice, so open reading views re-render. The database file
// and the books source take effect at the next launch, and the window says so.
// The controls are read again from the preferences whenever the window is
// shown and at every reader-settings notice it did not post itself, so a
// preference changed elsewhere (the View menu) is never written back stale.

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;

namespace quorvel {

class Label;
class Library;

class SettingsWindowController : public QWidget {
    Q_OBJECT
public:
    // The reading fonts offered, in order: family name and Arabic label.
    static const QList<QPair<QString, QString>>& fonts();
    // The books sources: Arabic title and stored "libraryMode" value.
    static const QList<QPair<QString, QString>>& sources();

    // Sliders hold ten steps per point, so a dragged value such as 31.6 is
    // representable and rounds the same way every time.
    static constexpr int sliderScale = 10;

    // Creates the one window on first use and brings it to the front. The
    // window reads the open library itself (Library::shared()).
    static void show(const std::shared_ptr<Library>& lib);
    // The one window, or nullptr before the first show().
    static SettingsWindowController* shared();
    // Asks for a library file; nullopt when the user chooses none.
    static std::optional<QString> askForDatabase(QWidget* parent = nullptr);

    SettingsWindowController();

    // The controls, for the tests.
    QComboBox* fontPopup() const { return fontPopup_; }
    QSlider* sizeSlider() const { return sizeSlider_; }
    QLabel* sizeLabel() const;
    QSlider* spacingSlider() const { return spacingSlider_; }
    QPushButton* paperWell() const { return paperWell_; }
    QPushButton* paperDefaultButton() const { return paperDefault_; }
    QColor paperWellColor() const { return paperColor_; }
    QList<QCheckBox*> checkBoxes() const;
    QLabel* preview() const { return preview_; }
    QComboBox* sourcePopup();
    QLabel* dbLabel() const;
    QPushButton* dbButton() const { return dbButton_; }

    // The database label's text for a connection path: the file name without
    // the read-only suffix.
    static QString dbLabelText(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void apply();
    void chooseDB();
    void choosePaper();
    void updatePreview();
    void setPaperWell(const QColor& color);

    QComboBox* fontPopup_;
    QSlider* sizeSlider_;
    Label* sizeLabel_;
    QSlider* spacingSlider_;
    QPushButton* paperWell_;
    QPushButton* paperDefault_ = nullptr;
    QColor paperColor_;
    QCheckBox* cbIndic_;
    QCheckBox* cbNight_;
    QCheckBox* cbTashkeel_;
    QCheckBox* cbSession_;
    QCheckBox* cbUpdates_;
    QCheckBox* cbCopyMarks_;
    QCheckBox* cbCopyRefs_;
    QLabel* preview_;
    QFrame* previewBox_ = nullptr;
    QComboBox* sourcePopup_ = nullptr;
    Label* dbLabel_;
    QPushButton* dbButton_ = nullptr;
    bool loading_ = false; // load() moves controls without applying them
    bool applying_ = false; // apply() posts the notice its own controls caused
};

} // namespace quorvel
