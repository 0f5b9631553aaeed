// ADIF, the amateur data interchange format: records of named fields, read
// from and written to its tagged form (ADI) and its XML form (ADX). Only the
// forms live here; what the fields mean to the log is the importer's.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace qardel::adif {

// One field: its name in upper case and its text.
struct Field {
    QString name;
    QString value;
};

// One record (a QSO) with its fields in the file's order.
struct Record {
    int number = 0; // 1-based among the records of its file
    QList<Field> fields;
    QString value(const QString& name) const; // empty when absent
    bool has(const QString& name) const;
    void set(const QString& name, const QString& value); // replaces or appends
    void add(const QString& name, const QString& value) { fields.append({name, value}); }
};

// A record that was not taken, and why.
struct Refusal {
    int number = 0;
    QString reason;
};

// What reading a file gave. Repairs are counted by kind, for the summary
// (kRepairCharLengths); encodings by name ("UTF-8", "Windows-1251", …), each
// with the number of fields whose text needed it (plain ASCII counts for none).
struct ReadResult {
    QList<Record> records;
    QList<Refusal> refused;
    QMap<QString, int> repairs;
    QMap<QString, int> encodings;
    QString error; // the file as a whole could not be read; nothing was taken
};

// Lengths of UTF-8 values counted in characters: QARDEL counts bytes, what
// a reader of ASCII expects, and reads both.
inline const QString kRepairCharLengths = QStringLiteral("lengths counted in characters");

// The text of a file's fields. Auto: a byte-order mark decides (and for ADX
// the XML declaration); UTF-16 is also known by its zero bytes; otherwise each
// field on its own: valid UTF-8 is UTF-8, other text Windows-1251 or
// Windows-1252 by what its words look like. The others force one.
enum class Encoding { Auto, Utf8, Cp1251, Cp1252 };

// What one file may cost: a larger file or record is refused whole, so that
// a hostile or wrong file (a device, a disk image) never takes all memory.
inline constexpr qsizetype kMaxFileBytes = qsizetype(1) << 30;   // 1 GiB
inline constexpr qsizetype kMaxRecordBytes = qsizetype(1) << 20; // 1 MiB
// How deep elements may nest inside an ADX record (fields have no children).
inline constexpr int kMaxAdxDepth = 8;

ReadResult readAdi(const QByteArray& bytes, Encoding encoding = Encoding::Auto);
ReadResult readAdx(const QByteArray& bytes, Encoding encoding = Encoding::Auto);
// ADX when the content is XML, else ADI.
ReadResult read(const QByteArray& bytes, Encoding encoding = Encoding::Auto);
bool looksLikeAdx(const QByteArray& bytes);

// ADI: UTF-8, each length the count of the value's bytes, so that a reader
// that takes only ASCII still finds every field where it is.
QByteArray writeAdi(const QList<Record>& records, const QString& program, const QString& version);
// The pieces of an ADI file, for writers that make one in a single pass.
void appendAdiHeader(QByteArray& out, const QString& program, const QString& version);
void appendAdiField(QByteArray& out, const char* name, const QByteArray& utf8);
void appendAdiField(QByteArray& out, const char* name, QStringView text);
inline void appendAdiEnd(QByteArray& out) {
    out += "<EOR>\n";
}

// ADX: UTF-8 XML; text beyond ASCII goes to the fields' _INTL forms.
QByteArray writeAdx(const QList<Record>& records, const QString& program, const QString& version);

// The Windows Cyrillic (1251) and Western (1252) code pages decoded.
QString fromCp1251(const QByteArray& bytes);
QString fromCp1252(const QByteArray& bytes);
// Whether ADIF gives the field an international form (NAME_INTL …).
bool hasIntlForm(const QString& name);
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(const char* p, qsizetype n);
inline bool isUtf8(const QByteArray& b) {
    return isUtf8(b.constData(), b.size());
}

} // namespace qardel::adif
