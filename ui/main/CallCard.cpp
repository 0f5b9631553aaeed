#include "ui/main/CallCard.h"

#include "callinfo/Locator.h"
#include "data/Fields.h"
#include "ui/common/Guard.h"
#include "ui/common/StatusLabel.h"
#include "ui/common/TextRules.h"
#include "ui/main/uMain.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace qardel {

using callinfo::CallInfo;
using callinfo::WorkedIndex;

namespace {

constexpr int kLine = 15; // a line of Tahoma 8 pt with its leading

QString standingText(WorkedIndex::Standing s) {
    switch (s) {
    case WorkedIndex::Standing::NewEntity:
        return QStringLiteral("Новая страна!");
    case WorkedIndex::Standing::NewBandAndMode:
        return QStringLiteral("Новый диапазон и вид модуляции");
    case WorkedIndex::Standing::NewBand:
        return QStringLiteral("Новый диапазон");
    case WorkedIndex::Standing::NewMode:
        return QStringLiteral("Новый вид модуляции");
    case WorkedIndex::Standing::Worked:
        return QStringLiteral("Страна уже сработана");
    }
    return {};
}

QColor standingColor(WorkedIndex::Standing s) {
    switch (s) {
    case WorkedIndex::Standing::NewEntity:
        return QColor(192, 0, 0);
    case WorkedIndex::Standing::Worked:
        return QColor(0, 110, 0);
    default:
        return QColor(0, 0, 192);
    }
}

// "UTC+5:30", "UTC−3", "UTC"
QString utcText(double hours) {
    const int minutes = int(std::lround(hours * 60));
    if (minutes == 0) return QStringLiteral("UTC");
    const int a = std::abs(minutes);
    QString t =
        QStringLiteral("UTC%1%2").arg(minutes < 0 ? QChar(0x2212) : QChar(u'+')).arg(a / 60);
    if (a % 60) t += QStringLiteral(":%1").arg(a % 60, 2, 10, QLatin1Char('0'));
    return t;
}

} // namespace

CallCard::CallCard(TfMain* main) : QFrame(main->tsEdit), m_main(main) {
    setObjectName(QStringLiteral("pnCallCard"));
    // one line per fact, at fixed places: a changed text repaints its line
    // and lays nothing out again
    const int height = 197 - 4 - 24; // the page under its tab
    setGeometry(kLeft, 4, kWidth, height - 4);
    auto line = [this](const char* name, int y, int lines = 1, int width = kWidth) {
        auto* l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText);
        l->setFixedSize(width, kLine * lines);
        l->move(0, y);
        l->setAlignment(Qt::AlignLeft | (lines > 1 ? Qt::AlignTop : Qt::AlignVCenter));
        l->setWordWrap(lines > 1);
        return l;
    };
    lbEntity = line("lbEntity", 0);
    QFont bold = font();
    bold.setBold(true);
    lbEntity->setFont(bold);
    lbPlace = line("lbPlace", kLine);
    lbTime = line("lbTime", 2 * kLine);
    btnMyLocator = new QPushButton(QStringLiteral("Мой локатор…"), this);
    btnMyLocator->setObjectName(QStringLiteral("btnMyLocator"));
    btnMyLocator->setToolTip(QStringLiteral("Свой локатор для азимута и расстояния"));
    btnMyLocator->setFocusPolicy(Qt::NoFocus); // the panel's Tab order stays as it is
    const int buttonWidth =
        btnMyLocator->fontMetrics().horizontalAdvance(btnMyLocator->text()) + 16;
    btnMyLocator->setGeometry(kWidth - buttonWidth, 3 * kLine - 2, buttonWidth, kLine + 4);
    lbBeam = line("lbBeam", 3 * kLine, 1, kWidth - buttonWidth - 4);
    lbNewOne = line("lbNewOne", 4 * kLine + 6);
    lbNewOne->setFont(bold);
    lbWorked = line("lbWorked", 5 * kLine + 6);
    lbBandsModes = line("lbBandsModes", 6 * kLine + 6, 2);
    lbScp = line("lbScp", 8 * kLine + 6, 2);
    lbSource = line("lbSource", height - 4 - kLine);
    QPalette grey = lbSource->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    lbSource->setPalette(grey);

    // The status bar's free space, right of the two panels: what is left
    // once the mode text has room for its longer form.
    sbCallInfo = new StatusLabel(360, true, main->statusBar());
    sbCallInfo->setObjectName(QStringLiteral("sbCallInfo"));
    main->addStatusText(sbCallInfo);

    connect(btnMyLocator, &QPushButton::clicked, this,
            [this] { guarded([this] { btnMyLocatorClick(); }); });
    for (QLineEdit* e : {main->edCallName, main->edSuffix})
        connect(e, &QLineEdit::textChanged, this, &CallCard::scheduleRefresh);
    for (QComboBox* b :
         {static_cast<QComboBox*>(main->cbBand), static_cast<QComboBox*>(main->cbMode)})
        connect(b, &QComboBox::currentIndexChanged, this, &CallCard::scheduleRefresh);
    main->tsEdit->installEventFilter(this);
    m_clock.setInterval(20000);
    connect(&m_clock, &QTimer::timeout, this, &CallCard::showTime);
    clear();
}

