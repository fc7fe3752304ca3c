#pragma once

#include <QString>

#include <functional>

class QWidget;

// The program's one kind of message box: modal, the text, one OK button, no icon, and the
// application title as caption.
namespace MessageBox {

inline constexpr char16_t kApplicationTitle[] = u"Riz-OD-Odor1";

void show(QWidget* parent, const QString& text);

// Test hook: while set, a box is handed to the recorder (text and caption) instead of being
// shown.
void setRecorder(std::function<void(const QString& text, const QString& caption)> recorder);

} // namespace MessageBox
