// A colour button that drops down a palette of 40 named swatches, a default button and a
// "More Colors..." button that opens the desktop's colour dialog.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace quillon {

// Colours are 0xRRGGBB; the automatic colour has the top byte set and is drawn in the button
// face colour.
inline constexpr std::uint32_t kAutomaticColour = 0xFF000000u;

struct NamedColour {
  std::uint32_t rgb;
  const char* name;
};
inline constexpr int kPaletteColumns = 8;
inline constexpr int kPaletteSize = 40;
extern const std::array<NamedColour, kPaletteSize> kPaletteColours;

class ColourPopup;

class ColourPicker : public QAbstractButton {
  Q_OBJECT
 public:
  explicit ColourPicker(QWidget* parent = nullptr);
  ~ColourPicker() override;

  void SetColour(std::uint32_t colour);
  std::uint32_t GetColour() const { return colour_; }
  void SetDefaultText(const QString& text) { defaultText_ = text; }
  void SetCustomText(const QString& text) { customText_ = text; }
  // When set, moving over the swatches already changes the button's colour.
  void SetTrackSelection(bool track) { trackSelection_ = track; }
  void SetControlId(int id) { controlId_ = id; }
  int ControlId() const { return controlId_; }

  // Opens the palette under the button (what a click does).
  void OpenPopup();
  ColourPopup* Popup() const { return popup_; }
  // Replaces the desktop colour dialog (tests): given the starting colour, the chosen one or
  // nothing when cancelled.
  void SetCustomChooser(std::function<std::optional<std::uint32_t>(std::uint32_t)> chooser) {
    customChooser_ = std::move(chooser);
  }

  QSize sizeHint() const override;

 signals:
  void SelectionChanged(std::uint32_t colour, int controlId);
  void PopupOpened(std::uint32_t colour, int controlId);
  void PopupClosed(std::uint32_t colour, int controlId);
  void SelectionEnded(std::uint32_t colour, int controlId);
  void SelectionCancelled(std::uint32_t colour, int controlId);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  friend class ColourPopup;
  void OnPopupHover(std::uint32_t colour);
  void OnPopupFinished(bool ended, std::uint32_t colour);

  std::uint32_t colour_ = kAutomaticColour;
  std::uint32_t openingColour_ = kAutomaticColour;
  QString defaultText_ = QStringLiteral("Automatic");
  QString customText_ = QStringLiteral("More Colors...");
  bool trackSelection_ = false;
  int controlId_ = 0;
  QPointer<ColourPopup> popup_;
  std::function<std::optional<std::uint32_t>(std::uint32_t)> customChooser_;
};

// The drop-down palette. Items: 0-39 the swatches, kDefaultItem, kCustomItem, kNoItem.
class ColourPopup : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kNoItem = -1;
  static constexpr int kCustomItem = -2;
  static constexpr int kDefaultItem = -3;

  ColourPopup(ColourPicker* owner, std::uint32_t colour, const QString& defaultText,
              const QString& customText);

  int CurrentItem() const { return current_; }
  QRect ItemRect(int item) const;
  int ItemAt(const QPoint& point) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  bool HasDefault() const { return !defaultText_.isEmpty(); }
  bool HasCustom() const { return !customText_.isEmpty(); }
  std::uint32_t ItemColour(int item) const;
  void SetCurrent(int item);
  int Step(int item, int key) const;
  void Finish(bool ended);

  ColourPicker* owner_;
  std::uint32_t openingColour_;
  QString defaultText_;
  QString customText_;
  int current_ = kNoItem;
  int chosen_ = kNoItem;  // the item of the opening colour, drawn pressed
  bool finished_ = false;
  int cell_ = 18;
  int margin_ = 2;
  int buttonHeight_ = 22;
};

}  // namespace quillon
