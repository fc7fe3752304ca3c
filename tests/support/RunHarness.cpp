#include "RunHarness.h"

#include "TestSupport.h"
#include "cards/UpdateCard.h"
#include "platform/CheckValue.h"
#include "platform/HeldUpdates.h"

namespace {
Ui::Form1& setUp(Ui::Form1& ui, QWidget& window)
{
    ui.setupUi(&window);
    return ui;
}
} // namespace

RunHarness::RunHarness(const SampleCardServer& server, const QString& dataPath)
    : progress(setUp(ui, window).ProgressBar1), context{&window,
                                                        ui,
                                                        state,
                                                        log,
                                                        fetcher,
                                                        progress,
                                                        {QString::fromStdString(server.origin()),
                                                         QString::fromStdString(server.origin())},
                                                        stopRequested}
{
    state.sDataPath = dataPath;
    state.sKey = QStringLiteral("KEY");
    state.sUserName = QStringLiteral("user");
    fetcher.setTransferTimeout(std::chrono::milliseconds(2000));
}

void RunHarness::tickOnly(const QStringList& boxes)
{
    for (QCheckBox* box : {ui.cbCI, ui.cbTI, ui.cbINF, ui.cbCX, ui.cbCP})
        setCheckValue(box, boxes.contains(box->objectName()) ? kTicked : kUnticked);
}

void RunHarness::setOverwrite(bool overwrite)
{
    (overwrite ? ui.oHow_1 : ui.oHow_0)->setChecked(true);
}

Status RunHarness::update(const QString& card)
{
    if (!log.isOpen()) {
        if (Status opened = log.open(); !opened)
            return opened;
    }
    const Status updated = UpdateCard(context, card);
    showHeldUpdates(); // as the run does when it ends
    return updated;
}

QStringList RunHarness::logLines()
{
    (void)log.close();
    const QByteArray bytes = readBytes(QString::fromUtf16(RunLog::kFileName));
    if (bytes.isEmpty())
        return {};
    if (!bytes.endsWith("\r\n"))
        return {QStringLiteral("<log does not end in CR LF>")};
    QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}
