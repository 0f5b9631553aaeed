#include "data/Schema.h"
#include "data/Fields.h"

namespace qardel {

namespace {

FieldDef autoInc(bool hidden, const QString& label = {}) {
    FieldDef f;
    f.name = fld::ID;
    f.type = FieldType::AutoInc;
    f.readOnly = true;
    f.hidden = hidden;
    f.label = label;
    return f;
}

FieldDef field(const QString& name, FieldType type, int size, const QString& label,
               bool required = false, bool hidden = false) {
    FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    f.label = label;
    f.required = required;
    f.hidden = hidden;
    return f;
}

FieldDef lookup(const QString& name, int size, const QString& label, const QString& keyField,
                Table* table, const QString& resultField, bool centered = false) {
    FieldDef f;
    f.name = name;
    f.type = FieldType::Lookup;
    f.size = size;
    f.label = label;
    f.readOnly = true;
    f.centered = centered;
    f.keyField = keyField;
    f.lookupTable = table;
    f.lookupKeyField = fld::ID;
    f.lookupResultField = resultField;
    return f;
}

IndexDef index(const QString& name, const QString& field, bool primary, bool unique,
               bool descending = false) {
    return IndexDef{name, field, primary, unique, descending};
}

// The five simple lists: ID and one unique required text.
std::unique_ptr<Table> simpleList(const QString& table, const QString& textField, int size,
                                  const QString& label, const QString& idIndex,
                                  const QString& textIndex) {
    return std::make_unique<Table>(
        table,
        std::vector<FieldDef>{autoInc(true),
                              field(textField, FieldType::String, size, label, true)},
        std::vector<IndexDef>{index(idIndex, fld::ID, true, true),
                              index(textIndex, textField, false, true)},
        idIndex);
}

} // namespace

int defaultDisplayWidth(const FieldDef& f) {
    if (f.displayWidth > 0) return f.displayWidth;
    switch (f.type) {
    case FieldType::String:
    case FieldType::Lookup:
        return f.size;
    case FieldType::DateTime:
        return 18;
    case FieldType::Boolean:
        return 5;
    case FieldType::Memo:
        return 10;
    default:
        return 10;
    }
}

const std::vector<std::pair<QString, QString>>& tableFiles() {
    static const std::vector<std::pair<QString, QString>> files = {
        {QStringLiteral("dsMain"), QStringLiteral("Main.db")},
        {QStringLiteral("dsCors"), QStringLiteral("Cors.db")},
        {QStringLiteral("dsBands"), QStringLiteral("Bands.db")},
        {QStringLiteral("dsModes"), QStringLiteral("Modes.db")},
        {QStringLiteral("dsRS"), QStringLiteral("RS.db")},
        {QStringLiteral("dsCountryes"), QStringLiteral("Country.db")},
        {QStringLiteral("dsCityes"), QStringLiteral("City.db")},
        {QStringLiteral("dsNames"), QStringLiteral("Names.db")},
        {QStringLiteral("dsINI"), QStringLiteral("Ini.db")}};
    return files;
}

QString tableFileName(const QString& tableName) {
    for (const auto& [table, file] : tableFiles())
        if (table == tableName) return file;
    return {};
}

LogTables createLogTables() {
    LogTables t;
    const auto S = FieldType::String;
    t.names = simpleList(QStringLiteral("dsNames"), fld::Value, 25, QStringLiteral("Имя"),
                         QStringLiteral("dsIdxNamesID"), QStringLiteral("dsNamesValue"));
    t.cityes = simpleList(QStringLiteral("dsCityes"), fld::Name, 50, QStringLiteral("Название"),
                          QStringLiteral("dsIdxCityesID"), QStringLiteral("dsIdxCityesName"));
    t.countryes =
        simpleList(QStringLiteral("dsCountryes"), fld::Name, 50, QStringLiteral("Название"),
                   QStringLiteral("dsIdxCountryesID"), QStringLiteral("dsIdxCountryesName"));
    t.rs = simpleList(QStringLiteral("dsRS"), fld::Value, 20, QStringLiteral("Значение"),
                      QStringLiteral("dsIdxRSID"), QStringLiteral("dsIdxRSValue"));
    t.modes = simpleList(QStringLiteral("dsModes"), fld::Name, 25, QStringLiteral("Название"),
                         QStringLiteral("dsIdxModesID"), QStringLiteral("dsIdxModesName"));

    FieldDef iniName = field(fld::Name, S, 50, QStringLiteral("Параметр"), true);
    iniName.displayWidth = 25;
    FieldDef iniValue = field(fld::Value, S, 255, QStringLiteral("Значение"));
    iniValue.displayWidth = 25;
    t.ini = std::make_unique<Table>(
        QStringLiteral("dsINI"), std::vector<FieldDef>{autoInc(true), iniName, iniValue},
        std::vector<IndexDef>{index(QStringLiteral("dsIdxINIIName"), fld::Name, true, true),
                              index(QStringLiteral("dsIdxINIID"), fld::ID, false, true)},
        QStringLiteral("dsIdxINIIName"));

    t.bands = std::make_unique<Table>(
        QStringLiteral("dsBands"),
        std::vector<FieldDef>{autoInc(true),
                              field(fld::Begin, FieldType::Float, 0, QStringLiteral("Начало")),
                              field(fld::End, FieldType::Float, 0, QStringLiteral("Конец")),
                              field(fld::Name, S, 25, QStringLiteral("Название"), true),
                              field(fld::DefPower, FieldType::Float, 0, QStringLiteral("Мощность")),
                              field(fld::DefModeID, FieldType::Integer, 0, {}, false, true),
                              lookup(fld::DefMode, 25, QStringLiteral("Модуляция"), fld::DefModeID,
                                     t.modes.get(), fld::Name)},
        std::vector<IndexDef>{index(QStringLiteral("dsIdxBandsID"), fld::ID, true, true),
                              index(QStringLiteral("dsIdxBandsName"), fld::Name, false, true)},
        QStringLiteral("dsIdxBandsID"));

    t.cors = std::make_unique<Table>(
        QStringLiteral("dsCors"),
        std::vector<FieldDef>{
            autoInc(true), field(fld::CallName, S, 10, QStringLiteral("Позывной"), true),
            field(fld::NameID, FieldType::Integer, 0, {}, false, true),
            field(fld::CountryID, FieldType::Integer, 0, {}, false, true),
            field(fld::CityID, FieldType::Integer, 0, {}, false, true),
            lookup(fld::City, 50, QStringLiteral("Город"), fld::CityID, t.cityes.get(), fld::Name),
            lookup(fld::Country, 50, QStringLiteral("Страна"), fld::CountryID, t.countryes.get(),
                   fld::Name),
            lookup(fld::Name, 25, QStringLiteral("Имя"), fld::NameID, t.names.get(), fld::Value)},
        std::vector<IndexDef>{
            index(QStringLiteral("dsIdxCorsID"), fld::ID, true, true),
            index(QStringLiteral("dsIdxCorsCallName"), fld::CallName, false, true)},
        QStringLiteral("dsIdxCorsID"));

    FieldDef repeater = field(fld::Repeater, FieldType::Boolean, 0, QStringLiteral("Репитер"));
    repeater.centered = true;
    repeater.trueText = QStringLiteral("+");
    repeater.falseText = QStringLiteral("-");
    t.main = std::make_unique<Table>(
        QStringLiteral("dsMain"),
        std::vector<FieldDef>{
            autoInc(false, QStringLiteral("№")),
            field(fld::Time, FieldType::DateTime, 0, QStringLiteral("Время")),
            field(fld::CorID, FieldType::Integer, 0, {}, true, true),
            field(fld::BandID, FieldType::Integer, 0, {}, false, true),
            field(fld::ModeID, FieldType::Integer, 0, {}, false, true),
            field(fld::CorPower, FieldType::Float, 0, QStringLiteral("Кор.мощн.")),
            field(fld::MyPower, FieldType::Float, 0, QStringLiteral("Моя мощн")),
            field(fld::CorRSID, FieldType::Integer, 0, {}, false, true),
            field(fld::MyRSID, FieldType::Integer, 0, {}, false, true),
            field(fld::Notice, FieldType::Memo, 0, {}),
            field(fld::CorSuffix, S, 5, QStringLiteral("Суффикс")),
            field(fld::QSL, FieldType::Boolean, 0, {}, false, true),
            repeater,
            field(fld::CorCountry, S, 25, QStringLiteral("Страна")),
            field(fld::CorCity, S, 25, QStringLiteral("Город")),
            lookup(fld::CorCallName, 10, QStringLiteral("Позывной"), fld::CorID, t.cors.get(),
                   fld::CallName, true),
            lookup(fld::Band, 25, QStringLiteral("Диапазон"), fld::BandID, t.bands.get(),
                   fld::Name),
            lookup(fld::Mode, 25, QStringLiteral("Модуляция"), fld::ModeID, t.modes.get(),
                   fld::Name),
            lookup(fld::CorRS, 10, QStringLiteral("Кор.RS"), fld::CorRSID, t.rs.get(), fld::Value),
            lookup(fld::MyRS, 10, QStringLiteral("Мой RS"), fld::MyRSID, t.rs.get(), fld::Value),
            lookup(fld::CorName, 25, QStringLiteral("Имя"), fld::CorID, t.cors.get(), fld::Name)},
        std::vector<IndexDef>{index(QStringLiteral("dsIdxMainID"), fld::ID, true, true, true)},
        QStringLiteral("dsIdxMainID"));
    return t;
}

} // namespace qardel
