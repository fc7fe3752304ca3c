#include "WindowDriver.h"

#include "platform/Http.h"

#include <QGroupBox>
#include <QtTest>

WindowDriver::WindowDriver(const QString& origin)
    : m_window(std::make_unique<Form1>(origin, origin))
{
    m_window->show();
    fetcher().setTransferTimeout(std::chrono::milliseconds(2000));
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
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
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
    for (const char* name : {"cbCI", "cbTI", "cbINF", "cbCX", "cbCP"}) {
        QCheckBox* assetBox = box(name);
        if (assetBox->isChecked() != boxes.contains(name))
            assetBox->click();
    }
}

void WindowDriver::choose(const QString& option)
{
    button(option)->click();
}

void WindowDriver::runUpdate()
{
    if (!box("Check1")->isChecked())
        box("Check1")->click();
    button("Command1")->click();
}

void WindowDriver::pressReset()
{
    button("Command2")->click();
}
