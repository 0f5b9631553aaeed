// The XML form: <ADX><HEADER>…</HEADER><RECORDS><RECORD><CALL>…</CALL>…
// </RECORD></RECORDS></ADX>, read and written with QtCore's XML streams.
#include "adif/Adif.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace qardel::adif {

namespace {

// Fields whose ADX form holds ASCII only; other text goes to NAME_INTL …
const QStringList kIntl = {QStringLiteral("ADDRESS"), QStringLiteral("COMMENT"),
                           QStringLiteral("COUNTRY"), QStringLiteral("NAME"),
                           QStringLiteral("NOTES"),   QStringLiteral("QTH"),
                           QStringLiteral("RIG"),     QStringLiteral("MY_CITY"),
                           QStringLiteral("MY_NAME"), QStringLiteral("MY_COUNTRY")};

bool isAscii(const QString& s) {
    for (QChar c : s)
        if (c.unicode() >= 0x80) return false;
    return true;
}

} // namespace

ReadResult readAdx(const QByteArray& bytes) {
    ReadResult r;
    QXmlStreamReader x(bytes);
    int number = 0;
    bool inRecords = false;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement() && x.name() == QLatin1String("RECORDS")) inRecords = true;
        if (!inRecords || !x.isStartElement() || x.name() != QLatin1String("RECORD")) continue;
        Record rec;
        rec.number = ++number;
        while (x.readNextStartElement()) {
            QString name = x.name().toString().toUpper();
            // APP and USERDEF fields carry their names in attributes
            if (name == QLatin1String("APP"))
                name =
                    QStringLiteral("APP_%1_%2")
                        .arg(x.attributes().value(QLatin1String("PROGRAMID")).toString().toUpper(),
                             x.attributes().value(QLatin1String("FIELDNAME")).toString().toUpper());
            else if (name == QLatin1String("USERDEF"))
                name = x.attributes().value(QLatin1String("FIELDNAME")).toString().toUpper();
            const QString value = x.readElementText(QXmlStreamReader::IncludeChildElements);
            // the international form is the whole text of its field
            if (name.endsWith(QLatin1String("_INTL")) && kIntl.contains(name.chopped(5)))
                name.chop(5);
            if (!name.isEmpty()) rec.set(name, value);
        }
        if (x.hasError()) break;
        if (!rec.fields.isEmpty()) r.records.append(rec);
    }
    if (x.hasError()) {
        // what came before the fault is sound, but a file cut short is
        // refused whole rather than taken in part
        r.records.clear();
        r.error = QStringLiteral("the XML is not well-formed at line %1, column %2: %3")
                      .arg(x.lineNumber())
                      .arg(x.columnNumber())
                      .arg(x.errorString());
    }
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
            const bool intl = kIntl.contains(f.name) && !isAscii(f.value);
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
