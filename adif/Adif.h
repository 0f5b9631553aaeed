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

// What reading a file gave. Repairs are counted by kind, for the summary:
// kRepairCharLengths, kRepairCp1251.
struct ReadResult {
    QList<Record> records;
    QList<Refusal> refused;
    QMap<QString, int> repairs;
    QString error; // the file as a whole could not be read; nothing was taken
};

// Lengths of UTF-8 values counted in characters: QARDEL counts bytes, what
// a reader of ASCII expects, and reads both.
inline const QString kRepairCharLengths = QStringLiteral("lengths counted in characters");
// Text in the Windows Cyrillic code page instead of UTF-8 (one per record).
inline const QString kRepairCp1251 = QStringLiteral("text in Windows-1251");

ReadResult readAdi(const QByteArray& bytes);
ReadResult readAdx(const QByteArray& bytes);
// ADX when the content is XML, else ADI.
ReadResult read(const QByteArray& bytes);
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

// The Windows Cyrillic code page (1251) decoded.
QString fromCp1251(const QByteArray& bytes);

} // namespace qardel::adif
