#pragma once

#include <functional>

class QLineEdit;
class QObject;
class QString;
class QWidget;

// Changes to what the window shows that can wait until the window next paints. A run rewrites
// its status boxes several times per card; laying out and painting each text costs more than
// the file work it reports, and nobody can read a text that is replaced a millisecond later.
// Held changes are made before every event pump pass, when a download has taken a moment,
// before a message box, just before the window paints, and whenever the program calls
// showHeldUpdates(); so the window always shows the latest values.

// Holds the change for the object until the window's next turn, replacing one held before.
void holdUntilShown(QObject* object, std::function<void()> change);
// Sets a text box's text at the window's next turn.
void holdText(QLineEdit* box, const QString& text);
// Makes every held change now, in the order they were first held.
void showHeldUpdates();
// Makes the held changes whenever the window is about to paint.
void showHeldUpdatesBeforePainting(QWidget* window);
