#include "ui/rig/StationLink.h"

#include "data/Fields.h"
#include "rig/BandMode.h"
#include "ui/common/Guard.h"
#include "ui/common/StatusLabel.h"
#include "ui/rig/RigDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QScopeGuard>
#include <QStatusBar>

namespace qardel {

StationLink::StationLink(TfMain* window, QObject* parent)
    : QObject(parent), m_w(window), m_rig(new rig::RigControl(this)),
      m_listener(new rig::WsjtxListener(this)), m_logger(new rig::QsoLogger(window->DM, this)) {
    QStatusBar* sb = m_w->statusBar();
    lbNotice = new StatusLabel(260, false, sb);
    lbNotice->setObjectName(QStringLiteral("lbStationNotice"));
    lbRig = new StatusLabel(160, false, sb);
    lbRig->setObjectName(QStringLiteral("lbRig"));
    lbRig->hide();
    sbStation = new QToolButton(sb);
    sbStation->setObjectName(QStringLiteral("sbStation"));
    sbStation->setText(QStringLiteral("Радио"));
    sbStation->setToolTip(QStringLiteral("Радиостанция и WSJT-X (Ctrl+Shift+R)"));
    sbStation->setAutoRaise(true);
    sbStation->setFocusPolicy(Qt::NoFocus);
    sbStation->setFixedHeight(17);
    m_w->addStatusText(lbRig);
    m_w->addStatusText(lbNotice);
    sb->addPermanentWidget(sbStation);
    connect(sbStation, &QToolButton::clicked, this,
            [this] { guarded([this] { openSettings(); }); });
    scStation = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+R")), m_w);
    connect(scStation, &QShortcut::activated, this,
            [this] { guarded([this] { openSettings(); }); });

    connect(m_rig, &rig::RigControl::stateChanged, this, &StationLink::onRigState);
    connect(m_rig, &rig::RigControl::reading, this, &StationLink::onReading);
    connect(m_listener, &rig::WsjtxListener::qsoReceived, m_logger,
            [this](const rig::WsjtxQso& q) { m_logger->take(q); });
    connect(m_listener, &rig::WsjtxListener::datagramIgnored, this, &StationLink::updateCounts);
    connect(m_logger, &rig::QsoLogger::done, this, &StationLink::onLogged);
    m_logger->setGate([this] { return mayWrite(); });
    applySettings();
}

StationLink::~StationLink() {
    m_rig->stop();
    m_listener->close();
}

void StationLink::applySettings() {
    TDM* dm = m_w->DM;
    if (!dm || !dm->dsINI->isActive()) return;
    const rig::RigSettings radio = rig::loadRigSettings(*dm);
    const rig::WsjtxSettings wsjtx = rig::loadWsjtxSettings(*dm);
    m_rig->stop();
    m_haveReading = false;
    m_bandFollowed = -1;
    m_modeFollowed.clear();
    m_modeApplied = false;
    lbRig->setVisible(radio.enabled);
    if (radio.enabled) m_rig->start(radio, pollMs, retryMs);
    m_listener->close();
    if (wsjtx.enabled) {
        const QString failed = m_listener->listen(wsjtx);
        setNotice(
            failed.isEmpty()
                ? QStringLiteral("WSJT-X: жду QSO на %1:%2").arg(wsjtx.address).arg(wsjtx.port)
                : QStringLiteral("WSJT-X: не слушаю — %1").arg(failed));
    } else {
        setNotice(QString());
    }
    updateCounts();
}

void StationLink::openSettings() {
    TDM* dm = m_w->DM;
    if (!dm || !dm->dsINI->isActive()) return;
    // typing goes on where it was when the dialog closes
    QPointer<QWidget> had = QApplication::focusWidget();
    const auto refocus = qScopeGuard([&] {
        m_w->activateWindow();
        if (had) had->setFocus();
    });
    TfRigSettings dialog(rig::loadRigSettings(*dm), rig::loadWsjtxSettings(*dm), m_w);
    if (dialog.exec() != QDialog::Accepted) return;
    rig::saveRigSettings(*dm, dialog.radioSettings());
    rig::saveWsjtxSettings(*dm, dialog.wsjtxSettings());
    dm->SaveAll();
    applySettings();
}

// ---------------------------------------------------------------- the radio

void StationLink::onRigState(rig::RigState state, const QString& detail) {
    switch (state) {
    case rig::RigState::Off:
        lbRig->clear();
        break;
    case rig::RigState::Connecting:
        lbRig->setText(QStringLiteral("Радио: подключение…"));
        lbRig->setToolTip(QString());
        break;
    case rig::RigState::Connected:
        lbRig->setToolTip(QStringLiteral("Радиостанция на связи"));
        break;
    case rig::RigState::Lost:
        m_haveReading = false;
        lbRig->setText(QStringLiteral("Радио: нет связи"));
        lbRig->setToolTip(
            QStringLiteral("Hamlib: %1\nНовые попытки идут сами; набор QSO это не задерживает.")
                .arg(detail));
        setNotice(QStringLiteral("Радиостанция не отвечает; попытки продолжаются"));
        break;
    }
}

void StationLink::onReading(double hz, const QString& mode) {
    m_hz = hz;
    m_mode = mode;
    m_haveReading = true;
    const QString khz = QLocale().toString(hz / 1000, 'f', 3);
    lbRig->setText(QStringLiteral("%1 кГц %2").arg(khz, mode).trimmed());
    guarded([this] { follow(); });
}

// The panel follows the radio's changes: a band the radio entered is chosen
// as the operator chooses one (its defaults applied), then the radio's mode
// is selected. What the operator chose by hand stays until the radio moves
// again. Nothing follows while a QSO is corrected or a list is open; the
// change is made when that ends.
void StationLink::follow() {
    TDM* dm = m_w->DM;
    if (!m_haveReading || !dm || !dm->dsBands->isActive() || m_w->FEditMode) return;
    if (m_w->cbBand->view()->isVisible() || m_w->cbMode->view()->isVisible()) return;
    const int bandId = rig::bandIdOfFrequency(*dm->dsBands, m_hz);
    if (bandId > 0 && bandId != m_bandFollowed) {
        const int index = TDM::ComboIndexOfID(*m_w->cbBand, bandId);
        if (index >= 0) {
            if (index != m_w->cbBand->currentIndex()) {
                m_w->cbBand->setSelectedIndex(index);
                m_w->cbBandChange();
                m_modeApplied = false; // the band's default mode gives way to the radio's
            }
            m_bandFollowed = bandId;
        }
    }
    if (!m_modeApplied || m_mode != m_modeFollowed) {
        QStringList entries;
        for (int i = 0; i < m_w->cbMode->count(); ++i)
            entries << m_w->cbMode->itemText(i);
        const QString entry = rig::modeEntryForRadio(m_mode, entries, m_w->cbMode->currentText());
        if (!entry.isEmpty()) m_w->cbMode->setSelectedIndex(m_w->cbMode->findText(entry));
        m_modeFollowed = m_mode;
        m_modeApplied = true;
    }
}

// ---------------------------------------------------------------- WSJT-X

// The tables are written only between the operator's actions: not while a
// question or a dialog is open (they rely on the cursors they left), not
// while a list is open, not while a row is being edited.
bool StationLink::mayWrite() const {
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) return false;
    TDM* dm = m_w->DM;
    if (!dm) return false;
    for (Table* t : dm->tables())
        if (t->state() == TableState::Insert || t->state() == TableState::Edit) return false;
    return true;
}

