#include "app/Form1.h"

#include "app/CheckValue.h"
#include "app/FolderCompleter.h"
#include "app/HeldUpdates.h"
#include "app/WindowFront.h"
#include "cards/FetchAhead.h"
#include "http/Fetcher.h"
#include "log/RunLog.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "run/RunProgress.h"
#include "run/UpdateRun.h"
#include "settings/SavedSettings.h"
#include "ui_Form1.h"

#include <QCloseEvent>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

const QString kLabel1Lines[] = {
    QStringLiteral("Use the Picture below as a guide."),
    QStringLiteral("open regedit: HKCU\\Software\\Kelvo\\zumi\\DLM"),
    QStringLiteral("copy the Values from key and username. store them in the boxes below"),
};

const QString kLabel7Lines[] = {
    QStringLiteral("   Open registry editor and gather the required values. Type or copy them "
                   "into the boxes."),
    QStringLiteral("   Enter the path to your DATA folder and Make sure it ends with a \\ "),
    QStringLiteral("   This is a DUMB program and it relys on you filling in your correct info."),
    QStringLiteral("   Then place check marks in What to get boxes."),
    QStringLiteral("   For a Full Collection to get everything on a 10Mb speed it is 2 hours."),
    QStringLiteral("   The PNG's take up about 400MB space. make sure you have the xtra space."),
    QStringLiteral("   Make sure ALL is correct before you press the button."),
};

} // namespace

Form1::Form1(const QString& assetServerOrigin, const QString& infoServiceOrigin, QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::Form1>()), m_origins{assetServerOrigin, infoServiceOrigin},
      Inet1(new Fetcher(this)), m_fetches(std::make_unique<FetchAhead>(*Inet1))
{
    failWritesPastFileSizeLimit();
    ui->setupUi(this);
    m_front = std::make_unique<WindowFront>(*this, *ui);
    m_progress = std::make_unique<RunProgress>(*m_front);
    connect(Inet1, &Fetcher::retrying, this,
            [this](const QString& url, const QString& reason, std::chrono::milliseconds delay) {
                holdText(ui->Text2,
                         QStringLiteral("Trying again in %1 s: %2: %3")
                             .arg(QString::number(double(delay.count()) / 1000.0), url, reason));
            });
    // A download that takes a moment shows what the run held back before it.
    connect(Inet1, &Fetcher::stillWaiting, this, &showHeldUpdates);
    showHeldUpdatesBeforePainting(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    // Designer keeps whole point sizes only.
    QFont cardFont = ui->Text3->font();
    cardFont.setPointSizeF(9.75);
    ui->Text3->setFont(cardFont);
    // The option groups are addressed by item index.
    ui->oWhat->setId(ui->oWhat_0, 0);
    ui->oWhat->setId(ui->oWhat_1, 1);
    ui->oHow->setId(ui->oHow_0, 0);
    ui->oHow->setId(ui->oHow_1, 1);

    ui->tDATA->setCompleter(new FolderCompleter(ui->tDATA));

    connect(ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    // Every change of the value, also one made by the program.
    connect(ui->Check1, &QCheckBox::stateChanged, this, &Form1::Check1_Click);
    connect(ui->oWhat, &QButtonGroup::idClicked, this, &Form1::oWhat_Click);

    Form_Load();
    // The keyboard starts where the keyboard order does: Command1 is locked at start-up, so at
    // the guide picture. Qt's own choice would pass over a picture.
    ui->Picture1->setFocus();
}

Form1::~Form1() = default;

void Form1::setConnections(int connections)
{
    m_fetches->setConnections(connections);
}

void Form1::Form_Load()
{
    const ShownValues initial{ui->tKEY->text(), ui->tUSERNAME->text(), {}};
    m_savedInfo = loadSettings(m_state);
    if (m_savedInfo) {
        ui->tUSERNAME->setText(m_state.sUserName);
        ui->tKEY->setText(m_state.sKey);
        ui->tDATA->setText(m_state.sDataPath);
    }
    const ShownValues offered = offerCardApplicationValues(
        {ui->tKEY->text(), ui->tUSERNAME->text(), {}}, initial, readCardApplicationValues());
    ui->tKEY->setText(offered.key);
    ui->tUSERNAME->setText(offered.userName);
    if (!offered.note.isEmpty())
        ui->Text2->setText(offered.note);
    ui->Command1->setEnabled(false);
    ui->Command3->setEnabled(false);
    setCheckValue(ui->Check1, kUnticked);

    ui->Label1->setText(kLabel1Lines[0] + kCrLf + kLabel1Lines[1]);
    ui->Label1->setText(ui->Label1->text() + kCrLf + kLabel1Lines[2]);
    ui->Label7->setText(kCrLf + kLabel7Lines[0]);
    for (std::size_t line = 1; line < std::size(kLabel7Lines); ++line)
        ui->Label7->setText(ui->Label7->text() + kCrLf + kLabel7Lines[line]);
    m_front->giveTurn();
}

void Form1::Command1_Click()
{
    m_running = true;
    m_stopRequest.clear();
    RunLog log;
    RunContext run{*m_front,  *m_front,      m_state,        log, *m_fetches, *m_progress,
                   m_origins, m_stopRequest, m_checkPictures};
    updateKxCardData(run);
    m_lastOutcome = run.outcome;
    m_running = false;
    if (m_closeRequested)
        close();
}

void Form1::Command2_Click()
{
    ui->Command1->setText(QStringLiteral("Update KX Card Data"));
    ui->Text2->setText(QString());
    setCheckValue(ui->Check1, kUnticked);
    ui->Check1->setEnabled(true);
    ui->Command2->setEnabled(false);
    m_front->clearProgress();
    m_front->giveTurn();
}

void Form1::Command3_Click()
{
    const Status saved = saveSettings(trimSpaces(ui->tUSERNAME->text()),
                                      trimSpaces(ui->tKEY->text()), trimSpaces(ui->tDATA->text()));
    ui->Text2->setText(savedText(saved));
}

void Form1::Check1_Click()
{
    const bool confirmed = checkValue(ui->Check1) == kTicked;
    ui->Command1->setEnabled(confirmed);
    ui->Command3->setEnabled(confirmed);
}

void Form1::oWhat_Click(int /*index*/)
{
    const bool oneCard = ui->oWhat_1->isChecked();
    ui->Text3->setVisible(oneCard);
    ui->Label8->setVisible(oneCard);
    m_front->giveTurn();
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (!m_running) {
        event->accept();
        return;
    }
    // The run is further up this call stack: stop it at once, and close once it has
    // written its log and returned.
    event->ignore();
    m_closeRequested = true;
    stopRun(windowClosedReason());
}

void Form1::stopRun(const QString& reason)
{
    if (!m_running || !m_stopRequest.isEmpty())
        return;
    m_stopRequest = reason;
    Inet1->abort();
}

void Form1::runUpdate(const RunChoices& choices)
{
    const std::vector<QCheckBox*>& boxes = m_front->kindBoxes();
    for (std::size_t kind = 0; kind < boxes.size() && !choices.kinds.empty(); ++kind)
        setCheckValue(boxes[kind],
                      kind < choices.kinds.size() && choices.kinds[kind] ? kTicked : kUnticked);
    (choices.card.isEmpty() ? ui->oWhat_0 : ui->oWhat_1)->click();
    ui->Text3->setText(choices.card);
    (choices.overwrite ? ui->oHow_1 : ui->oHow_0)->click();
    setCheckValue(ui->Check1, kTicked);
    ui->Command1->click();
}

QString Form1::statusText() const
{
    return ui->Text2->text();
}
