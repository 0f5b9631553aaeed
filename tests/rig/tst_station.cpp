// The radio and WSJT-X seen from the main window: the panel's band and mode
// follow a real rigctld (Hamlib's dummy radio) and the dummy model reached
// directly; QSOs sent over the loopback interface as WSJT-X sends them land
// in the log files, the grid and the status bar without disturbing what
// the operator is typing; the settings dialog stores what it is given.
#include "UiTestUtil.h"
#include "data/Fields.h"
#include "rig/Settings.h"
#include "rig/WsjtxProtocol.h"
#include "ui/rig/RigDialog.h"
#include "ui/rig/StationLink.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QNetworkInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimeZone>
#include <QTimer>
#include <QUdpSocket>

using namespace qardel;
using namespace qardel::test;

namespace {

constexpr int kLong = 60000; // a loaded machine may be slow; the condition decides

// Hamlib's dummy radio behind rigctld on a port the system chose free.
struct Rigctld {
    QProcess proc;
    quint16 port = 0;

    bool start(quint16 wanted = 0) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            port = wanted;
            if (!port) {
                QTcpServer probe;
                if (!probe.listen(QHostAddress::LocalHost, 0)) return false;
                port = probe.serverPort();
            }
            proc.start(QStringLiteral("rigctld"),
                       {QStringLiteral("-m"), QStringLiteral("1"), QStringLiteral("-T"),
                        QStringLiteral("127.0.0.1"), QStringLiteral("-t"), QString::number(port)});
            if (!proc.waitForStarted(kLong)) return false;
            // ready once it accepts a connection; gone when the port was taken
            const QDeadlineTimer deadline(kLong);
            while (!deadline.hasExpired() && proc.state() == QProcess::Running) {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, port);
                if (s.waitForConnected(1000)) return true;
                QTest::qWait(50);
            }
            proc.kill();
            proc.waitForFinished(kLong);
        }
        return false;
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    // rigctl through Hamlib's network radio, as another program would
    bool rigctl(const QStringList& command) const {
        QProcess p;
        p.start(QStringLiteral("rigctl"), QStringList{QStringLiteral("-m"), QStringLiteral("2"),
                                                      QStringLiteral("-r"), address()} +
                                              command);
        return p.waitForFinished(kLong) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }
    void stop() {
        proc.kill();
        proc.waitForFinished(kLong);
    }
    ~Rigctld() { stop(); }
};

struct Ids {
    int ssb = 0, cw = 0, fm = 0, b160 = 0, b20 = 0, b40 = 0, b2 = 0, qso = 0;
};

// Bands with their defaults: names the band plan knows, and one with edges in kHz.
Ids seedBands(TDM& dm) {
    Ids i;
    i.ssb = addRow(*dm.dsModes, {{fld::Name, "SSB"}});
    i.cw = addRow(*dm.dsModes, {{fld::Name, "CW"}});
    i.fm = addRow(*dm.dsModes, {{fld::Name, "FM"}});
    Table& b = *dm.dsBands;
    i.b160 = addRow(b, {{fld::Name, "160м"}, {fld::DefPower, 200.0}, {fld::DefModeID, i.cw}});
    i.b20 = addRow(b, {{fld::Name, "20м"}, {fld::DefPower, 100.0}, {fld::DefModeID, i.ssb}});
    i.b40 = addRow(b, {{fld::Name, "40 м (CW)"},
                       {fld::Begin, 7000.0},
                       {fld::End, 7200.0},
                       {fld::DefPower, 50.0},
                       {fld::DefModeID, i.cw}});
    i.b2 = addRow(b, {{fld::Name, "2 м"}, {fld::DefPower, 10.0}, {fld::DefModeID, i.fm}});
    return i;
}

QStringList panel(const TfMain& w) {
    return {w.cbBand->currentText(), w.cbMode->currentText(), w.edMyPower->text()};
}

rig::WsjtxQso loggedQso(const QString& call, const QDateTime& utc, quint64 hz,
                        const QString& mode) {
    rig::WsjtxQso q;
    q.type = rig::kWsjtxQsoLogged;
    q.id = QStringLiteral("WSJT-X");
    q.call = call;
    q.timeOn = utc;
    q.timeOff = utc.addSecs(60);
    q.txFrequency = hz;
    q.mode = mode;
    q.reportSent = QStringLiteral("-12");
    q.reportReceived = QStringLiteral("+05");
    q.txPower = QStringLiteral("50");
    q.name = QStringLiteral("Ivan");
    q.comments = QStringLiteral("FT8 tnx");
    return q;
}

