#include "ui/rig/RigDialog.h"

#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QVBoxLayout>

namespace qardel {

namespace {
constexpr int kModelRole = Qt::UserRole + 1;
const int kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
} // namespace

TfRigSettings::TfRigSettings(const rig::RigSettings& radio, const rig::WsjtxSettings& wsjtx,
                             QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("fRigSettings"));
    setWindowTitle(QStringLiteral("Радиостанция и WSJT-X"));
    auto* top = new QVBoxLayout(this);

    auto* gbRig = new QGroupBox(QStringLiteral("Радиостанция (Hamlib)"), this);
    gbRig->setObjectName(QStringLiteral("gbRig"));
    auto* rigLay = new QVBoxLayout(gbRig);
    cbRigEnabled = new QCheckBox(QStringLiteral("Следить за частотой и видом модуляции"), gbRig);
    cbRigEnabled->setObjectName(QStringLiteral("cbRigEnabled"));
    cbRigEnabled->setToolTip(
        QStringLiteral("Диапазон и модуляция на панели следуют за радиостанцией"));
    rigLay->addWidget(cbRigEnabled);

    rbRigDirect = new QRadioButton(QStringLiteral("Напрямую, через последовательный порт"), gbRig);
    rbRigDirect->setObjectName(QStringLiteral("rbRigDirect"));
    rigLay->addWidget(rbRigDirect);
    auto* direct = new QFormLayout;
    direct->setContentsMargins(20, 0, 0, 0);
    edRigSearch = new QLineEdit(gbRig);
    edRigSearch->setObjectName(QStringLiteral("edRigSearch"));
    edRigSearch->setPlaceholderText(QStringLiteral("часть названия или номер модели"));
    edRigSearch->setClearButtonEnabled(true);
    direct->addRow(QStringLiteral("&Поиск модели:"), edRigSearch);
    lvRigModels = new QListView(gbRig);
    lvRigModels->setObjectName(QStringLiteral("lvRigModels"));
    lvRigModels->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvRigModels->setMinimumHeight(150);
    direct->addRow(QStringLiteral("Модель:"), lvRigModels);
    cbRigDevice = new QComboBox(gbRig);
    cbRigDevice->setObjectName(QStringLiteral("cbRigDevice"));
    cbRigDevice->setEditable(true);
    for (const QString& pattern : {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")})
        for (const QString& d : QDir(QStringLiteral("/dev")).entryList({pattern}, QDir::System))
            cbRigDevice->addItem(QStringLiteral("/dev/") + d);
    cbRigDevice->setToolTip(QStringLiteral("Порт, к которому подключена радиостанция"));
    direct->addRow(QStringLiteral("П&орт:"), cbRigDevice);
    cbRigSpeed = new QComboBox(gbRig);
    cbRigSpeed->setObjectName(QStringLiteral("cbRigSpeed"));
    cbRigSpeed->addItem(QStringLiteral("как принято для модели"), 0);
    for (int s : kSpeeds)
        cbRigSpeed->addItem(QString::number(s), s);
    direct->addRow(QStringLiteral("С&корость, бод:"), cbRigSpeed);
    rigLay->addLayout(direct);

    rbRigctld = new QRadioButton(
        QStringLiteral("Через rigctld (радиостанция доступна и другим программам)"), gbRig);
    rbRigctld->setObjectName(QStringLiteral("rbRigctld"));
    rigLay->addWidget(rbRigctld);
    auto* net = new QFormLayout;
    net->setContentsMargins(20, 0, 0, 0);
    edRigAddress = new QLineEdit(gbRig);
    edRigAddress->setObjectName(QStringLiteral("edRigAddress"));
    edRigAddress->setMaxLength(255);
    edRigAddress->setToolTip(QStringLiteral("Адрес и порт rigctld, например localhost:4532"));
    net->addRow(QStringLiteral("&Адрес:"), edRigAddress);
    rigLay->addLayout(net);
    top->addWidget(gbRig);

    auto* gbWsjtx = new QGroupBox(QStringLiteral("WSJT-X"), this);
    gbWsjtx->setObjectName(QStringLiteral("gbWsjtx"));
    auto* wLay = new QFormLayout(gbWsjtx);
    cbWsjtxEnabled = new QCheckBox(QStringLiteral("Записывать в журнал QSO из WSJT-X"), gbWsjtx);
    cbWsjtxEnabled->setObjectName(QStringLiteral("cbWsjtxEnabled"));
    wLay->addRow(cbWsjtxEnabled);
    edWsjtxAddress = new QLineEdit(gbWsjtx);
    edWsjtxAddress->setObjectName(QStringLiteral("edWsjtxAddress"));
    edWsjtxAddress->setMaxLength(255);
    edWsjtxAddress->setToolTip(
        QStringLiteral("Адрес UDP-сервера из настроек WSJT-X: 127.0.0.1, "
                       "или группа multicast (например 224.0.0.1), чтобы слушали несколько "
                       "программ"));
    wLay->addRow(QStringLiteral("А&дрес UDP:"), edWsjtxAddress);
    edWsjtxPort = new QSpinBox(gbWsjtx);
    edWsjtxPort->setObjectName(QStringLiteral("edWsjtxPort"));
    edWsjtxPort->setRange(1, 65535);
    wLay->addRow(QStringLiteral("Пор&т UDP:"), edWsjtxPort);
    auto* hint = new QLabel(
        QStringLiteral("В WSJT-X: Settings → Reporting → UDP Server — тот же адрес и порт."),
        gbWsjtx);
    hint->setObjectName(QStringLiteral("lbWsjtxHint"));
    wLay->addRow(hint);
    top->addWidget(gbWsjtx);

    lbProblem = new QLabel(this);
    lbProblem->setObjectName(QStringLiteral("lbProblem"));
    lbProblem->setStyleSheet(QStringLiteral("color: #b00000"));
    lbProblem->setWordWrap(true);
    top->addWidget(lbProblem);

    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &TfRigSettings::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    top->addWidget(buttons);

    // Hamlib's models, filtered as the operator types
    m_models = new QStandardItemModel(this);
    for (const rig::RigModelInfo& m : rig::hamlibModels()) {
        auto* item = new QStandardItem(QStringLiteral("%1 %2  (%3, %4)")
                                           .arg(m.manufacturer, m.name)
                                           .arg(m.model)
                                           .arg(m.status));
        item->setData(m.model, kModelRole);
        m_models->appendRow(item);
    }
    m_filter = new QSortFilterProxyModel(this);
    m_filter->setSourceModel(m_models);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    lvRigModels->setModel(m_filter);
    connect(edRigSearch, &QLineEdit::textChanged, this, [this](const QString& t) {
        const int keep = selectedModel();
        m_filter->setFilterFixedString(t.trimmed());
        if (keep > 0) {
            for (int r = 0; r < m_filter->rowCount(); ++r)
                if (m_filter->index(r, 0).data(kModelRole).toInt() == keep)
                    lvRigModels->setCurrentIndex(m_filter->index(r, 0));
        }
        if (!lvRigModels->currentIndex().isValid() && m_filter->rowCount() > 0)
            lvRigModels->setCurrentIndex(m_filter->index(0, 0));
    });

    cbRigEnabled->setChecked(radio.enabled);
    (radio.connection == rig::RigSettings::Rigctld ? rbRigctld : rbRigDirect)->setChecked(true);
    selectModel(radio.model);
    cbRigDevice->setCurrentText(radio.device);
    const int speed = cbRigSpeed->findData(radio.speed);
    if (speed >= 0) {
        cbRigSpeed->setCurrentIndex(speed);
    } else {
        cbRigSpeed->addItem(QString::number(radio.speed), radio.speed);
        cbRigSpeed->setCurrentIndex(cbRigSpeed->count() - 1);
    }
    edRigAddress->setText(radio.address);
    cbWsjtxEnabled->setChecked(wsjtx.enabled);
    edWsjtxAddress->setText(wsjtx.address);
    edWsjtxPort->setValue(wsjtx.port);

    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{cbRigEnabled, rbRigDirect,
                                                                      rbRigctld, cbWsjtxEnabled})
        connect(b, &QAbstractButton::toggled, this, &TfRigSettings::updateEnabled);
    updateEnabled();
    resize(520, sizeHint().height());
}

void TfRigSettings::selectModel(int model) {
    auto find = [&] {
        for (int r = 0; r < m_filter->rowCount(); ++r)
            if (m_filter->index(r, 0).data(kModelRole).toInt() == model) {
                lvRigModels->setCurrentIndex(m_filter->index(r, 0));
                lvRigModels->scrollTo(m_filter->index(r, 0), QAbstractItemView::PositionAtCenter);
                return true;
            }
        return false;
    };
    if (!find() && !edRigSearch->text().isEmpty()) {
        edRigSearch->clear();
        find();
    }
}

int TfRigSettings::selectedModel() const {
    const QModelIndex i = lvRigModels->currentIndex();
    return i.isValid() ? i.data(kModelRole).toInt() : 0;
}

void TfRigSettings::updateEnabled() {
    const bool on = cbRigEnabled->isChecked();
    const bool direct = on && rbRigDirect->isChecked();
    rbRigDirect->setEnabled(on);
    rbRigctld->setEnabled(on);
    for (QWidget* w :
         std::initializer_list<QWidget*>{edRigSearch, lvRigModels, cbRigDevice, cbRigSpeed})
        w->setEnabled(direct);
    edRigAddress->setEnabled(on && rbRigctld->isChecked());
    edWsjtxAddress->setEnabled(cbWsjtxEnabled->isChecked());
    edWsjtxPort->setEnabled(cbWsjtxEnabled->isChecked());
}

rig::RigSettings TfRigSettings::radioSettings() const {
    rig::RigSettings s;
    s.enabled = cbRigEnabled->isChecked();
    s.connection = rbRigctld->isChecked() ? rig::RigSettings::Rigctld : rig::RigSettings::Direct;
    const int model = selectedModel();
    if (model > 0) s.model = model;
    s.device = cbRigDevice->currentText().trimmed();
    s.speed = cbRigSpeed->currentData().toInt();
    s.address = edRigAddress->text().trimmed();
    return s;
}

rig::WsjtxSettings TfRigSettings::wsjtxSettings() const {
    rig::WsjtxSettings s;
    s.enabled = cbWsjtxEnabled->isChecked();
    s.address = edWsjtxAddress->text().trimmed();
    s.port = edWsjtxPort->value();
    return s;
}

QString TfRigSettings::problem() const {
    const rig::RigSettings r = radioSettings();
    if (r.enabled && r.connection == rig::RigSettings::Direct && selectedModel() <= 0)
        return QStringLiteral("Выберите модель радиостанции.");
    if (r.enabled && r.connection == rig::RigSettings::Rigctld && r.address.isEmpty())
        return QStringLiteral("Укажите адрес rigctld, например localhost:4532.");
    if (r.device.size() > 255) return QStringLiteral("Слишком длинное имя порта.");
    const rig::WsjtxSettings w = wsjtxSettings();
    if (w.enabled && QHostAddress(w.address).isNull())
        return QStringLiteral("Адрес UDP для WSJT-X — IP-адрес, например 127.0.0.1 или 224.0.0.1.");
    return {};
}

void TfRigSettings::accept() {
    const QString p = problem();
    lbProblem->setText(p);
    if (p.isEmpty()) QDialog::accept();
}

} // namespace qardel
