#pragma once

#include "app/Form1.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>

#include <memory>

class Fetcher;

// The five asset boxes, in the order the kinds are handled.
inline const QStringList kAssetBoxes{"cbCI", "cbTI", "cbINF", "cbCX", "cbCP"};

// The real window, driven the way a user drives it: controls found by their names, clicks
// and typing.
class WindowDriver
{
public:
    enum class Faults
    {
        Quick,    // a failed fetch is tried again at once
        AsShipped // the program's own time-out and pauses
    };

    // Origin of both servers, such as the sample card server's.
    explicit WindowDriver(const QString& origin = QStringLiteral("http://127.0.0.1:9"),
                          Faults faults = Faults::Quick);
    ~WindowDriver();

    Form1& window() { return *m_window; }
    Fetcher& fetcher();

    template <class T = QWidget> T* control(const QString& name) const
    {
        return m_window->findChild<T*>(name);
    }
    QLineEdit* edit(const QString& name) const { return control<QLineEdit>(name); }
    QCheckBox* box(const QString& name) const { return control<QCheckBox>(name); }
    QAbstractButton* button(const QString& name) const { return control<QAbstractButton>(name); }
    // The text of a text box, or the caption of a button.
    QString text(const QString& name) const;

    // Replaces a text box's text as typing would.
    void type(const QString& name, const QString& text);
    // Ticks exactly the named asset boxes.
    void tickOnly(const QStringList& boxes);
    // Clicks an option item, such as "oWhat_1".
    void choose(const QString& option);
    // Types the data folder (with its "\"), ticks the boxes and picks the mode.
    void prepare(const QString& dataFolder, const QStringList& boxes, bool overwrite = false);
    // Ticks the confirmation box and presses the update button; returns when the run is over.
    void runUpdate();
    // The same in one-card mode for the card.
    void runOneCard(const QString& card);
    void pressReset();

private:
    std::unique_ptr<Form1> m_window;
};
