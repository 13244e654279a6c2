// Pieces the four settings pages share: the page frame with its help strip, titled cells that
// make the strip's regions, half-unit positions and the number reading of their boxes.
#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QGridLayout;
class QLabel;

namespace quillon {

class HelpStrip;
class Prompts;
class SettingsPage;

// Lays the page out as its controls area above the help strip, watches the page's mouse moves
// and turns strip clicks into the page's HelpAnchorRequested.
HelpStrip* AttachHelpStrip(SettingsPage* page, QWidget* controls, const QString& restingText);

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
