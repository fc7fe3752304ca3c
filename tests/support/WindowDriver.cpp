#include "WindowDriver.h"

#include "http/Fetcher.h"

WindowDriver::WindowDriver(const QString& origin, Faults faults)
    : m_window(std::make_unique<Form1>(origin, origin))
{
    m_window->show();
    if (faults == Faults::AsShipped)
        return;
    fetcher().setRetryDelays(
        {std::chrono::milliseconds(0), std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
}

WindowDriver::~WindowDriver() = default;

Fetcher& WindowDriver::fetcher()
{
    return *m_window->findChild<Fetcher*>(QStringLiteral("Inet1"));
}

QString WindowDriver::text(const QString& name) const
{
    QWidget* widget = control(name);
    if (auto* lineEdit = qobject_cast<QLineEdit*>(widget))
        return lineEdit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    return {};
}

void WindowDriver::type(const QString& name, const QString& text)
{
    QLineEdit* lineEdit = edit(name);
    lineEdit->selectAll();
    lineEdit->del();
    lineEdit->insert(text);
}

void WindowDriver::tickOnly(const QStringList& boxes)
{
    for (const QString& name : kAssetBoxes) {
        if (box(name)->isChecked() != boxes.contains(name))
            box(name)->click();
    }
}

void WindowDriver::choose(const QString& option)
{
    button(option)->click();
}

void WindowDriver::prepare(const QString& dataFolder, const QStringList& boxes, bool overwrite)
{
    type("tDATA", dataFolder + "\\");
    tickOnly(boxes);
    choose(overwrite ? "oHow_1" : "oHow_0");
}

void WindowDriver::runUpdate()
{
    if (!box("Check1")->isChecked())
        box("Check1")->click();
    button("Command1")->click();
}

void WindowDriver::runOneCard(const QString& card)
{
    choose("oWhat_1");
    type("Text3", card);
    runUpdate();
}

void WindowDriver::pressReset()
{
    button("Command2")->click();
}
