// How the bytes of a field become text, shared by the ADI and ADX readers:
// the file's byte-order mark or the forced encoding, else each field on its
// own (UTF-8, or Windows-1251 against Windows-1252 by what its words look
// like); and the _INTL fields that win over their plain twins.
#pragma once

#include "adif/Adif.h"

namespace qardel::adif::text {

// A field as read, before its text is decided: raw bytes, or text already
// decoded (a UTF-16 file, an ADX character reference).
struct RawField {
    QString name;
    QByteArray raw;
    QString decoded;
    bool isDecoded = false;
};

struct RawRecord {
    int number = 0;
    QList<RawField> fields;
    QString refusal; // set: the record is refused with this reason
    // a field given twice keeps its last value, in the place of its first
    void put(RawField f);
};

// What decides the text of a whole file before its fields are read.
struct FileText {
    enum Kind {
        PerField, // no mark: each field decides
        Fixed,    // a mark, a declaration or --encoding: one encoding for all
        Utf16     // decoded whole; `text` holds it
    } kind = PerField;
    Encoding fixed = Encoding::Auto; // for Fixed
    QString label;                   // for Fixed and Utf16: the name in the summary
    QByteArray body;                 // the bytes after a byte-order mark
    QString text;                    // for Utf16
};

// Looks at the first bytes: UTF-8 and UTF-16 byte-order marks, UTF-16 known
// by its zero bytes; a forced encoding wins over everything but UTF-16.
FileText detect(const QByteArray& bytes, Encoding forced);

QString encodingName(Encoding e);

// Single-byte text that is not UTF-8: Windows-1251 or Windows-1252 by its
// words (runs of high bytes are Cyrillic words, a lone high byte inside a
// Latin word is an accented letter); Auto when it cannot tell.
Encoding guessSingleByte(const QByteArray& raw);

// Decides the text of every field and fills r: records, refusals (a field
// that stays undecided, or is not what the file says it is), and the count
// of fields per encoding.
void decodeRecords(const QList<RawRecord>& raw, const FileText& how, ReadResult* r);

} // namespace qardel::adif::text