void send(const QByteArray& bytes, quint16 port, const QHostAddress& to = QHostAddress::LocalHost) {
    QUdpSocket s;
    QVERIFY(s.writeDatagram(bytes, to, port) == bytes.size());
}

// The log as the files hold it, newest first: call, band, mode, reports, notice.
QStringList logOnDisk(const AppData& a) {
    QStringList out;
    onDisk(a, [&](TDM& dm) {
        Table& log = *dm.dsMain;
        for (log.first(); !log.eof(); log.next()) {
            QStringList r;
            for (const QString& f : {fld::CorCallName, fld::Band, fld::Mode, fld::CorRS, fld::MyRS,
                                     fld::CorName, fld::Notice})
                r << log.fieldByName(f).asString();
            out << r.join(QLatin1Char('|'));
        }
    });
    return out;
}

} // namespace

class TestStation : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        initUiTests();
        qRegisterMetaType<rig::RigState>();
    }
    void init() { msg::resetCounters(); }

    // rigctld: the band the radio enters is chosen with its defaults, the
    // mode follows; what the operator chose stays until the radio moves; a
    // QSO being corrected is left alone; a lost radio is said once.
    void followsRigctld() {
        AppData a;
        Rigctld r;
        QVERIFY(r.start());
        Ids ids;
        withData(a, [&](TDM& dm) {
            ids = seedBands(dm);
            const int cor = addRow(*dm.dsCors, {{fld::CallName, "UA3AAA"}});
            ids.qso = addRow(*dm.dsMain, {{fld::CorID, cor},
                                          {fld::BandID, ids.b2},
                                          {fld::ModeID, ids.fm},
                                          {fld::MyPower, 5.0}});
            dm.SetIntSetting(setting::RigEnabled, 1);
            dm.SetIntSetting(setting::RigConnection, 1);
            dm.SetTextSetting(setting::RigAddress, r.address());
        });
        auto w = startMain();
        StationLink link(w.get());
        link.pollMs = 100;
        link.retryMs = 200;
        link.applySettings();
        QSignalSpy states(link.radio(), &rig::RigControl::stateChanged);
        QSignalSpy readings(link.radio(), &rig::RigControl::reading);
        QSignalSpy attempts(link.radio(), &rig::RigControl::attempted);

        // the dummy starts on 145 MHz FM
        QTRY_COMPARE_WITH_TIMEOUT(panel(*w), (QStringList{"2 м", "FM", "10"}), kLong);
        QVERIFY(r.rigctl({"F", "14074000"}));
        QVERIFY(r.rigctl({"M", "USB", "2400"}));
        QTRY_COMPARE_WITH_TIMEOUT(panel(*w), (QStringList{"20м", "SSB", "100"}), kLong);
        QVERIFY(link.lbRig->text().contains(QLocale().toString(14074.0, 'f', 3)));

        // the operator's power stays; the mode follows within the band
        retype(w->edMyPower, localNum("77"));
        QVERIFY(r.rigctl({"M", "CW", "500"}));
        QTRY_COMPARE_WITH_TIMEOUT(panel(*w), (QStringList{"20м", "CW", "77"}), kLong);

        // a band chosen by hand stays while the radio stays
        w->cbBand->setFocus();
        QTest::keyClick(w->cbBand, Qt::Key_Home);
        QCOMPARE(panel(*w), (QStringList{"160м", "CW", "200"}));
        const int seen = int(readings.size());
        QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= seen + 3, kLong);
        QCOMPARE(panel(*w), (QStringList{"160м", "CW", "200"}));

        // correcting: nothing follows until it ends
        dblClickGridRow(w->grMain, gridRowOfId(w->grMain, ids.qso));
        QVERIFY(w->FEditMode);
        QVERIFY(r.rigctl({"F", "7100000"}));
        QTRY_VERIFY_WITH_TIMEOUT(!readings.isEmpty() && readings.last().at(0).toDouble() == 7100000,
                                 kLong);
        QCOMPARE(panel(*w), (QStringList{"2 м", "FM", localNum("5")}));
        QCOMPARE(w->DM->dsMain->fieldByName(fld::ID).asInteger(), ids.qso);
        QTest::keyClick(w->edCallName, Qt::Key_Escape);
        QVERIFY(!w->FEditMode);
        QTRY_COMPARE_WITH_TIMEOUT(panel(*w), (QStringList{"40 м (CW)", "CW", "50"}), kLong);

        // lost: said once, retried quietly, typing goes on
        r.stop();
        QTRY_COMPARE_WITH_TIMEOUT(link.lbRig->text(), QStringLiteral("Радио: нет связи"), kLong);
        const int tries = int(attempts.size());
        type(w->edCallName, QStringLiteral("ua9"));
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA9"));
        QTRY_VERIFY_WITH_TIMEOUT(attempts.size() >= tries + 3, kLong);
        auto count = [&](rig::RigState s) {
            return std::count_if(states.begin(), states.end(), [s](const QList<QVariant>& args) {
                return args.at(0).value<rig::RigState>() == s;
            });
        };
        QCOMPARE(count(rig::RigState::Lost), 1);
        QVERIFY(link.lbNotice->text().contains(QStringLiteral("не отвечает")));
        QCOMPARE(msg::errorCount(), 0);

        // back: followed again
        QVERIFY(r.start(r.port));
        QTRY_COMPARE_WITH_TIMEOUT(link.radio()->state(), rig::RigState::Connected, kLong);
        QVERIFY(r.rigctl({"F", "14200000"}));
        QVERIFY(r.rigctl({"M", "USB", "2400"}));
        QTRY_COMPARE_WITH_TIMEOUT(panel(*w), (QStringList{"20м", "SSB", "100"}), kLong);
        QCOMPARE(count(rig::RigState::Lost), 1);
        QCOMPARE(w->edCallName->text(), QStringLiteral("UA9"));
    }

    // The dummy radio reached directly through Hamlib, no rigctld between.
    void followsDummyDirectly() {
        AppData a;
        withData(a, [&](TDM& dm) {
            seedBands(dm);
            dm.SetIntSetting(setting::RigEnabled, 1);
            dm.SetIntSetting(setting::RigConnection, 0);
            dm.SetIntSetting(setting::RigModel, 1);
        });
        auto w = startMain();
        StationLink link(w.get());
        QTRY_COMPARE_WITH_TIMEOUT(link.radio()->state(), rig::RigState::Connected, kLong);
        QTRY_COMPARE_WITH_TIMEOUT(panel(*w), (QStringList{"2 м", "FM", "10"}), kLong);
    }

    // A QSO from WSJT-X while a QSO is being typed: logged to disk, shown in
    // the grid, the count and the status bar, the new mode in its list, and
    // nothing the operator typed touched; the same QSO told again by its
    // "Logged ADIF" message is skipped. The typed QSO then saves as ever.
    void wsjtxLogsWhileTyping() {
        AppData a;
        withData(a, [&](TDM& dm) {
            seedBands(dm);
            addRow(*dm.dsNames, {{fld::Value, "Павел"}});
            addRow(*dm.dsNames, {{fld::Value, "Пётр"}});
            dm.SetIntSetting(setting::WsjtxEnabled, 1);
            dm.SetTextSetting(setting::WsjtxAddress, QStringLiteral("127.0.0.1"));
            dm.SetIntSetting(setting::WsjtxPort, 0);
        });
        auto w = startMain();
        StationLink link(w.get());
        QVERIFY(link.wsjtx()->isListening());
        const quint16 port = link.wsjtx()->port();

        w->cbBand->setFocus();
        QTest::keyClick(w->cbBand, Qt::Key_Home);
        QTest::keyClick(w->cbBand, Qt::Key_Down); // 20м, SSB, 100
        type(w->edCallName, QStringLiteral("ua9x"));
        w->edCallName->setCursorPosition(2);
        type(w->mmNotice, QStringLiteral("typed note"));
        type(w->edCorPower, QStringLiteral("5"));
        type(w->cbMyRS, QStringLiteral("599")); // no such report yet
        w->cbMyRS->lineEdit()->setCursorPosition(1);
        type(w->cbName, QStringLiteral("п")); // completes to Павел, the rest selected
        auto typed = [&] {
            const QLineEdit* name = w->cbName->lineEdit();
            return QStringList{w->edCallName->text(),
                               QString::number(w->edCallName->cursorPosition()),
                               name->text(),
                               name->selectedText(),
                               QString::number(name->cursorPosition()),
                               w->mmNotice->toPlainText(),
                               w->noticeIsPreview() ? "preview" : "notice",
                               w->edCorPower->text(),
                               w->cbMyRS->currentText(),
                               QString::number(w->cbMyRS->lineEdit()->cursorPosition()),
                               w->cbBand->currentText(),
                               w->cbMode->currentText(),
                               w->edMyPower->text(),
                               QApplication::focusWidget()->objectName()};
        };
        const QStringList before = typed();
        QCOMPARE(before.mid(2, 2), (QStringList{"Павел", "авел"}));

        const QDateTime utc(QDate(2024, 5, 17), QTime(12, 30, 15), QTimeZone::utc());
        send(rig::encodeWsjtx(
                 loggedQso(QStringLiteral("R1ABC"), utc, 14074000 + 1200, QStringLiteral("FT8"))),
             port);
        rig::WsjtxQso adif;
        adif.type = rig::kWsjtxLoggedAdif;
        adif.id = QStringLiteral("WSJT-X");
        adif.adif = QStringLiteral("\n<adif_ver:5>3.1.0\n<programid:6>WSJT-X\n<EOH>\n<call:5>R1ABC "
                                   "<gridsquare:4>KO85 <mode:3>FT8 <rst_sent:3>-12 "
                                   "<rst_rcvd:3>+05 <qso_date:8>20240517 <time_on:6>123015 "
                                   "<band:3>20m <freq:9>14.075200 <eor>");
        send(rig::encodeWsjtx(adif, 2), port);
        QTRY_COMPARE_WITH_TIMEOUT(link.wsjtx()->qsos(), 2, kLong);
        QCOMPARE(link.logger()->waiting(), 0);

        QCOMPARE(logOnDisk(a), QStringList{"R1ABC|20м|FT8|-12|+05|Ivan|FT8 tnx"});
        QCOMPARE(typed(), before);
        QVERIFY(w->cbMode->findText(QStringLiteral("FT8")) >= 0);
        QVERIFY(w->cbMyRS->findText(QStringLiteral("+05")) >= 0);
        QCOMPARE(w->grMain->model()->rowCount(), 1);
        QCOMPARE(w->sbPanel0->text(), QStringLiteral("Всего записей: 1"));
        QVERIFY(w->miDeleteQSO->isEnabled());
        const QString notice = link.lbNotice->text();
        for (const QString& part : {QStringLiteral("записано"), QStringLiteral("R1ABC"),
                                    QStringLiteral("20м"), QStringLiteral("FT8")})
            QVERIFY2(notice.contains(part), qPrintable(notice));
        QVERIFY(link.lbNotice->toolTip().contains(QStringLiteral("уже были в журнале: 1")));

        // the operator's QSO saves as typed
        QTest::keyClick(w->cbName, Qt::Key_Return);
        QCOMPARE(logOnDisk(a), (QStringList{"UA9X|20м|SSB||599|Павел|typed note",
                                            "R1ABC|20м|FT8|-12|+05|Ivan|FT8 tnx"}));
    }

    // A QSO from WSJT-X leaves the log's current row where it was: the grey
    // preview keeps its row, and a QSO being corrected is the row its save
    // rewrites.
    void wsjtxLeavesCursorAndCorrection() {
        AppData a;
        int first = 0, second = 0;
        withData(a, [&](TDM& dm) {
            const int c1 = addRow(*dm.dsCors, {{fld::CallName, "UA3AAA"}});
            const int c2 = addRow(*dm.dsCors, {{fld::CallName, "RA1B"}});
            first = addRow(*dm.dsMain, {{fld::CorID, c1}, {fld::Notice, "first"}});
            second = addRow(*dm.dsMain, {{fld::CorID, c2}, {fld::Notice, "second"}});
            dm.SetIntSetting(setting::WsjtxEnabled, 1);
            dm.SetTextSetting(setting::WsjtxAddress, QStringLiteral("127.0.0.1"));
            dm.SetIntSetting(setting::WsjtxPort, 0);
        });
        auto w = startMain();
        StationLink link(w.get());
        const quint16 port = link.wsjtx()->port();
        const QDateTime utc(QDate(2024, 5, 17), QTime(13, 0), QTimeZone::utc());

        clickGridRow(w->grMain, gridRowOfId(w->grMain, first));
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("first"));
        send(rig::encodeWsjtx(
                 loggedQso(QStringLiteral("DL1ABC"), utc, 7074000, QStringLiteral("FT8"))),
             port);
        QTRY_COMPARE_WITH_TIMEOUT(w->grMain->model()->rowCount(), 3, kLong);
        QCOMPARE(gridCurrentId(w->grMain), first);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("first"));
        QVERIFY(w->noticeIsPreview());

        dblClickGridRow(w->grMain, gridRowOfId(w->grMain, first));
        QVERIFY(w->FEditMode);
        send(rig::encodeWsjtx(loggedQso(QStringLiteral("SP9XYZ"), utc.addSecs(120), 7074000,
                                        QStringLiteral("FT4"))),
             port);
        QTRY_COMPARE_WITH_TIMEOUT(w->grMain->model()->rowCount(), 4, kLong);
        QVERIFY(w->FEditMode);
        QCOMPARE(w->DM->dsMain->fieldByName(fld::ID).asInteger(), first);
        QCOMPARE(w->mmNotice->toPlainText(), QStringLiteral("first"));
        type(w->edSuffix, QStringLiteral("P"));
        QTest::keyClick(w->edSuffix, Qt::Key_Return);
        QVERIFY(!w->FEditMode);
        onDisk(a, [&](TDM& dm) {
            QVERIFY(dm.dsMain->locate(fld::ID, first));
            QCOMPARE(dm.dsMain->fieldByName(fld::CorSuffix).asString(), QStringLiteral("P"));
            QCOMPARE(dm.dsMain->fieldByName(fld::CorCallName).asString(), QStringLiteral("UA3AAA"));
            QCOMPARE(dm.dsMain->recordCount(), 4);
        });
        QCOMPARE(logOnDisk(a).first(), QStringLiteral("SP9XYZ|40m|FT4|-12|+05|Ivan|FT8 tnx"));
        Q_UNUSED(second);
    }

    // Datagrams that are not a logged QSO are counted and dropped; a QSO
    // waits while a dialog is open; one the log cannot hold is told.
    void wsjtxIgnoresWaitsRefuses() {
        AppData a;
        withData(a, [&](TDM& dm) {
            dm.SetIntSetting(setting::WsjtxEnabled, 1);
            dm.SetTextSetting(setting::WsjtxAddress, QStringLiteral("127.0.0.1"));
            dm.SetIntSetting(setting::WsjtxPort, 0);
        });
        auto w = startMain();
        StationLink link(w.get());
        const quint16 port = link.wsjtx()->port();
        const QDateTime utc(QDate(2024, 5, 17), QTime(14, 0), QTimeZone::utc());
        QByteArray cut = rig::encodeWsjtx(
            loggedQso(QStringLiteral("R1ABC"), utc, 14074000, QStringLiteral("FT8")));
        cut.chop(cut.size() / 2);
        QByteArray foreign = rig::encodeWsjtxHeartbeat(QStringLiteral("X"));
        foreign[0] = 0;
        send(QByteArray("not wsjt-x"), port);
        send(cut, port);
        send(foreign, port);
        send(rig::encodeWsjtxHeartbeat(QStringLiteral("WSJT-X")), port);
        QTRY_COMPARE_WITH_TIMEOUT(link.wsjtx()->malformed() + link.wsjtx()->others(), 4, kLong);
        QCOMPARE(link.wsjtx()->malformed(), 3);
        QVERIFY(link.lbNotice->toolTip().contains(QStringLiteral("пропущено: 3")));

        QDialog dialog(w.get());
        dialog.open();
        QVERIFY(QApplication::activeModalWidget());
        send(rig::encodeWsjtx(
                 loggedQso(QStringLiteral("R1ABC"), utc, 14074000, QStringLiteral("FT8"))),
             port);
        QTRY_COMPARE_WITH_TIMEOUT(link.logger()->waiting(), 1, kLong);
        QVERIFY(logOnDisk(a).isEmpty());
        dialog.reject();
        QTRY_COMPARE_WITH_TIMEOUT(logOnDisk(a).size(), 1, kLong);
        QCOMPARE(link.logger()->waiting(), 0);
        // nor while a row of a list is being edited
        w->DM->dsBands->append();
        const int received = link.wsjtx()->qsos();
        send(rig::encodeWsjtx(
                 loggedQso(QStringLiteral("R1ABD"), utc, 14074000, QStringLiteral("FT8"))),
             port);
        QTRY_COMPARE_WITH_TIMEOUT(link.wsjtx()->qsos(), received + 1, kLong);
        QCOMPARE(link.logger()->waiting(), 1); // handed over as it came, and held
        QCOMPARE(logOnDisk(a).size(), 1);
        w->DM->dsBands->cancel();
        QTRY_COMPARE_WITH_TIMEOUT(logOnDisk(a).size(), 2, kLong);

        send(rig::encodeWsjtx(
                 loggedQso(QStringLiteral("EA8/DL1ABC"), utc, 14074000, QStringLiteral("FT8"))),
             port);
        QTRY_VERIFY_WITH_TIMEOUT(link.lbNotice->text().contains(QStringLiteral("не записано")),
                                 kLong);
        QVERIFY(link.lbNotice->text().contains(QStringLiteral("EA8/DL1ABC")));
        QCOMPARE(logOnDisk(a).size(), 2);
        QCOMPARE(msg::errorCount(), 0);
    }

    // A multicast group, as several programs listening to WSJT-X use.
    void wsjtxMulticast() {
        AppData a;
        const QHostAddress group(QStringLiteral("239.255.47.11"));
        withData(a, [&](TDM& dm) {
            dm.SetIntSetting(setting::WsjtxEnabled, 1);
            dm.SetTextSetting(setting::WsjtxAddress, group.toString());
            dm.SetIntSetting(setting::WsjtxPort, 0);
        });
        auto w = startMain();
        StationLink link(w.get());
        if (!link.wsjtx()->isListening())
            QSKIP(qPrintable("no multicast here: " + link.lbNotice->text()));
        const QByteArray bytes = rig::encodeWsjtx(loggedQso(
            QStringLiteral("R1ABC"), QDateTime(QDate(2024, 5, 17), QTime(15, 0), QTimeZone::utc()),
            14074000, QStringLiteral("FT8")));
        QUdpSocket s;
        QVERIFY(s.bind(QHostAddress::AnyIPv4, 0));
        s.setSocketOption(QAbstractSocket::MulticastLoopbackOption, 1);
        // sent on each interface that carries it, the loopback one as WSJT-X is often told
        int sent = 0;
        for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
            if (!(i.flags() & QNetworkInterface::IsUp)) continue;
            s.setMulticastInterface(i);
            if (s.writeDatagram(bytes, group, link.wsjtx()->port()) == bytes.size()) ++sent;
        }
        if (sent == 0)
            QSKIP(qPrintable("cannot send to a multicast group here: " + s.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(link.wsjtx()->qsos(), sent, kLong);
        QCOMPARE(logOnDisk(a).size(), 1); // the copies of one QSO are one QSO
    }

    // The dialog, opened with Ctrl+Shift+R, stores its settings as rows of
    // the settings table and starts what they ask for; a bad address keeps
    // it open with the reason.
    void settingsDialog() {
        AppData a;
        withData(a, [](TDM&) {});
        auto w = startMain();
        StationLink link(w.get());
        quint16 free = 0;
        {
            QUdpSocket probe;
            QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
            free = probe.localPort();
        }
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<TfRigSettings*>(QApplication::activeModalWidget());
            if (!d) return;
            d->cbRigEnabled->setChecked(true);
            type(d->edRigSearch, QStringLiteral("dummy"));
            seen << d->lvRigModels->currentIndex().data().toString();
            d->cbWsjtxEnabled->setChecked(true);
            retype(d->edWsjtxAddress, QStringLiteral("127.0.0.l"));
            d->buttons->button(QDialogButtonBox::Ok)->click();
            seen << d->lbProblem->text() << QString::number(d->isVisible());
            retype(d->edWsjtxAddress, QStringLiteral("127.0.0.1"));
            d->edWsjtxPort->setValue(free);
            d->buttons->button(QDialogButtonBox::Ok)->click();
        });
        w->edCallName->setFocus();
        QTest::keyClick(w->edCallName, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(seen.size(), 3);
        QVERIFY2(seen[0].startsWith(QStringLiteral("Hamlib Dummy")), qPrintable(seen[0]));
        QVERIFY(seen[1].contains(QStringLiteral("IP-адрес")));
        QCOMPARE(seen[2], QStringLiteral("1"));
        QVERIFY(link.wsjtx()->isListening());
        QCOMPARE(link.wsjtx()->port(), free);
        QTRY_COMPARE_WITH_TIMEOUT(link.radio()->state(), rig::RigState::Connected, kLong);
        onDisk(a, [&](TDM& dm) {
            const rig::RigSettings r = rig::loadRigSettings(dm);
            QVERIFY(r.enabled);
            QCOMPARE(r.model, 1);
            QCOMPARE(r.connection, int(rig::RigSettings::Direct));
            const rig::WsjtxSettings ws = rig::loadWsjtxSettings(dm);
            QCOMPARE(ws, (rig::WsjtxSettings{true, QStringLiteral("127.0.0.1"), int(free)}));
        });
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), w->edCallName, kLong);
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"
