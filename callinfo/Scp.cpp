#include "callinfo/Scp.h"

#include <QRegularExpression>

#include <cstring>
#include <string_view>

namespace qardel::callinfo {

ScpList ScpList::parse(const QByteArray& bytes) {
    ScpList s;
    s.m_calls.reserve(bytes.size() + 1);
    s.m_calls.append('\n');
    const char* const end = bytes.constData() + bytes.size();
    for (const char* at = bytes.constData(); at < end;) {
        const char* nl = static_cast<const char*>(std::memchr(at, '\n', size_t(end - at)));
        const QByteArrayView line(at, (nl ? nl : end) - at);
        at = nl ? nl + 1 : end;
        if (line.startsWith('#')) continue;
        qsizetype n = 0;
        while (n < line.size()) {
            const char c = line[n];
            const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '/';
            if (!ok) break;
            ++n;
        }
        if (n == 0) continue;
        for (qsizetype i = 0; i < n; ++i) {
            const char c = line[i];
            s.m_calls.append(c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c);
        }
        s.m_calls.append('\n');
        ++s.m_count;
    }
    s.m_calls.squeeze();
    return s;
}

QDate ScpList::versionIn(const QByteArray& bytes) {
    static const QRegularExpression release(
        QStringLiteral("^#\\s*Release\\s+(\\d{4})\\.(\\d{2})\\.(\\d{2})"),
        QRegularExpression::MultilineOption);
    // the comment is at the top: no need to look through the whole list
    const QRegularExpressionMatch m = release.match(QString::fromLatin1(bytes.left(4096)));
    if (!m.hasMatch()) return {};
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

QStringList ScpList::find(QStringView text, int max) const {
    QStringList starting, containing;
    if (text.isEmpty() || max <= 0 || m_count == 0) return starting;
    std::string needle;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 'a' && u <= 'z')
            needle.push_back(char(u - 'a' + 'A'));
        else if ((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '/')
            needle.push_back(char(u));
        else
            return starting; // no call holds it
    }
    const char* const begin = m_calls.constData();
    const char* const end = begin + m_calls.size();
    // each call stands between two line breaks: "\n" + text finds the calls
    // that begin with it, text alone those that hold it anywhere
    auto scan = [&](const std::string& what, bool atStart, QStringList* out) {
        const char* p = begin;
        while (int(starting.size() + containing.size()) < max) {
            const void* hit = memmem(p, size_t(end - p), what.data(), what.size());
            if (!hit) return;
            const char* h = static_cast<const char*>(hit) + (atStart ? 1 : 0);
            const char* lineStart = h;
            while (lineStart[-1] != '\n')
                --lineStart;
            const char* lineEnd = static_cast<const char*>(std::memchr(h, '\n', size_t(end - h)));
            p = lineEnd;                              // one hit per call
            if (!atStart && lineStart == h) continue; // found by the first scan
            out->append(QString::fromLatin1(lineStart, lineEnd - lineStart));
        }
    };
    scan("\n" + needle, true, &starting);
    scan(needle, false, &containing);
    return starting + containing;
}

} // namespace qardel::callinfo
