#include "data/Schema.h"

namespace qardel {

namespace {

FieldDef autoInc(bool hidden, const QString& label = {}) {
    FieldDef f;
    f.name = QStringLiteral("ID");
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
    f.lookupKeyField = QStringLiteral("ID");
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
        std::vector<IndexDef>{index(idIndex, QStringLiteral("ID"), true, true),
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

LogTables createLogTables() {
    LogTables t;
    const auto S = FieldType::String;
    t.names =
        simpleList(QStringLiteral("dsNames"), QStringLiteral("Value"), 25, QStringLiteral("Имя"),
                   QStringLiteral("dsIdxNamesID"), QStringLiteral("dsNamesValue"));
    t.cityes = simpleList(QStringLiteral("dsCityes"), QStringLiteral("Name"), 50,
                          QStringLiteral("Название"), QStringLiteral("dsIdxCityesID"),
                          QStringLiteral("dsIdxCityesName"));
    t.countryes = simpleList(QStringLiteral("dsCountryes"), QStringLiteral("Name"), 50,
                             QStringLiteral("Название"), QStringLiteral("dsIdxCountryesID"),
                             QStringLiteral("dsIdxCountryesName"));
    t.rs =
        simpleList(QStringLiteral("dsRS"), QStringLiteral("Value"), 20, QStringLiteral("Значение"),
                   QStringLiteral("dsIdxRSID"), QStringLiteral("dsIdxRSValue"));
    t.modes = simpleList(QStringLiteral("dsModes"), QStringLiteral("Name"), 25,
                         QStringLiteral("Название"), QStringLiteral("dsIdxModesID"),
                         QStringLiteral("dsIdxModesName"));

    FieldDef iniName = field(QStringLiteral("Name"), S, 50, QStringLiteral("Параметр"), true);
    iniName.displayWidth = 25;
    FieldDef iniValue = field(QStringLiteral("Value"), S, 255, QStringLiteral("Значение"));
    iniValue.displayWidth = 25;
    t.ini = std::make_unique<Table>(
        QStringLiteral("dsINI"), std::vector<FieldDef>{autoInc(true), iniName, iniValue},
        std::vector<IndexDef>{
            index(QStringLiteral("dsIdxINIIName"), QStringLiteral("Name"), true, true),
            index(QStringLiteral("dsIdxINIID"), QStringLiteral("ID"), false, true)},
        QStringLiteral("dsIdxINIIName"));

    t.bands = std::make_unique<Table>(
        QStringLiteral("dsBands"),
        std::vector<FieldDef>{
            autoInc(true),
            field(QStringLiteral("Begin"), FieldType::Float, 0, QStringLiteral("Начало")),
            field(QStringLiteral("End"), FieldType::Float, 0, QStringLiteral("Конец")),
            field(QStringLiteral("Name"), S, 25, QStringLiteral("Название"), true),
            field(QStringLiteral("DefPower"), FieldType::Float, 0, QStringLiteral("Мощность")),
            field(QStringLiteral("DefModeID"), FieldType::Integer, 0, {}, false, true),
            lookup(QStringLiteral("DefMode"), 25, QStringLiteral("Модуляция"),
                   QStringLiteral("DefModeID"), t.modes.get(), QStringLiteral("Name"))},
        std::vector<IndexDef>{
            index(QStringLiteral("dsIdxBandsID"), QStringLiteral("ID"), true, true),
            index(QStringLiteral("dsIdxBandsName"), QStringLiteral("Name"), false, true)},
        QStringLiteral("dsIdxBandsID"));

    t.cors = std::make_unique<Table>(
        QStringLiteral("dsCors"),
        std::vector<FieldDef>{
            autoInc(true),
            field(QStringLiteral("CallName"), S, 10, QStringLiteral("Позывной"), true),
            field(QStringLiteral("NameID"), FieldType::Integer, 0, {}, false, true),
            field(QStringLiteral("CountryID"), FieldType::Integer, 0, {}, false, true),
            field(QStringLiteral("CityID"), FieldType::Integer, 0, {}, false, true),
            lookup(QStringLiteral("City"), 50, QStringLiteral("Город"), QStringLiteral("CityID"),
                   t.cityes.get(), QStringLiteral("Name")),
            lookup(QStringLiteral("Country"), 50, QStringLiteral("Страна"),
                   QStringLiteral("CountryID"), t.countryes.get(), QStringLiteral("Name")),
            lookup(QStringLiteral("Name"), 25, QStringLiteral("Имя"), QStringLiteral("NameID"),
                   t.names.get(), QStringLiteral("Value"))},
        std::vector<IndexDef>{
            index(QStringLiteral("dsIdxCorsID"), QStringLiteral("ID"), true, true),
            index(QStringLiteral("dsIdxCorsCallName"), QStringLiteral("CallName"), false, true)},
        QStringLiteral("dsIdxCorsID"));

    FieldDef repeater =
        field(QStringLiteral("Repeater"), FieldType::Boolean, 0, QStringLiteral("Репитер"));
    repeater.centered = true;
    repeater.trueText = QStringLiteral("+");
    repeater.falseText = QStringLiteral("-");
    t.main = std::make_unique<Table>(
        QStringLiteral("dsMain"),
        std::vector<FieldDef>{
            autoInc(false, QStringLiteral("№")),
            field(QStringLiteral("Time"), FieldType::DateTime, 0, QStringLiteral("Время")),
            field(QStringLiteral("CorID"), FieldType::Integer, 0, {}, true, true),
            field(QStringLiteral("BandID"), FieldType::Integer, 0, {}, false, true),
            field(QStringLiteral("ModeID"), FieldType::Integer, 0, {}, false, true),
            field(QStringLiteral("CorPower"), FieldType::Float, 0, QStringLiteral("Кор.мощн.")),
            field(QStringLiteral("MyPower"), FieldType::Float, 0, QStringLiteral("Моя мощн")),
            field(QStringLiteral("CorRSID"), FieldType::Integer, 0, {}, false, true),
            field(QStringLiteral("MyRSID"), FieldType::Integer, 0, {}, false, true),
            field(QStringLiteral("Notice"), FieldType::Memo, 0, {}),
            field(QStringLiteral("CorSuffix"), S, 5, QStringLiteral("Суффикс")),
            field(QStringLiteral("QSL"), FieldType::Boolean, 0, {}, false, true),
            repeater,
            field(QStringLiteral("CorCountry"), S, 25, QStringLiteral("Страна")),
            field(QStringLiteral("CorCity"), S, 25, QStringLiteral("Город")),
            lookup(QStringLiteral("CorCallName"), 10, QStringLiteral("Позывной"),
                   QStringLiteral("CorID"), t.cors.get(), QStringLiteral("CallName"), true),
            lookup(QStringLiteral("Band"), 25, QStringLiteral("Диапазон"), QStringLiteral("BandID"),
                   t.bands.get(), QStringLiteral("Name")),
            lookup(QStringLiteral("Mode"), 25, QStringLiteral("Модуляция"),
                   QStringLiteral("ModeID"), t.modes.get(), QStringLiteral("Name")),
            lookup(QStringLiteral("CorRS"), 10, QStringLiteral("Кор.RS"), QStringLiteral("CorRSID"),
                   t.rs.get(), QStringLiteral("Value")),
            lookup(QStringLiteral("MyRS"), 10, QStringLiteral("Мой RS"), QStringLiteral("MyRSID"),
                   t.rs.get(), QStringLiteral("Value")),
            lookup(QStringLiteral("CorName"), 25, QStringLiteral("Имя"), QStringLiteral("CorID"),
                   t.cors.get(), QStringLiteral("Name"))},
        std::vector<IndexDef>{
            index(QStringLiteral("dsIdxMainID"), QStringLiteral("ID"), true, true, true)},
        QStringLiteral("dsIdxMainID"));
    return t;
}

} // namespace qardel
