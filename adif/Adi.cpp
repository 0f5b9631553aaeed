// The tagged form: <NAME:LENGTH[:TYPE]>value ... <EOR>, after an optional
// header that ends with <EOH>.
#include "adif/Adif.h"
#include "adif/Text.h"

#include <QStringEncoder>

namespace qardel::adif {

namespace {

bool isNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// A tag at pos ('<' there): its name (upper case), its length (-1 when it
// has none) and where its value begins; false when no tag stands there.
struct Tag {
    QString name;
    qsizetype length = -1;
    qsizetype valueAt = 0;
};

bool parseTag(const QByteArray& d, qsizetype pos, Tag* tag) {
    const qsizetype n = d.size();
    qsizetype i = pos + 1;
    const qsizetype nameAt = i;
    while (i < n && isNameChar(d[i]))
        ++i;
    if (i == nameAt || i >= n) return false;
    tag->name = QString::fromLatin1(d.constData() + nameAt, i - nameAt).toUpper();
    tag->length = -1;
    if (d[i] == ':') {
        ++i;
        qsizetype len = 0;
        const qsizetype digitsAt = i;
        while (i < n && d[i] >= '0' && d[i] <= '9' && i - digitsAt < 10)
            len = len * 10 + (d[i++] - '0');
        if (i == digitsAt) return false;
        tag->length = len;
        if (i < n && d[i] == ':') { // a type indicator
            ++i;
            while (i < n && isNameChar(d[i]))
                ++i;
        }
    }
    if (i >= n || d[i] != '>') return false;
    tag->valueAt = i + 1;
    return true;
}

// How many bytes the first `chars` characters of UTF-8 text at pos take;
// -1 when the text ends first.
qsizetype utf8Bytes(const QByteArray& d, qsizetype pos, qsizetype chars) {
    qsizetype i = pos;
    for (qsizetype c = 0; c < chars; ++c) {
        if (i >= d.size()) return -1;
        const auto b = uchar(d[i]);
        i += b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    }
    return i <= d.size() ? i - pos : -1;
}

// Whether the value may end at `end`: on a character's edge, and followed
// by nothing but blanks before the next tag or the end.
bool endsCleanly(const QByteArray& d, qsizetype end) {
    if (end > d.size()) return false;
    if (end < d.size() && (uchar(d[end]) & 0xC0) == 0x80) return false; // inside a character
    for (qsizetype i = end; i < d.size(); ++i) {
        if (d[i] == '<') return true;
        if (!isSpace(d[i])) return false;
    }
    return true;
}

} // namespace

ReadResult readAdi(const QByteArray& file, Encoding encoding) {
    ReadResult r;
    const text::FileText how = text::detect(file, encoding);
    // a UTF-16 file is read as the same text in UTF-8, its lengths counted
    // in characters as its writer counted them
    const bool utf16 = how.kind == text::FileText::Utf16;
    const QByteArray d = utf16 ? how.text.toUtf8() : how.body;
    const bool singleByte = how.kind == text::FileText::Fixed && how.fixed != Encoding::Utf8;
    const qsizetype n = d.size();
    qsizetype pos = 0;
    // A file that does not begin with a tag has a header up to <EOH>.
    qsizetype first = 0;
    while (first < n && isSpace(d[first]))
        ++first;
    if (first < n && d[first] != '<') {
        Tag t;
        bool found = false;
        for (qsizetype i = d.indexOf('<'); i >= 0; i = d.indexOf('<', i + 1))
            if (parseTag(d, i, &t) && t.name == QLatin1String("EOH")) {
                pos = t.valueAt;
                found = true;
                break;
            }
        if (!found) {
            r.error = QStringLiteral("the header has no end (<EOH>)");
            return r;
        }
    }
    // In UTF-8 a length may count bytes or characters: each value takes the
    // reading after which the next tag follows; a value that neither fits is
    // refused, never cut.
    QList<text::RawRecord> raw;
    text::RawRecord rec;
    qsizetype recordAt = -1; // where the record's first field began
    auto finish = [&]() {
        if (!rec.fields.isEmpty() || !rec.refusal.isEmpty()) raw.append(std::move(rec));
        rec = text::RawRecord{};
        recordAt = -1;
    };
    int number = 0;
    while (pos < n) {
        const qsizetype lt = d.indexOf('<', pos);
        if (lt < 0) break;
        Tag t;
        if (!parseTag(d, lt, &t)) {
            pos = lt + 1;
            continue;
        }
        pos = t.valueAt;
        if (t.name == QLatin1String("EOR")) {
            finish();
            continue;
        }
        if (t.name == QLatin1String("EOH")) {
            // what came before was a header that began with a tag
            rec = text::RawRecord{};
            recordAt = -1;
            number = 0;
            continue;
        }
        if (t.length < 0) continue;
        if (rec.fields.isEmpty() && rec.refusal.isEmpty()) {
            rec.number = ++number;
            recordAt = lt;
        }
        if (!rec.refusal.isEmpty()) continue; // skipping to the record's end
        qsizetype bytes = t.length;
        const qsizetype asChars = singleByte ? -1 : utf8Bytes(d, pos, t.length);
        if (asChars != t.length) {
            const bool bytesFit = endsCleanly(d, pos + t.length);
            const bool charsFit = asChars >= 0 && endsCleanly(d, pos + asChars) &&
                                  isUtf8(d.constData() + pos, asChars);
            // Bytes are the rule (what a reader of ASCII expects);
            // characters, as some programs count, are a repair. Where both
            // fit, they differ only in trailing blanks.
            if (!bytesFit && !charsFit) {
                rec.refusal = QStringLiteral("the length of field %1 fits neither its bytes nor "
                                             "its characters")
                                  .arg(t.name);
                continue;
            }
            if (charsFit && (utf16 || !bytesFit)) {
                bytes = asChars;
                if (!utf16) ++r.repairs[kRepairCharLengths];
            }
        }
        if (pos + bytes > n) {
            rec.refusal = QStringLiteral("field %1 runs past the end of the file").arg(t.name);
            break;
        }
        if (pos + bytes - recordAt > kMaxRecordBytes) {
            rec.refusal =
                QStringLiteral("the record is larger than %1 MiB").arg(kMaxRecordBytes >> 20);
            pos += bytes;
            continue;
        }
        text::RawField f;
        f.name = t.name;
        f.raw = d.mid(pos, bytes);
        if (utf16) {
            f.decoded = QString::fromUtf8(f.raw);
            f.isDecoded = true;
        }
        rec.put(std::move(f));
        pos += bytes;
    }
    if (!rec.fields.isEmpty() || !rec.refusal.isEmpty()) {
        // A last record without <EOR> may have been cut off with the file:
        // taken, it could stand in the log without the fields that followed
        // and block the whole record as a duplicate later.
        if (rec.refusal.isEmpty()) rec.refusal = QStringLiteral("the record has no end (<EOR>)");
        finish();
    }
    text::decodeRecords(raw, how, &r);
    return r;
}

namespace {
void appendTag(QByteArray& out, const char* name, qsizetype length) {
    char digits[24];
    char* p = digits + sizeof digits;
    *--p = '>';
    do {
        *--p = char('0' + length % 10);
        length /= 10;
    } while (length > 0);
    *--p = ':';
    out += '<';
    out += name;
    out.append(p, digits + sizeof digits - p);
}
} // namespace

void appendAdiField(QByteArray& out, const char* name, const QByteArray& utf8) {
    appendTag(out, name, utf8.size());
    out += utf8;
    out += ' ';
}

void appendAdiField(QByteArray& out, const char* name, QStringView text) {
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) { // byte for byte, without a buffer in between
        appendTag(out, name, text.size());
        const qsizetype at = out.size();
        out.resize(at + text.size());
        char* p = out.data() + at;
        for (QChar c : text)
            *p++ = char(c.unicode());
    } else {
        static thread_local QByteArray scratch;
        scratch.resize(text.size() * 3);
        QStringEncoder utf8(QStringEncoder::Utf8);
        const char* end = utf8.appendToBuffer(scratch.data(), text);
        const qsizetype n = end - scratch.constData();
        appendTag(out, name, n);
        out.append(scratch.constData(), n);
    }
    out += ' ';
}

