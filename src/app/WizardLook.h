#pragma once

#include <QString>

class NS_AppController;
class QPushButton;
class QStyle;

namespace vtrapp {

// The style of the wizard's buttons and check boxes over the dark scenes:
// check boxes whose box and mark stand out clearly, enabled or greyed, and a
// strong focus ring. One object for the process.
QStyle *wizardStyle();

// What the window needs besides the panes' layout: that style on its
// buttons and check boxes, Return pressing the default button, the focus on
// that button when a state is entered, and a line saying why each greyed
// data kind cannot be chosen.
void applyWizardLook(NS_AppController &controller);

// The button Return presses: Next, or Quit on the last page; null when
// neither can be pressed.
QPushButton *defaultButton(const NS_AppController &controller);

// Why the greyed data kinds cannot be chosen, one line per reason; empty
// when every kind can be.
QString unavailableKindsExplanation(const NS_AppController &controller);

}  // namespace vtrapp
