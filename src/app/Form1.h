#pragma once

#include "state/FormState.h"

#include <QWidget>

#include <memory>

namespace Ui {
class Form1;
}
class FetchAhead;
class Fetcher;
class RunProgress;

// The program's one window. Constructing it runs Form_Load.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    Form1(const QString& assetServerOrigin, const QString& infoServiceOrigin,
          QWidget* parent = nullptr);
    ~Form1() override;

    bool isRunning() const { return m_running; }
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
    FormState m_state;
    Origins m_origins;
    Fetcher* Inet1; // a child of the window
    std::unique_ptr<FetchAhead> m_fetches;
    std::unique_ptr<RunProgress> m_progress;
    bool m_running = false;
    bool m_checkPictures = false;
    bool m_closeRequested = false;
};
