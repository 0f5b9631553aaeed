#include "data/uDM.h"
#include "data/Fields.h"
#include "data/FileSync.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>
#include <exception>
#include <thread>
#include <tuple>

namespace qardel {

TDM::TDM(QObject* parent) : QObject(parent), m_tables(createLogTables()) {
    dsMain = m_tables.main.get();
    dsCors = m_tables.cors.get();
    dsBands = m_tables.bands.get();
    dsModes = m_tables.modes.get();
    dsRS = m_tables.rs.get();
    dsCountryes = m_tables.countryes.get();
    dsCityes = m_tables.cityes.get();
    dsNames = m_tables.names.get();
    dsINI = m_tables.ini.get();
    sMain = new TableModel(dsMain, this);
    sCors = new TableModel(dsCors, this);
    sBands = new TableModel(dsBands, this);
    sModes = new TableModel(dsModes, this);
    sRS = new TableModel(dsRS, this);
    sCountryes = new TableModel(dsCountryes, this);
    sCityes = new TableModel(dsCityes, this);
    sNames = new TableModel(dsNames, this);
    sINI = new TableModel(dsINI, this);

    for (Table* t : tables()) {
        t->afterPost = [this](Table& tb) { dsMainAfterPost(tb); };
        t->afterDelete = [this](Table& tb) { dsMainAfterDelete(tb); };
    }
    dsMain->afterInsert = [this](Table& tb) { dsMainAfterInsert(tb); };
    dsMain->afterScroll = [this](Table& tb) { dsMainAfterScroll(tb); };
    DataModuleCreate();
}

TDM::~TDM() {
    // Closing writes what is still unwritten; a failure here has no one left
    // to tell but the log of the session.
    for (Table* t : saveOrder()) {
        try {
            t->close();
        } catch (const DbError& e) {
            qWarning("%s", e.what());
        }
    }
    delete sMain;
    delete sCors;
    delete sBands;
    delete sModes;
    delete sRS;
    delete sCountryes;
    delete sCityes;
    delete sNames;
    delete sINI;
}

std::vector<Table*> TDM::tables() const {
    return {dsMain, dsCors, dsBands, dsModes, dsRS, dsCountryes, dsCityes, dsNames, dsINI};
}

std::vector<Table*> TDM::saveOrder() const {
    return {dsNames, dsCityes, dsCountryes, dsRS, dsModes, dsBands, dsCors, dsMain, dsINI};
}

QString TDM::defaultDataDir() {
    QString base = qEnvironmentVariable("APPDATA");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
    return base + QStringLiteral("QARDEL/");
}

void TDM::DataModuleCreate() {
    OnLogScroll = nullptr;
    Clock = [] { return QDateTime::currentDateTime(); };
}

void TDM::OpenTables() {
    if (DataDir.isEmpty() || !QFileInfo(DataDir).isDir()) return;
    for (Table* t : tables())
        t->filePath = DataDir + tableFileName(t->name());
    // The log, by far the longest table, is read on a thread of its own
    // while the others are opened here; what each table holds, and which
    // failure is told, are as if they were opened one after another.
    Table& log = *dsMain;
    removeStaleTemporaries(log);
    const bool logFile = QFileInfo::exists(log.filePath);
    std::exception_ptr logFailure;
    std::thread reader;
    if (logFile) {
        log.beginLoad();
        reader = std::thread([&] {
            try {
                // with the search of every keystroke in the call sign
                log.readFile({fld::CorID});
            } catch (...) {
                logFailure = std::current_exception();
            }
        });
    }
    try {
        for (Table* t : {dsINI, dsNames, dsCityes, dsCountryes, dsRS, dsModes, dsBands, dsCors})
            OpenTable(*t);
        // the other search of every keystroke, while the log is still read
        dsCors->prepareLocate(fld::CallName);
    } catch (...) {
        if (reader.joinable()) reader.join();
        if (logFile) log.failLoad();
        throw;
    }
    if (logFile) {
        reader.join();
        if (logFailure) {
            log.failLoad();
            std::rethrow_exception(logFailure);
        }
        log.endLoad();
    } else {
        log.createEmpty();
    }
    log.setChangeLog(false);
    log.ChangeCount = 0;
    // A crash of an older version could leave a reference to a row that never
    // reached the disk: new rows continue after it, so it keeps finding
    // nothing instead of another station's data.
    const std::tuple<Table*, const QString*, Table*> references[] = {
        {dsMain, &fld::CorID, dsCors},          {dsMain, &fld::BandID, dsBands},
        {dsMain, &fld::ModeID, dsModes},        {dsMain, &fld::CorRSID, dsRS},
        {dsMain, &fld::MyRSID, dsRS},           {dsCors, &fld::NameID, dsNames},
        {dsCors, &fld::CountryID, dsCountryes}, {dsCors, &fld::CityID, dsCityes},
        {dsBands, &fld::DefModeID, dsModes}};
    for (const auto& [from, field, to] : references)
        to->keepIdsAbove(from->maxValue(*field));
}

void TDM::OpenTable(Table& table) {
    removeStaleTemporaries(table);
    if (QFileInfo::exists(table.filePath))
        table.load();
    else
        table.createEmpty();
    table.setChangeLog(false);
    table.ChangeCount = 0;
}

void TDM::removeStaleTemporaries(const Table& table) {
    // a full rewrite cut short by a crash leaves its temporary file behind,
    // named by the writer's process number; nothing else is touched
    const QFileInfo fi(table.filePath);
    const QRegularExpression own(
        QStringLiteral("^\\.%1\\.\\d+\\.tmp$").arg(QRegularExpression::escape(fi.fileName())));
    for (const QFileInfo& tmp :
         fi.dir().entryInfoList({QLatin1Char('.') + fi.fileName() + QStringLiteral(".*.tmp")},
                                QDir::Files | QDir::Hidden | QDir::NoSymLinks))
        if (own.match(tmp.fileName()).hasMatch()) removeFile(tmp.absoluteFilePath());
}

void TDM::SaveTable(Table& table) {
    if (!IsModified(table) && QFileInfo::exists(table.filePath)) return;
    if (table.isActive()) table.write();
    table.ChangeCount = 0;
}

void TDM::SaveAll() {
    for (Table* t : saveOrder())
        SaveTable(*t);
}

void TDM::CloseTables() {
    SaveAll();
    for (Table* t : tables())
        t->close();
}

void TDM::AbandonTables() {
    for (Table* t : tables())
        t->abandon();
}

bool TDM::IsModified(const Table& table) const {
    return table.ChangeCount > 0;
}

namespace {
struct UpdateGuard {
    ComboBoxIntf& box;
    explicit UpdateGuard(ComboBoxIntf& b) : box(b) { box.beginUpdate(); }
    ~UpdateGuard() { box.endUpdate(); }
};
} // namespace

void TDM::FillCombo(ComboBoxIntf& box, Table& table, const QString& fieldName) {
    const int sel = box.selectedIndex();
    const int id = sel >= 0 ? box.itemId(sel) : 0;
    {
        UpdateGuard guard(box);
        box.clearItems();
        Field& f = table.fieldByName(fieldName);
        Field& idf = table.fieldByName(fld::ID);
        table.first();
        while (!table.eof()) {
            box.addItem(f.asString(), idf.asInteger());
            table.next();
        }
    }
    box.setSelectedIndex(ComboIndexOfID(box, id));
}

int TDM::ComboIndexOfID(const ComboBoxIntf& box, int id) {
    if (id <= 0) return -1;
    for (int i = box.itemCount() - 1; i >= 0; --i)
        if (box.itemId(i) == id) return i;
    return -1;
}

int TDM::GetIntSetting(const QString& name, int def) {
    if (!dsINI->locate(fld::Name, name, loCaseInsensitive)) return def;
    Field& v = dsINI->fieldByName(fld::Value);
    if (v.isNull()) return def;
    // decimal digits with an optional sign, nothing around them
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = v.asString();
    if (!integer.match(text).hasMatch()) return def;
    bool ok = false;
    const int i = text.toInt(&ok, 10);
    return ok ? i : def;
}

void TDM::SetIntSetting(const QString& name, int value) {
    if (dsINI->locate(fld::Name, name, loCaseInsensitive)) {
        dsINI->edit();
    } else {
        dsINI->append();
        dsINI->fieldByName(fld::Name).setAsString(name);
    }
    dsINI->fieldByName(fld::Value).setAsString(QString::number(value));
    dsINI->post();
}

QString TDM::GetTextSetting(const QString& name, const QString& def) {
    const int64_t slot = dsINI->find(fld::Name, name, loCaseInsensitive);
    if (slot < 0) return def;
    const QVariant v = dsINI->valueOfSlot(uint32_t(slot), dsINI->fieldIndex(fld::Value));
    return v.isNull() ? def : v.toString();
}

void TDM::SetTextSetting(const QString& name, const QString& value) {
    const int size = dsINI->fieldDefs()[size_t(dsINI->fieldIndex(fld::Value))].size;
    if (value.size() > size)
        throw DbError(QStringLiteral("The value of the setting '%1' is longer than %2 characters")
                          .arg(name)
                          .arg(size));
    if (dsINI->locate(fld::Name, name, loCaseInsensitive)) {
        dsINI->edit();
    } else {
        dsINI->append();
        dsINI->fieldByName(fld::Name).setAsString(name);
    }
    SetTextOrClear(dsINI->fieldByName(fld::Value), value);
    dsINI->post();
}

void TDM::SetFloatFromText(Field& field, const QString& text) {
    double v = 0;
    if (!textToFloat(text, &v)) {
        field.clear();
        return;
    }
    try {
        if (field.def().type == FieldType::Float)
            field.setAsFloat(v);
        else
            field.setAsString(floatToText(v));
    } catch (const DbError&) {
        field.clear();
    }
}

void TDM::SetTextOrClear(Field& field, const QString& text) {
    if (text.isEmpty())
        field.clear();
    else
        field.setAsString(text);
}

QChar TDM::UpCaseChar(QChar ch) {
    const QString up = QLocale().toUpper(QString(ch));
    return up.size() == 1 ? up.at(0) : ch;
}

int TDM::FindOrAddValue(Table& table, const QString& field, const QString& text) {
    if (text.isEmpty()) return 0;
    if (!table.locate(field, text, loCaseInsensitive)) {
        table.append();
        table.fieldByName(field).setAsString(text);
        table.post();
    }
    return table.fieldByName(fld::ID).asInteger();
}

namespace {
void setRef(Field& f, int id) {
    if (id > 0)
        f.setAsInteger(id);
    else
        f.clear();
}
} // namespace

bool TDM::FindOrAddCorrespondent(const QString& call, const CorProps& props) {
    Table& cors = *dsCors;
    if (cors.locate(fld::CallName, call, loCaseInsensitive))
        return cors.fieldByName(fld::NameID).asInteger() != props.nameId ||
               cors.fieldByName(fld::CityID).asInteger() != props.cityId ||
               cors.fieldByName(fld::CountryID).asInteger() != props.countryId;
    cors.append();
    cors.fieldByName(fld::CallName).setAsString(call);
    if (props.nameId > 0) cors.fieldByName(fld::NameID).setAsInteger(props.nameId);
    if (props.cityId > 0) cors.fieldByName(fld::CityID).setAsInteger(props.cityId);
    if (props.countryId > 0) cors.fieldByName(fld::CountryID).setAsInteger(props.countryId);
    cors.post();
    return false;
}

void TDM::SetCorrespondentProps(const CorProps& props) {
    Table& cors = *dsCors;
    cors.edit();
    setRef(cors.fieldByName(fld::NameID), props.nameId);
    setRef(cors.fieldByName(fld::CityID), props.cityId);
    setRef(cors.fieldByName(fld::CountryID), props.countryId);
    cors.post();
}

void TDM::PostLogRow(bool correcting, const LogRowValues& v) {
    Table& log = *dsMain;
    try {
        if (correcting)
            log.edit();
        else
            log.append();
        log.fieldByName(fld::CorID).setAsInteger(v.corId);
        SetTextOrClear(log.fieldByName(fld::CorSuffix), v.suffix);
        if (!v.notice.isEmpty()) log.fieldByName(fld::Notice).setAsString(v.notice);
        log.fieldByName(fld::Repeater).setAsBoolean(v.repeater);
        if (v.exact) {
            for (auto [field, value] : {std::pair{&fld::CorPower, v.corPowerValue},
                                        std::pair{&fld::MyPower, v.myPowerValue}}) {
                if (std::isnan(value))
                    log.fieldByName(*field).clear();
                else
                    log.fieldByName(*field).setAsFloat(value);
            }
            if (v.time.isValid()) log.fieldByName(fld::Time).setAsDateTime(v.time);
        } else {
            SetFloatFromText(log.fieldByName(fld::CorPower), v.corPower);
            SetFloatFromText(log.fieldByName(fld::MyPower), v.myPower);
        }
        if (v.corRsId > 0) log.fieldByName(fld::CorRSID).setAsInteger(v.corRsId);
        if (v.myRsId > 0) log.fieldByName(fld::MyRSID).setAsInteger(v.myRsId);
        SetTextOrClear(log.fieldByName(fld::CorCity), v.city);
        SetTextOrClear(log.fieldByName(fld::CorCountry), v.country);
        if (v.bandId > 0) log.fieldByName(fld::BandID).setAsInteger(v.bandId);
        if (v.modeId > 0) log.fieldByName(fld::ModeID).setAsInteger(v.modeId);
        log.post();
    } catch (...) {
        if (log.isActive()) log.cancel();
        throw;
    }
}

void TDM::dsMainAfterInsert(Table& table) {
    table.fieldByName(fld::Time).setAsDateTime(Clock ? Clock() : QDateTime::currentDateTime());
}

void TDM::dsMainAfterPost(Table& table) {
    ++table.ChangeCount;
}
void TDM::dsMainAfterDelete(Table& table) {
    ++table.ChangeCount;
}

void TDM::dsMainAfterScroll(Table& table) {
    if (OnLogScroll) OnLogScroll(table);
}

} // namespace qardel
