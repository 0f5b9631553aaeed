// The XML form: <ADX><HEADER>…</HEADER><RECORDS><RECORD><CALL>…</CALL>…
// </RECORD></RECORDS></ADX>, read and written with QtCore's XML streams.
#include "adif/Adif.h"
#include "adif/Text.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace qardel::adif {

namespace {

bool isAscii(const QString& s) {
    for (QChar c : s)
        if (c.unicode() >= 0x80) return false;
    return true;
}

// The encoding an XML declaration names, in lower case; empty when none.
QByteArray declaredEncoding(const QByteArray& body) {
    const QByteArray head = body.left(256);
    if (!head.trimmed().startsWith("<?xml")) return {};
    const qsizetype end = head.indexOf("?>");
    const QByteArray decl = head.left(end < 0 ? head.size() : end);
    const qsizetype at = decl.indexOf("encoding");
    if (at < 0) return {};
    qsizetype i = decl.indexOf('=', at);
    if (i < 0) return {};
    ++i;
    while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t'))
        ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
    const char quote = decl[i];
    const qsizetype close = decl.indexOf(quote, i + 1);
    return close < 0 ? QByteArray() : decl.mid(i + 1, close - i - 1).trimmed().toLower();
}

// Reads the records of an ADX document without recursion, however deep its
// elements nest. transparent: the document was read byte for byte as
// Latin-1, so each field's text is its raw bytes, decided afterwards.
QString readRecords(QXmlStreamReader& x, bool transparent, QList<text::RawRecord>* raw) {
    int number = 0;
    bool inRecords = false;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement() && x.name() == QLatin1String("RECORDS")) inRecords = true;
        if (!inRecords || !x.isStartElement() || x.name() != QLatin1String("RECORD")) continue;
        text::RawRecord rec;
        rec.number = ++number;
        const qint64 recordAt = x.characterOffset();
        int depth = 0; // 1 inside a field
        QString name, value;
        while (!x.atEnd()) {
            const QXmlStreamReader::TokenType token = x.readNext();
            if (token == QXmlStreamReader::StartElement) {
                if (++depth == 1) {
                    name = x.name().toString().toUpper();
                    // APP and USERDEF fields carry their names in attributes
                    const QXmlStreamAttributes a = x.attributes();
                    if (name == QLatin1String("APP"))
                        name = QStringLiteral("APP_%1_%2")
                                   .arg(a.value(QLatin1String("PROGRAMID")).toString().toUpper(),
                                        a.value(QLatin1String("FIELDNAME")).toString().toUpper());
                    else if (name == QLatin1String("USERDEF"))
                        name = a.value(QLatin1String("FIELDNAME")).toString().toUpper();
                    value.clear();
                } else if (depth > kMaxAdxDepth && rec.refusal.isEmpty()) {
                    rec.refusal = QStringLiteral("elements nest deeper than %1 in the record")
                                      .arg(kMaxAdxDepth);
                }
            } else if (token == QXmlStreamReader::Characters && depth >= 1) {
                if (rec.refusal.isEmpty()) value += x.text();
            } else if (token == QXmlStreamReader::EndElement) {
                if (depth == 0) break; // the record's end
                if (depth == 1 && rec.refusal.isEmpty() && !name.isEmpty()) {
                    text::RawField f;
                    f.name = name;
                    bool wide = false;
                    for (QChar c : value)
                        if (c.unicode() > 0xFF) wide = true;
                    // a character reference beyond Latin-1 is text already
                    if (transparent && !wide) {
                        f.raw = value.toLatin1();
                    } else {
                        f.decoded = value;
                        f.isDecoded = true;
                    }
                    rec.put(std::move(f));
                }
                --depth;
            }
            if (rec.refusal.isEmpty() && x.characterOffset() - recordAt > kMaxRecordBytes) {
                rec.refusal =
                    QStringLiteral("the record is larger than %1 MiB").arg(kMaxRecordBytes >> 20);
                rec.fields.clear();
            }
        }
        if (x.hasError()) break;
        if (!rec.fields.isEmpty() || !rec.refusal.isEmpty()) raw->append(std::move(rec));
    }
    if (!x.hasError()) return {};
    return QStringLiteral("the XML is not well-formed at line %1, column %2: %3")
        .arg(x.lineNumber())
        .arg(x.columnNumber())
        .arg(x.errorString());
}

} // namespace