CallCard::~CallCard() = default;

void CallCard::attach() {
    TDM& dm = *m_main->DM;
    m_cty = callinfo::loadCty(dm.DataDir);
    m_locator = dm.GetTextSetting(setting::MyLocator);
    m_index = std::make_unique<WorkedIndex>(dm);
    m_index->setCty(m_cty.data);
    m_index->changed = [this] { scheduleRefresh(); };
    // counted right after the window is up rather than before: a long log
    // then opens that much sooner, and a key typed meanwhile waits in the
    // queue (the first question would count it otherwise)
    QTimer::singleShot(0, this, [this] {
        if (m_index) guarded([this] { m_index->build(); });
    });
    if (m_cty.data) {
        const QString when = m_cty.file.date.toString(QStringLiteral("dd.MM.yyyy"));
        const QString text = QStringLiteral("Данные о странах от %1: %2")
                                 .arg(when, QDir::toNativeSeparators(m_cty.file.path));
        // a newer copy passed over is told in the tip
        setLine(lbSource, text,
                m_cty.problem.isEmpty()
                    ? QString()
                    : text + QStringLiteral("\nНе прочитано: ") + m_cty.problem);
    } else {
        setLine(lbSource, {});
    }
    refresh();
}

void CallCard::detach() {
    m_index.reset();
}

void CallCard::scheduleRefresh() {
    if (m_pending) return;
    m_pending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pending = false;
            guarded([this] { refresh(); });
        },
        Qt::QueuedConnection);
}

bool CallCard::inView() const {
    return isVisibleTo(m_main) && parentWidget()->width() > x();
}

bool CallCard::eventFilter(QObject* watched, QEvent* event) {
    // widened into view: the card catches up with what it skipped
    if (watched == parentWidget() && event->type() == QEvent::Resize && m_stale && inView())
        scheduleRefresh();
    return QFrame::eventFilter(watched, event);
}

void CallCard::setLine(QLabel* l, const QString& text, const QString& tip) {
    // out of view the card's lines wait; the status bar's line does not,
    // nor the source, which is set once
    if (l != sbCallInfo && l != lbSource && !m_inView) {
        m_stale = true;
        return;
    }
    // one line: what does not fit ends in an ellipsis, the whole text in the tip
    QString shown = text;
    if (!l->wordWrap() && l->fontMetrics().horizontalAdvance(text) > l->width())
        shown = l->fontMetrics().elidedText(text, Qt::ElideRight, l->width());
    if (l->text() != shown) l->setText(shown);
    const QString t = tip.isEmpty() && shown != text ? text : tip;
    if (l->toolTip() != t) l->setToolTip(t);
}

void CallCard::clear() {
    m_inView = inView();
    for (QLabel* l : {lbEntity, lbPlace, lbTime, lbBeam, lbNewOne, lbWorked, lbBandsModes, lbScp})
        setLine(l, {});
    setLine(sbCallInfo, {});
    m_clock.stop();
}

void CallCard::showTime() {
    const QDateTime there =
        QDateTime::currentDateTimeUtc().addSecs(qint64(std::lround(m_utcOffset * 3600)));
    setLine(lbTime, QStringLiteral("Местное время %1 (%2)")
                        .arg(there.toString(QStringLiteral("HH:mm")), utcText(m_utcOffset)));
}

