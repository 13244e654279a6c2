// Pieces the four settings pages share: the page frame with its help strip, titled cells that
// make the strip's regions, half-unit positions and the number reading of their boxes.
#pragma once

#include <QString>
#include <QWidget>
#include <initializer_list>

class QComboBox;
class QGridLayout;
class QLabel;
class QVBoxLayout;

namespace quillon {

class HalfSlider;
class HelpStrip;
class Prompts;
class SettingsPage;

// Lays the page out as its controls area above the help strip, watches the page's mouse moves
// and turns strip clicks into the page's HelpAnchorRequested.
HelpStrip* AttachHelpStrip(SettingsPage* page, QWidget* controls, const QString& restingText);

// The page's controls area as a row of columns; AddColumn stacks cells in column index.
QGridLayout* NewColumns(QWidget* controls);
QVBoxLayout* AddColumn(QGridLayout* columns, int index, int stretch);
// A column of equal stretch holding the given cells from the top.
void AddCellColumn(QGridLayout* columns, int index, std::initializer_list<QWidget*> cells);
// A percent slider: positions minimum..200 (half units), the given line step, page 10, a tick
// every 50, a box of boxChars characters.
HalfSlider* NewPercentSlider(QWidget* parent, int minimum, int line, int boxChars);

// A region of a page: a widget with a grid of label/control rows, kept compact.
QWidget* NewCell(QWidget* parent, QGridLayout** grid);
QLabel* NewLabel(const QString& text, QWidget* parent);
// Gives labels that sit in separate cells of one column the same width, so their controls line up.
void AlignLabels(const QList<QLabel*>& labels);

// value x 2 rounded to the nearest position, inside [minimum, maximum].
int HalfPosition(double value, int minimum, int maximum);
// The number a box or editable combo reads as, or fallback when the text is not a number.
double NumberOr(const QString& text, double fallback);
// The prompts a page was given, else the desktop's own dialogs.
Prompts& PagePrompts(Prompts* given);
// An editable combo whose text may be at most maxLength characters.
QComboBox* NewEditableCombo(const QStringList& items, int maxLength, QWidget* parent);

}  // namespace quillon
