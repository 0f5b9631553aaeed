#include "rig/RigControl.h"

#include <QMutex>
#include <QTimer>

#include <hamlib/rig.h>

#include <algorithm>
#include <clocale>

namespace qardel::rig {

namespace {

// Hamlib's reason in a few words: its message may go on with lines of its
// debugging state.
QString reasonOf(int code) {
    QString why = QString::fromUtf8(rigerror(code)).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (why.isEmpty()) why = QStringLiteral("Hamlib error %1").arg(code);
    return why.size() > 120 ? why.left(119) + QChar(0x2026) : why;
}

// Hamlib's lists of backends and models are shared by all its radios.
QMutex& hamlibLock() {
    static QMutex m;
    return m;
}

// Before Hamlib is first used, on the window's thread. Hamlib sets the C
// library's number format to "C" around its work and back, from the radio's
// thread, and reads the old name after the switch freed it. With the process
// in "C" already that switch changes nothing, so it neither frees nor races
// the window's thread; nothing else here formats numbers through the C
// library (Qt uses QLocale).
void prepareHamlib() {
    static bool done = false;
    if (done) return;
    done = true;
    std::setlocale(LC_NUMERIC, "C");
    rig_set_debug(RIG_DEBUG_NONE);
}

int collectModel(const struct rig_caps* caps, rig_ptr_t data) {
    auto* out = static_cast<QList<RigModelInfo>*>(data);
    out->append({int(caps->rig_model), QString::fromUtf8(caps->mfg_name),
                 QString::fromUtf8(caps->model_name),
                 QString::fromUtf8(rig_strstatus(caps->status))});
    return 1; // go on
}

} // namespace

QList<RigModelInfo> hamlibModels() {
    QList<RigModelInfo> out;
    {
        QMutexLocker lock(&hamlibLock());
        prepareHamlib();
        rig_load_all_backends();
        rig_list_foreach(collectModel, &out);
    }
    std::sort(out.begin(), out.end(), [](const RigModelInfo& a, const RigModelInfo& b) {
        const int c = a.manufacturer.compare(b.manufacturer, Qt::CaseInsensitive);
        if (c != 0) return c < 0;
        const int n = a.name.compare(b.name, Qt::CaseInsensitive);
        return n != 0 ? n < 0 : a.model < b.model;
    });
    return out;
}

int rigctldModel() {
    return RIG_MODEL_NETRIGCTL;
}

// Lives on the reading thread: opens the radio, reads it, closes it.
class RigWorker : public QObject {
    Q_OBJECT
  public:
    RigWorker(const RigSettings& s, int pollMs, int retryMs)
        : m_settings(s), m_pollMs(pollMs), m_retryMs(retryMs) {}
    ~RigWorker() override { closeRig(); }

    void begin() {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        connect(m_timer, &QTimer::timeout, this, &RigWorker::tick);
        emit stateSeen(int(RigState::Connecting), QString());
        tick();
    }

  signals:
    void stateSeen(int state, const QString& detail);
    void readingSeen(double hz, const QString& mode);
    void attempted();

  private:
    void tick() {
        if (!m_rig) {
            emit attempted();
            const QString failed = openRig();
            if (!failed.isEmpty()) {
                lost(failed);
                return;
            }
        }
        freq_t freq = 0;
        int r = rig_get_freq(m_rig, RIG_VFO_CURR, &freq);
        if (r != RIG_OK) {
            lost(reasonOf(r));
            return;
        }
        rmode_t mode = RIG_MODE_NONE;
        pbwidth_t width = 0;
        QString modeName;
        if (rig_get_mode(m_rig, RIG_VFO_CURR, &mode, &width) == RIG_OK && mode != RIG_MODE_NONE)
            modeName = QString::fromLatin1(rig_strrmode(mode));
        if (!m_connected) {
            m_connected = true;
            emit stateSeen(int(RigState::Connected), QString());
        }
        emit readingSeen(double(freq), modeName);
        m_timer->start(m_pollMs);
    }

    // The reason it failed; empty when the radio is open.
    QString openRig() {
        const bool network = m_settings.connection == RigSettings::Rigctld;
        {
            QMutexLocker lock(&hamlibLock());
            m_rig = rig_init(network ? RIG_MODEL_NETRIGCTL : rig_model_t(m_settings.model));
        }
        if (!m_rig)
            return QStringLiteral("Hamlib does not know the model %1").arg(m_settings.model);
        auto conf = [this](const char* name, const QString& value) {
            const token_t t = rig_token_lookup(m_rig, name);
            if (t != RIG_CONF_END) rig_set_conf(m_rig, t, value.toUtf8().constData());
        };
        if (network) {
            conf("rig_pathname", m_settings.address);
        } else {
            if (!m_settings.device.isEmpty()) conf("rig_pathname", m_settings.device);
            if (m_settings.speed > 0) conf("serial_speed", QString::number(m_settings.speed));
        }
        // a radio that does not answer is given up soon, and tried again later
        conf("timeout", QStringLiteral("1000"));
        conf("retry", QStringLiteral("0"));
        const int r = rig_open(m_rig);
        if (r != RIG_OK) {
            closeRig();
            return reasonOf(r);
        }
        m_open = true;
        return {};
    }

    void closeRig() {
        if (!m_rig) return;
        if (m_open) rig_close(m_rig);
        {
            QMutexLocker lock(&hamlibLock());
            rig_cleanup(m_rig);
        }
        m_rig = nullptr;
        m_open = false;
    }

    void lost(const QString& why) {
        closeRig();
        // said once: the attempts that follow fail quietly
        if (m_connected || !m_toldLost) {
            m_connected = false;
            m_toldLost = true;
            emit stateSeen(int(RigState::Lost), why.trimmed());
        }
        m_timer->start(m_retryMs);
    }

    RigSettings m_settings;
    int m_pollMs, m_retryMs;
    QTimer* m_timer = nullptr;
    RIG* m_rig = nullptr;
    bool m_open = false;
    bool m_connected = false;
    bool m_toldLost = false;
};

RigControl::RigControl(QObject* parent) : QObject(parent) {}

RigControl::~RigControl() {
    stop();
}

void RigControl::start(const RigSettings& settings, int pollMs, int retryMs) {
    stop();
    {
        QMutexLocker lock(&hamlibLock());
        prepareHamlib();
    }
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("rig"));
    m_worker = new RigWorker(settings, pollMs, retryMs);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &RigWorker::begin);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &RigWorker::stateSeen, this, &RigControl::onState);
    connect(m_worker, &RigWorker::readingSeen, this, &RigControl::reading);
    connect(m_worker, &RigWorker::attempted, this, &RigControl::attempted);
    m_thread->start();
}

void RigControl::stop() {
    if (m_thread) {
        disconnect(m_worker, nullptr, this, nullptr);
        m_thread->quit();
        // A radio call under way ends within Hamlib's timeout. A thread that
        // still hangs (a network that swallows the connection) is left to
        // end by itself: waiting for it would freeze the window.
        if (m_thread->wait(5000)) {
            delete m_thread;
        } else {
            connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        }
        m_thread = nullptr;
        m_worker = nullptr;
    }
    if (m_state != RigState::Off) onState(int(RigState::Off), QString());
}

void RigControl::onState(int state, const QString& detail) {
    m_state = RigState(state);
    m_detail = detail;
    emit stateChanged(m_state, detail);
}

} // namespace qardel::rig

#include "RigControl.moc"
