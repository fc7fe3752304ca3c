#pragma once

#include "state/RunFaces.h"

#include <QString>

#include <vector>

class QCheckBox;
class QWidget;
namespace Ui {
class Form1;
}

// The window as a run sees it: each choice read from its control when the run asks, each text
// written to its control (held ones at the window's next turn).
class WindowFront final : public ChoicesNow, public RunDisplay
{
public:
    WindowFront(QWidget& window, Ui::Form1& ui);

    // The asset boxes, in the order of the kinds table.
    const std::vector<QCheckBox*>& kindBoxes() const { return m_kindBoxes; }
    // The progress bar idle and empty again, a count still held dropped.
    void clearProgress();

    int kindValue(std::size_t kind) const override;
    bool allCardsChosen() const override;
    bool oneCardChosen() const override;
    QString oneCardName() const override;
    bool overwrite() const override;
    QString keyCode() const override;
    QString userName() const override;
    QString dataPath() const override;

    void lockControls() override;
    void showDataPath(const QString& path) override;
    void showCard(const QString& card) override;
    void showSize(const QString& size) override;
    void showStatus(const QString& text) override;
    void showProgress(int done, int total, const QString& text) override;
    void showRunEnd(const QString& text) override;
    void showDone() override;
    void tell(const QString& text) override;
    void unlockReset() override;
    void giveTurn() override;
    void showHeld() override;

private:
    QWidget& m_window;
    Ui::Form1& m_ui;
    std::vector<QCheckBox*> m_kindBoxes;
};