QString CallCard::bandsModesText(const WorkedIndex::History& h) const {
    TDM& dm = *m_main->DM;
    auto name = [](Table* t, int id) {
        const QString n =
            id > 0 ? t->lookupValue(fld::ID, id, fld::Name, 25).toString() : QString();
        return n.isEmpty() ? QStringLiteral("—") : n;
    };
    // by band, in the order first met; the modes of each band after it
    QStringList parts;
    QList<int> bands;
    for (const auto& bm : h.bandModes)
        if (!bands.contains(bm.bandId)) bands << bm.bandId;
    for (int band : bands) {
        QStringList modes;
        for (const auto& bm : h.bandModes)
            if (bm.bandId == band) modes << name(dm.dsModes, bm.modeId);
        parts << QStringLiteral("%1: %2").arg(name(dm.dsBands, band),
                                              modes.join(QStringLiteral(", ")));
    }
    return parts.join(QStringLiteral(" · "));
}

void CallCard::refresh() {
    TfMain& w = *m_main;
    m_inView = inView();
    if (m_inView) m_stale = false;
    const QString call = w.edCallName->text();
    if (!m_index || call.isEmpty()) {
        clear();
        return;
    }
    TDM& dm = *w.DM;
    const QString suffix = w.edSuffix->text();
    // the QSO being corrected does not count as worked before
    const int exceptId =
        w.FEditMode && !dm.dsMain->isEmpty() ? dm.dsMain->fieldByName(fld::ID).asInteger() : 0;
    const int bandId = w.cbBand->currentIndex() >= 0 ? w.cbBand->selectedId() : 0;
    const int modeId = w.cbMode->currentIndex() >= 0 ? w.cbMode->selectedId() : 0;
    const QLocale loc;
    QStringList summary;

    // the entity
    const callinfo::CtyData* cty = m_cty.data.get();
    CallInfo info;
    if (cty) info = cty->resolve(call, suffix);
    if (!cty) {
        setLine(lbEntity, QStringLiteral("Нет данных о странах: ") + m_cty.problem);
        summary << QStringLiteral("нет данных о странах");
    } else if (info.kind == CallInfo::Kind::Maritime) {
        setLine(lbEntity, QStringLiteral("Морская подвижная (/MM): страны нет"));
        summary << QStringLiteral("/MM: страны нет");
    } else if (info.kind == CallInfo::Kind::Aero) {
        setLine(lbEntity, QStringLiteral("Воздушная подвижная (/AM): страны нет"));
        summary << QStringLiteral("/AM: страны нет");
    } else if (info.kind == CallInfo::Kind::Unknown) {
        setLine(lbEntity, QStringLiteral("Префикс не найден в данных о странах"));
        summary << QStringLiteral("префикс не найден");
    } else {
        const callinfo::Entity& e = cty->entity(info.entity);
        QString head = e.name + QStringLiteral(" · ") + e.prefix;
        if (e.dxcc > 0) head += QStringLiteral(" · DXCC %1").arg(e.dxcc);
        if (info.waeEntity >= 0)
            head += QStringLiteral(" · WAE: %1").arg(cty->entity(info.waeEntity).name);
        setLine(lbEntity, head);
        summary << e.name;
    }
    if (info.hasEntity()) {
        setLine(lbPlace, QStringLiteral("%1 (%2) · CQ %3 · ITU %4")
                             .arg(callinfo::continentName(info.continent), info.continent)
                             .arg(info.cq)
                             .arg(info.itu));
        summary << info.continent << QStringLiteral("CQ %1").arg(info.cq)
                << QStringLiteral("ITU %1").arg(info.itu);
        m_utcOffset = info.utcOffset;
        showTime();
        if (m_inView && !m_clock.isActive()) m_clock.start();
        const auto mine = callinfo::locatorCentre(m_locator);
        if (mine) {
            const callinfo::LatLon there{info.lat, info.lon};
            setLine(
                lbBeam,
                QStringLiteral("Азимут %1° · %2 км")
                    .arg(std::lround(callinfo::bearingDeg(*mine, there)) % 360)
                    .arg(loc.toString(qlonglong(std::lround(callinfo::distanceKm(*mine, there))))),
                QStringLiteral("От %1, по короткому пути").arg(m_locator));
        } else {
            setLine(lbBeam, QStringLiteral("Азимут и расстояние: нужен свой локатор"));
        }
        const WorkedIndex::Standing s = m_index->standing(info.entity, bandId, modeId, exceptId);
        setLine(lbNewOne, standingText(s));
        QPalette p = lbNewOne->palette();
        if (m_inView && p.color(QPalette::WindowText) != standingColor(s)) {
            p.setColor(QPalette::WindowText, standingColor(s));
            lbNewOne->setPalette(p);
        }
        summary << standingText(s);
    } else {
        for (QLabel* l : {lbPlace, lbTime, lbBeam, lbNewOne})
            setLine(l, {});
        m_clock.stop();
    }

    // this station
    const WorkedIndex::History h = m_index->history(call, exceptId);
    if (h.qsos == 0) {
        setLine(lbWorked, QStringLiteral("С этим позывным связей не было"));
        setLine(lbBandsModes, {});
    } else {
        setLine(lbWorked, QStringLiteral("Связей с позывным: %1, последняя %2")
                              .arg(h.qsos)
                              .arg(h.last.date().toString(QStringLiteral("dd.MM.yyyy"))));
        setLine(lbBandsModes, bandsModesText(h));
        summary << QStringLiteral("QSO: %1").arg(h.qsos);
    }

    // super check partial: a call not among the correspondents
    QString scp;
    if (m_inView && call.size() >= 3 &&
        dm.dsCors->find(fld::CallName, call, loCaseInsensitive | loPartialKey) < 0) {
        // read at its first use: most calls typed are known ones
        if (!m_scpRead) {
            m_scp = callinfo::loadScp(dm.DataDir);
            m_scpRead = true;
        }
        if (!m_scp.data) {
            scp = QStringLiteral("SCP: нет списка MASTER.SCP");
        } else {
            const QStringList calls = m_scp.data->find(call, 8);
            scp = QStringLiteral("SCP: ") + (calls.isEmpty() ? QStringLiteral("нет совпадений")
                                                             : calls.join(QLatin1Char(' ')));
        }
    }
    setLine(lbScp, scp);
    setLine(sbCallInfo, summary.join(QStringLiteral(" · ")));
}

