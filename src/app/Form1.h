#pragma once

#include "platform/Result.h"
#include "state/FormState.h"
#include "state/RunContext.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace Ui {
class Form1;
}

// The choices of an update run, as the window offers them.
struct RunChoices
{
    // Ticked or not, in the order the kinds are handled; empty: the boxes as the window starts.
    std::vector<bool> kinds;
    QString card;           // "Update One Card" with this card; empty: "Update All Cards"
    bool overwrite = false; // "OverWrite - Replace All"
};
class FetchAhead;
class Fetcher;
class RunProgress;
class WindowFront;

// The program's one window. Constructing it runs Form_Load.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    Form1(const QString& assetServerOrigin, const QString& infoServiceOrigin,
          QWidget* parent = nullptr);
    ~Form1() override;

    bool isRunning() const { return m_running; }
    // Makes the choices in the controls, ticks the confirmation box and presses the update
    // button, as a user would; returns when the run is over.
    void runUpdate(const RunChoices& choices);
    // Stops the run under way at once, as closing the window does, with the reason given.
    void stopRun(const QString& reason);
    // How the last run ended, and what it did.
    RunOutcome lastOutcome() const { return m_lastOutcome; }
    const FormState& formState() const { return m_state; }
    RunProgress& progress() { return *m_progress; }
    QString statusText() const;
    // How loading the saved info went at start-up (a missing file is no failure for the
    // window, which then shows its initial texts).
    const Status& savedInfo() const { return m_savedInfo; }
    // Requests in flight at once to the asset server during a run; 1 fetches one at a time.
    void setConnections(int connections);
    // In "Only Missing Files" mode, pictures that pass their size rule are read, and fetched
    // again when they are not whole.
    void setCheckPictures(bool check) { m_checkPictures = check; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Check1_Click();
    void oWhat_Click(int index);

    std::unique_ptr<Ui::Form1> ui;
    std::unique_ptr<WindowFront> m_front;
    FormState m_state;
    Origins m_origins;
    Fetcher* Inet1; // a child of the window
    std::unique_ptr<FetchAhead> m_fetches;
    std::unique_ptr<RunProgress> m_progress;
    bool m_running = false;
    bool m_checkPictures = false;
    bool m_closeRequested = false;
    QString m_stopRequest;
    RunOutcome m_lastOutcome = RunOutcome::Done;
    Status m_savedInfo;
};
