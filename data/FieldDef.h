// What a table is made of: its fields and indexes, as the schema declares
// them. The engine, its storage and its file form all read these.
#pragma once

#include <QString>

namespace qardel {

enum class FieldType { AutoInc, Integer, Float, DateTime, Boolean, String, Memo, Lookup };

QString fieldTypeName(FieldType t);

class Table;

struct FieldDef {
    QString name;
    FieldType type = FieldType::Integer;
    int size = 0; // characters, for String and Lookup
    bool required = false;
    bool hidden = false;
    bool readOnly = false;
    bool centered = false;
    QString label;
    int displayWidth = 0; // characters; 0 = derived from the type
    QString trueText;     // shown for true/false when set (the "+"/"-" of Repeater)
    QString falseText;
    // Lookup fields: keyField of this table is looked up in lookupKeyField of
    // lookupTable; the value is that row's lookupResultField.
    QString keyField;
    Table* lookupTable = nullptr;
    QString lookupKeyField;
    QString lookupResultField;

    bool isStored() const { return type != FieldType::Lookup; }
    QString displayLabel() const { return label.isEmpty() ? name : label; }
};

struct IndexDef {
    QString name;
    QString field;
    bool primary = false;
    bool unique = false;
    bool descending = false;
};

// Cut a text to at most size characters without splitting a surrogate pair.
QString cutText(const QString& text, int size);

} // namespace qardel
