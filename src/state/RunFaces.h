#pragma once

#include <QString>

#include <cstddef>

// The two faces a run sees of whatever started it: the window, or the console. The run asks
// for a choice at the moment it needs it, so that a box the user changes while the run goes on
// counts from then on, and says what to show as it goes.

// A box's value as the program counts it: 0 unticked, 1 ticked, 2 grayed.
inline constexpr int kUnticked = 0;
inline constexpr int kTicked = 1;
inline constexpr int kGrayed = 2;

// The choices as they are now.
class ChoicesNow
{
public:
    virtual ~ChoicesNow() = default;

    // The value of the box of the kind, by its place in the kinds table.
    virtual int kindValue(std::size_t kind) const = 0;
    virtual bool allCardsChosen() const = 0; // "Update All Cards"
    virtual bool oneCardChosen() const = 0;  // "Update One Card"
    virtual QString oneCardName() const = 0;
    virtual bool overwrite() const = 0; // "OverWrite - Replace All"
    // The three values, as typed.
    virtual QString keyCode() const = 0;
    virtual QString userName() const = 0;
    virtual QString dataPath() const = 0;
};

// What the run shows as it goes. Texts marked "held" may wait for the front end's next turn:
// a run replaces them several times per card, faster than anyone can read.
class RunDisplay
{
public:
    virtual ~RunDisplay() = default;

    // The update and save buttons and the confirmation box stay locked until the run is over.
    virtual void lockControls() = 0;
    // The data folder path as the run uses it (it then ends with "\").
    virtual void showDataPath(const QString& path) = 0;
    // Held: the card under update, the size of a file, what is being fetched.
    virtual void showCard(const QString& card) = 0;
    virtual void showSize(const QString& size) = 0;
    virtual void showStatus(const QString& text) = 0;
    // Held: how many cards of the run are done, and the text that says so.
    virtual void showProgress(int done, int total, const QString& text) = 0;
    // How the run ended, or why it stopped; at once.
    virtual void showRunEnd(const QString& text) = 0;
    // The update button says "DONE !".
    virtual void showDone() = 0;
    // A message the user has to acknowledge.
    virtual void tell(const QString& text) = 0;
    // RESET can be pressed again.
    virtual void unlockReset() = 0;
    // Lets the front end handle what is pending (a repaint, a click, a stop request); cheap
    // enough to call several times per card.
    virtual void giveTurn() = 0;
    // The held texts, now.
    virtual void showHeld() = 0;
};