// A list refilled with its new rows; what is typed in it, the caret and
// the selection (a completion's selected rest) stay as they were.
void StationLink::refill(IdComboBox* box, Table* table, const QString& field) {
    QLineEdit* le = box->lineEdit();
    const QString text = le ? le->text() : QString();
    const int cursor = le ? le->cursorPosition() : 0;
    const int selStart = le ? le->selectionStart() : -1;
    const int selLength = le ? int(le->selectedText().size()) : 0;
    m_w->DM->FillCombo(*box, *table, field);
    if (!le) return;
    if (le->text() != text) le->setText(text);
    if (selStart >= 0 && selLength > 0) {
        if (cursor == selStart)
            le->setSelection(selStart + selLength, -selLength);
        else
            le->setSelection(selStart, selLength);
    } else {
        le->setCursorPosition(cursor);
    }
}

void StationLink::onLogged(const rig::LogOutcome& o) {
    TDM* dm = m_w->DM;
    for (Table* t : o.grown) {
        if (t == dm->dsNames) refill(m_w->cbName, t, fld::Value);
        if (t == dm->dsRS) {
            refill(m_w->cbCorRS, t, fld::Value);
            refill(m_w->cbMyRS, t, fld::Value);
        }
        if (t == dm->dsBands) refill(m_w->cbBand, t, fld::Name);
        if (t == dm->dsModes) refill(m_w->cbMode, t, fld::Name);
    }
    const QString what =
        QStringLiteral("%1 %2 %3 %4")
            .arg(o.call, o.band, o.mode, QLocale().toString(o.time.time(), QStringLiteral("HH:mm")))
            .simplified();
    switch (o.kind) {
    case rig::LogOutcome::Logged:
        ++m_logged;
        m_w->updateRecordCount();
        setNotice(QStringLiteral("WSJT-X: записано QSO %1").arg(what));
        break;
    case rig::LogOutcome::NotSaved:
        ++m_logged;
        m_w->updateRecordCount();
        setNotice(QStringLiteral("WSJT-X: QSO %1 в журнале, но не записано на диск: %2")
                      .arg(what, o.reason));
        break;
    case rig::LogOutcome::Duplicate:
        ++m_duplicates;
        break;
    case rig::LogOutcome::Refused:
        ++m_refused;
        setNotice(QStringLiteral("WSJT-X: QSO %1 не записано: %2").arg(o.call, o.reason));
        break;
    }
    updateCounts();
}

void StationLink::setNotice(const QString& text) {
    lbNotice->setText(text);
    lbNotice->setProperty("fullText", text);
    updateCounts();
}

void StationLink::updateCounts() {
    const QString counts =
        QStringLiteral("Из WSJT-X записано QSO: %1; уже были в журнале: %2; не записано: %3;\n"
                       "непонятных датаграмм пропущено: %4")
            .arg(m_logged)
            .arg(m_duplicates)
            .arg(m_refused)
            .arg(m_listener->malformed());
    const QString full = lbNotice->property("fullText").toString();
    lbNotice->setToolTip(full.isEmpty() ? counts : full + QStringLiteral("\n") + counts);
}

} // namespace qardel