ReadResult readAdx(const QByteArray& bytes, Encoding encoding) {
    ReadResult r;
    text::FileText how = text::detect(bytes, encoding);
    QList<text::RawRecord> raw;
    QString error;
    if (how.kind == text::FileText::Utf16) {
        QXmlStreamReader x(how.text);
        error = readRecords(x, false, &raw);
    } else {
        if (how.kind == text::FileText::PerField) {
            // without a mark the declaration decides; UTF-8 when it names none
            const QByteArray declared = declaredEncoding(how.body);
            if (declared == "windows-1251" || declared == "cp1251") {
                how.kind = text::FileText::Fixed;
                how.fixed = Encoding::Cp1251;
                how.label = text::encodingName(Encoding::Cp1251);
            } else if (declared == "windows-1252" || declared == "cp1252" ||
                       declared == "iso-8859-1" || declared == "latin1" ||
                       declared == "iso8859-1") {
                how.kind = text::FileText::Fixed;
                how.fixed = Encoding::Cp1252;
                how.label = declared.startsWith("iso") || declared == "latin1"
                                ? QStringLiteral("ISO-8859-1")
                                : text::encodingName(Encoding::Cp1252);
            } else if (!declared.isEmpty() && declared != "utf-8" && declared != "utf8" &&
                       declared != "us-ascii" && declared != "ascii") {
                r.error = QStringLiteral("the file's encoding '%1' is not supported")
                              .arg(QString::fromLatin1(declared));
                return r;
            }
        }
        if (how.kind == text::FileText::PerField && isUtf8(how.body)) {
            QXmlStreamReader x(how.body); // as XML reads it: UTF-8
            error = readRecords(x, false, &raw);
        } else {
            // Byte for byte: the markup is ASCII, and each field's text is
            // decided on its own (or by the encoding the file was given).
            QXmlStreamReader x(QString::fromLatin1(how.body));
            error = readRecords(x, true, &raw);
        }
    }
    if (!error.isEmpty()) {
        // what came before the fault is sound, but a file cut short is
        // refused whole rather than taken in part
        r.error = error;
        return r;
    }
    text::decodeRecords(raw, how, &r);
    return r;
}

QByteArray writeAdx(const QList<Record>& records, const QString& program, const QString& version) {
    QByteArray out;
    QXmlStreamWriter x(&out);
    x.setAutoFormatting(true);
    x.writeStartDocument();
    x.writeStartElement(QStringLiteral("ADX"));
    x.writeStartElement(QStringLiteral("HEADER"));
    x.writeTextElement(QStringLiteral("ADIF_VER"), QStringLiteral("3.1.4"));
    x.writeTextElement(QStringLiteral("PROGRAMID"), program);
    x.writeTextElement(QStringLiteral("PROGRAMVERSION"), version);
    x.writeEndElement();
    x.writeStartElement(QStringLiteral("RECORDS"));
    for (const Record& rec : records) {
        x.writeStartElement(QStringLiteral("RECORD"));
        for (const Field& f : rec.fields) {
            const bool intl = hasIntlForm(f.name) && !isAscii(f.value);
            x.writeStartElement(intl ? f.name + QStringLiteral("_INTL") : f.name);
            // XML reads a bare CR as a line feed: written as a reference
            const QStringList parts = f.value.split(QLatin1Char('\r'));
            for (int i = 0; i < parts.size(); ++i) {
                if (i > 0) x.writeEntityReference(QStringLiteral("#13"));
                if (!parts[i].isEmpty()) x.writeCharacters(parts[i]);
            }
            x.writeEndElement();
        }
        x.writeEndElement();
    }
    x.writeEndElement();
    x.writeEndElement();
    x.writeEndDocument();
    return out;
}

} // namespace qardel::adif
