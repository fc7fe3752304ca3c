#include "app/HeldUpdates.h"

#include <QEvent>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <utility>
#include <vector>

namespace {

struct HeldChange
{
    QPointer<QObject> object;
    std::function<void()> change;
};

std::vector<HeldChange>& held()
{
    static std::vector<HeldChange> changes;
    return changes;
}

// A window paints its changed parts on an update request; changes made just before it are
// painted with them.
class ShowBeforePainting final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::UpdateRequest)
            showHeldUpdates();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void holdUntilShown(QObject* object, std::function<void()> change)
{
    for (HeldChange& pending : held()) {
        if (pending.object == object) {
            pending.change = std::move(change);
            return;
        }
    }
    held().push_back({object, std::move(change)});
}

void holdText(QLineEdit* box, const QString& text)
{
    holdUntilShown(box, [box, text] { box->setText(text); });
}

void showHeldUpdates()
{
    // A change may hold another one (a signal handler that sets a text): take the list first.
    std::vector<HeldChange> changes;
    changes.swap(held());
    for (HeldChange& pending : changes) {
        if (pending.object)
            pending.change();
    }
}

void showHeldUpdatesBeforePainting(QWidget* window)
{
    window->installEventFilter(new ShowBeforePainting(window)); // the window owns it
}