void CallCard::btnMyLocatorClick() {
    TfMyLocator dialog(m_locator, m_main);
    if (dialog.exec() != QDialog::Accepted) return;
    TDM& dm = *m_main->DM;
    dm.SetTextSetting(setting::MyLocator, dialog.locator());
    m_locator = dialog.locator();
    dm.SaveAll();
    refresh();
}

// ---------------------------------------------------------------- the locator dialog

TfMyLocator::TfMyLocator(const QString& locator, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fMyLocator"));
    setWindowTitle(QStringLiteral("Мой локатор"));
    setFont(parent->font());
    auto* lay = new QVBoxLayout(this);
    auto* label =
        new QLabel(QStringLiteral("Локатор QTH (4 или 6 знаков, например KO85 или KO85ab);\n"
                                  "пустое поле — локатор не задан:"),
                   this);
    lay->addWidget(label);
    edMyLocator = new LineEdit(this);
    edMyLocator->setObjectName(QStringLiteral("edMyLocator"));
    edMyLocator->setMaxLength(6);
    applyLineRules(edMyLocator);
    edMyLocator->setText(locator);
    label->setBuddy(edMyLocator);
    lay->addWidget(edMyLocator);
    lbHint = new QLabel(this);
    lbHint->setObjectName(QStringLiteral("lbHint"));
    QPalette red = lbHint->palette();
    red.setColor(QPalette::WindowText, QColor(192, 0, 0));
    lbHint->setPalette(red);
    lay->addWidget(lbHint);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnOk = new QPushButton(QStringLiteral("Сохранить"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Отменить"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    lay->addLayout(buttons);
    lay->setSizeConstraint(QLayout::SetFixedSize);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(edMyLocator, &QLineEdit::textChanged, this, &TfMyLocator::edMyLocatorChange);
    edMyLocatorChange();
}

QString TfMyLocator::locator() const {
    return callinfo::normalizedLocator(edMyLocator->text().trimmed());
}

void TfMyLocator::edMyLocatorChange() {
    const QString t = edMyLocator->text().trimmed();
    const bool ok = t.isEmpty() || callinfo::isValidLocator(t);
    btnOk->setEnabled(ok);
    lbHint->setText(ok ? QString()
                       : QStringLiteral("Не локатор: две буквы A–R, две цифры, "
                                        "и ещё две буквы A–X, если нужно"));
}

} // namespace qardel
