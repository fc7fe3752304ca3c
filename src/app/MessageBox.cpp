#include "app/MessageBox.h"

#include "app/HeldUpdates.h"

#include <QMessageBox>

namespace MessageBox {
namespace {
std::function<void(const QString&, const QString&)>& recorder()
{
    static std::function<void(const QString&, const QString&)> instance;
    return instance;
}
} // namespace

void show(QWidget* parent, const QString& text)
{
    showHeldUpdates();
    const QString caption = QString::fromUtf16(kApplicationTitle);
    if (recorder()) {
        recorder()(text, caption);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

void setRecorder(std::function<void(const QString&, const QString&)> newRecorder)
{
    recorder() = std::move(newRecorder);
}

} // namespace MessageBox