void appendAdiHeader(QByteArray& out, const QString& program, const QString& version) {
    out += "ADIF export from " + program.toUtf8() + "\n";
    appendAdiField(out, "ADIF_VER", "3.1.4");
    appendAdiField(out, "PROGRAMID", program.toUtf8());
    appendAdiField(out, "PROGRAMVERSION", version.toUtf8());
    out += "<EOH>\n\n";
}

QByteArray writeAdi(const QList<Record>& records, const QString& program, const QString& version) {
    QByteArray out;
    appendAdiHeader(out, program, version);
    for (const Record& rec : records) {
        for (const Field& f : rec.fields)
            appendAdiField(out, f.name.toLatin1().constData(), f.value.toUtf8());
        appendAdiEnd(out);
    }
    return out;
}

QString Record::value(const QString& name) const {
    for (const Field& f : fields)
        if (f.name == name) return f.value;
    return {};
}

bool Record::has(const QString& name) const {
    for (const Field& f : fields)
        if (f.name == name) return true;
    return false;
}

void Record::set(const QString& name, const QString& value) {
    for (Field& f : fields)
        if (f.name == name) {
            f.value = value;
            return;
        }
    fields.append({name, value});
}

bool looksLikeAdx(const QByteArray& bytes) {
    const text::FileText how = text::detect(bytes.left(1024), Encoding::Auto);
    const QByteArray head = how.kind == text::FileText::Utf16
                                ? how.text.left(256).toUtf8().trimmed()
                                : how.body.left(512).trimmed();
    return head.startsWith("<?xml") || head.startsWith("<ADX");
}

ReadResult read(const QByteArray& bytes, Encoding encoding) {
    return looksLikeAdx(bytes) ? readAdx(bytes, encoding) : readAdi(bytes, encoding);
}

} // namespace qardel::adif
