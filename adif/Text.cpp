#include "adif/Text.h"

#include <QSet>
#include <QStringDecoder>

namespace qardel::adif {

namespace {

// Windows-1251 and Windows-1252 above 0x7F (Windows-1252 from 0xA0 on is
// Latin-1). Bytes a code page leaves undefined decode as U+FFFD.
const char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};
const char16_t kCp1252Low[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

char16_t cp1251(uchar b) {
    return b < 0x80 ? b : kCp1251High[b - 0x80];
}
char16_t cp1252(uchar b) {
    return b < 0x80 || b >= 0xA0 ? b : kCp1252Low[b - 0x80];
}

template <char16_t (*Map)(uchar)> QString decodeWith(const QByteArray& bytes) {
    QString s(bytes.size(), Qt::Uninitialized);
    QChar* out = s.data();
    for (char c : bytes)
        *out++ = QChar(Map(uchar(c)));
    return s;
}

bool isAscii(const QByteArray& b) {
    for (char c : b)
        if (uchar(c) >= 0x80) return false;
    return true;
}

bool isAscii(const QString& s) {
    for (QChar c : s)
        if (c.unicode() >= 0x80) return false;
    return true;
}

bool isAsciiLetter(uchar b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// A high byte that is a letter in either code page: part of a word.
bool isHighLetter(uchar b) {
    return b >= 0x80 && (QChar(cp1251(b)).isLetter() || QChar(cp1252(b)).isLetter());
}

// The fields ADIF gives an international (_INTL) form.
const QSet<QString> kIntlBases = {QStringLiteral("ADDRESS"),     QStringLiteral("COMMENT"),
                                  QStringLiteral("COUNTRY"),     QStringLiteral("MY_ANTENNA"),
                                  QStringLiteral("MY_CITY"),     QStringLiteral("MY_COUNTRY"),
                                  QStringLiteral("MY_NAME"),     QStringLiteral("MY_POSTAL_CODE"),
                                  QStringLiteral("MY_RIG"),      QStringLiteral("MY_SIG"),
                                  QStringLiteral("MY_SIG_INFO"), QStringLiteral("MY_STREET"),
                                  QStringLiteral("NAME"),        QStringLiteral("NOTES"),
                                  QStringLiteral("QSLMSG"),      QStringLiteral("QTH"),
                                  QStringLiteral("RIG"),         QStringLiteral("SIG"),
                                  QStringLiteral("SIG_INFO")};

} // namespace

QString fromCp1251(const QByteArray& bytes) {
    return decodeWith<cp1251>(bytes);
}

QString fromCp1252(const QByteArray& bytes) {
    return decodeWith<cp1252>(bytes);
}

bool hasIntlForm(const QString& name) {
    return kIntlBases.contains(name);
}

bool isUtf8(const char* p, qsizetype n) {
    const auto* s = reinterpret_cast<const uchar*>(p);
    qsizetype i = 0;
    while (i < n) {
        const uchar b = s[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        uint lowest = 0;
        if (b >= 0xC2 && b <= 0xDF)
            more = 1, lowest = 0x80;
        else if (b >= 0xE0 && b <= 0xEF)
            more = 2, lowest = 0x800;
        else if (b >= 0xF0 && b <= 0xF4)
            more = 3, lowest = 0x10000;
        else
            return false;                // a continuation byte first, C0/C1, or F5 and above
        if (n - i <= more) return false; // cut off by the end
        uint cp = b & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            const uchar c = s[i + k];
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

namespace text {

void RawRecord::put(RawField f) {
    for (RawField& old : fields)
        if (old.name == f.name) {
            old = std::move(f);
            return;
        }
    fields.append(std::move(f));
}

QString encodingName(Encoding e) {
    switch (e) {
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Cp1251:
        return QStringLiteral("Windows-1251");
    case Encoding::Cp1252:
        return QStringLiteral("Windows-1252");
    case Encoding::Auto:
        break;
    }
    return {};
}

FileText detect(const QByteArray& bytes, Encoding forced) {
    FileText f;
    auto utf16 = [&](bool le, qsizetype skip, const char* label) {
        f.kind = FileText::Utf16;
        f.label = QLatin1String(label);
        QStringDecoder d(le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        f.text = d.decode(QByteArrayView(bytes).sliced(skip));
        return f;
    };
    if (bytes.startsWith("\xFF\xFE")) return utf16(true, 2, "UTF-16LE");
    if (bytes.startsWith("\xFE\xFF")) return utf16(false, 2, "UTF-16BE");
    // UTF-16 without a mark: text of this kind is ASCII markup, so every
    // other byte of its beginning is zero
    const qsizetype probe = std::min<qsizetype>(bytes.size() & ~qsizetype(1), 512);
    if (probe >= 4) {
        int zeroEven = 0, zeroOdd = 0;
        for (qsizetype i = 0; i < probe; ++i)
            if (bytes[i] == 0) ++(i % 2 ? zeroOdd : zeroEven);
        const int half = int(probe / 2);
        if (zeroOdd * 10 >= half * 9 && zeroEven == 0) return utf16(true, 0, "UTF-16LE");
        if (zeroEven * 10 >= half * 9 && zeroOdd == 0) return utf16(false, 0, "UTF-16BE");
    }
    f.body = bytes;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        f.body = bytes.mid(3);
        f.kind = FileText::Fixed;
        f.fixed = Encoding::Utf8;
        f.label = encodingName(Encoding::Utf8);
    }
    if (forced != Encoding::Auto) {
        f.kind = FileText::Fixed;
        f.fixed = forced;
        f.label = encodingName(forced);
    }
    return f;
}

Encoding guessSingleByte(const QByteArray& raw) {
    int cyrillic = 0, latin = 0;
    const auto* s = reinterpret_cast<const uchar*>(raw.constData());
    const qsizetype n = raw.size();
    for (qsizetype i = 0; i < n;) {
        // bytes one code page leaves undefined speak for the other
        if (s[i] == 0x98) return Encoding::Cp1252;
        if (s[i] == 0x81 || s[i] == 0x8D || s[i] == 0x8F || s[i] == 0x90 || s[i] == 0x9D)
            return Encoding::Cp1251;
        if (!isAsciiLetter(s[i]) && !isHighLetter(s[i])) {
            ++i;
            continue;
        }
        int ascii = 0, high = 0;
        for (; i < n && (isAsciiLetter(s[i]) || isHighLetter(s[i])); ++i)
            ++(s[i] < 0x80 ? ascii : high);
        if (high == 0) continue;
        if (ascii == 0 && high >= 2)
            ++cyrillic; // a word of high bytes: Cyrillic letters
        else if (ascii > 0 && high <= ascii)
            ++latin; // accented letters inside a Latin word
    }
    if (cyrillic > 0 && cyrillic >= 2 * latin) return Encoding::Cp1251;
    if (latin > 0 && latin >= 2 * cyrillic) return Encoding::Cp1252;
    return Encoding::Auto;
}

void decodeRecords(const QList<RawRecord>& raw, const FileText& how, ReadResult* r) {
    // Without a mark, fields are decided one by one; a field that is neither
    // UTF-8 nor clearly one of the two code pages takes the one the file's
    // other fields show, and is refused when they show none or both.
    struct Decided {
        QString text;
        QString label; // empty: plain ASCII
        bool undecided = false;
    };
    QList<QList<Decided>> decided;
    decided.reserve(raw.size());
    int votes1251 = 0, votes1252 = 0;
    for (const RawRecord& rec : raw) {
        QList<Decided> fields;
        fields.reserve(rec.fields.size());
        for (const RawField& f : rec.fields) {
            Decided d;
            if (f.isDecoded) {
                d.text = f.decoded;
                if (!isAscii(d.text))
                    d.label = how.label.isEmpty() ? encodingName(Encoding::Utf8) : how.label;
            } else if (isAscii(f.raw)) {
                d.text = QString::fromLatin1(f.raw);
            } else if (how.kind == FileText::Fixed) {
                d.label = how.label;
                if (how.fixed == Encoding::Utf8) {
                    if (isUtf8(f.raw))
                        d.text = QString::fromUtf8(f.raw);
                    else
                        d.undecided = true;
                } else {
                    d.text = how.fixed == Encoding::Cp1251 ? fromCp1251(f.raw) : fromCp1252(f.raw);
                }
            } else if (isUtf8(f.raw)) {
                d.text = QString::fromUtf8(f.raw);
                d.label = encodingName(Encoding::Utf8);
            } else if (fromCp1251(f.raw) == fromCp1252(f.raw)) {
                d.text = fromCp1252(f.raw); // the same text either way; labelled below
            } else {
                switch (guessSingleByte(f.raw)) {
                case Encoding::Cp1251:
                    ++votes1251;
                    d.text = fromCp1251(f.raw);
                    d.label = encodingName(Encoding::Cp1251);
                    break;
                case Encoding::Cp1252:
                    ++votes1252;
                    d.text = fromCp1252(f.raw);
                    d.label = encodingName(Encoding::Cp1252);
                    break;
                default:
                    d.undecided = true;
                }
            }
            fields.append(d);
        }
        decided.append(fields);
    }
    const Encoding fileWide = votes1251 > 0 && votes1252 == 0   ? Encoding::Cp1251
                              : votes1252 > 0 && votes1251 == 0 ? Encoding::Cp1252
                                                                : Encoding::Auto;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const RawRecord& rec = raw[i];
        if (!rec.refusal.isEmpty()) {
            r->refused.append({rec.number, rec.refusal});
            continue;
        }
        QString refusal;
        QMap<QString, int> used;
        Record out;
        out.number = rec.number;
        QSet<QString> fromIntl;
        for (qsizetype k = 0; k < rec.fields.size() && refusal.isEmpty(); ++k) {
            Decided& d = decided[i][k];
            const RawField& f = rec.fields[k];
            if (d.undecided && how.kind == FileText::Fixed) {
                refusal = QStringLiteral("field %1 is not valid %2").arg(f.name, how.label);
                break;
            }
            if (d.undecided) {
                if (fileWide == Encoding::Auto) {
                    refusal = QStringLiteral("the text of field %1 is neither UTF-8 nor clearly "
                                             "Windows-1251 or Windows-1252")
                                  .arg(f.name);
                    break;
                }
                d.text = fileWide == Encoding::Cp1251 ? fromCp1251(f.raw) : fromCp1252(f.raw);
                d.label = encodingName(fileWide);
            } else if (d.label.isEmpty() && !isAscii(d.text)) {
                d.label = encodingName(fileWide == Encoding::Cp1251 ? Encoding::Cp1251
                                                                    : Encoding::Cp1252);
            }
            if (!d.label.isEmpty()) ++used[d.label];
            // the international form is the whole text of its field and wins
            // over its plain twin, whichever comes first
            QString name = f.name;
            const bool intl = name.endsWith(QLatin1String("_INTL")) && hasIntlForm(name.chopped(5));
            if (intl) {
                name.chop(5);
                fromIntl.insert(name);
            } else if (fromIntl.contains(name)) {
                continue;
            }
            out.set(name, d.text);
        }
        if (!refusal.isEmpty()) {
            r->refused.append({rec.number, refusal});
            continue;
        }
        for (auto it = used.begin(); it != used.end(); ++it)
            r->encodings[it.key()] += it.value();
        if (!out.fields.isEmpty()) r->records.append(out);
    }
}

} // namespace text

} // namespace qardel::adif
