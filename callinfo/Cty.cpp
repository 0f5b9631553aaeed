#include "callinfo/Cty.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <utility>

namespace qardel::callinfo {

namespace {

std::string_view trimmed(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '\r'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
        v.remove_suffix(1);
    return v;
}

QString qs(std::string_view v) {
    return QString::fromLatin1(v.data(), qsizetype(v.size()));
}

bool toDouble(std::string_view v, double* out) {
    v = trimmed(v);
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    const auto r = std::from_chars(v.data(), v.data() + v.size(), *out);
    return r.ec == std::errc() && r.ptr == v.data() + v.size();
}

bool toInt(std::string_view v, int* out) {
    v = trimmed(v);
    const auto r = std::from_chars(v.data(), v.data() + v.size(), *out);
    return r.ec == std::errc() && r.ptr == v.data() + v.size();
}

std::vector<std::string_view> split(std::string_view v, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (;;) {
        const size_t at = v.find(sep, start);
        if (at == std::string_view::npos) {
            out.push_back(v.substr(start));
            return out;
        }
        out.push_back(v.substr(start, at - start));
        start = at + 1;
    }
}

bool isContinent(std::string_view c) {
    static const std::string_view all[] = {"AF", "AN", "AS", "EU", "NA", "OC", "SA"};
    return std::find(std::begin(all), std::end(all), c) != std::end(all);
}

[[noreturn]] void bad(int lineNo, const QString& what) {
    throw CtyError(QStringLiteral("строка %1: %2").arg(lineNo).arg(what));
}

// The portable forms that say nothing about where the station is.
bool isIgnored(std::string_view s) {
    static const std::string_view words[] = {"P", "M", "QRP", "QRPP", "A", "LH"};
    return std::find(std::begin(words), std::end(words), s) != std::end(words);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

// A complete call sign has a digit with a letter after it ("DL1ABC", not
// "EA8" or "F").
bool looksLikeCall(std::string_view s) {
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (isDigit(s[i]))
            for (size_t j = i + 1; j < s.size(); ++j)
                if (isLetter(s[j])) return true;
    return false;
}

std::string upper(QStringView v) {
    std::string out;
    out.reserve(size_t(v.size()));
    for (QChar c : v) {
        const char16_t u = c.unicode();
        if (u >= 'a' && u <= 'z')
            out.push_back(char(u - 'a' + 'A'));
        else if (u < 128)
            out.push_back(char(u));
        else
            out.push_back('?'); // matches no prefix
    }
    return out;
}

// "UA3AAA" with area 9 -> "UA9AAA"; the last group of digits is the area
// ("R25EMW" with 9 -> "R9EMW"). Empty when the call has no digit.
std::string movedToArea(std::string_view call, char digit) {
    size_t end = call.size();
    while (end > 0 && !isDigit(call[end - 1]))
        --end;
    if (end == 0) return {};
    size_t start = end - 1;
    while (start > 0 && isDigit(call[start - 1]))
        --start;
    std::string out(call.substr(0, start));
    out.push_back(digit);
    out.append(call.substr(end));
    return out;
}

} // namespace

QString continentName(const QString& code) {
    static const QHash<QString, QString> names = {
        {QStringLiteral("AF"), QStringLiteral("Африка")},
        {QStringLiteral("AN"), QStringLiteral("Антарктида")},
        {QStringLiteral("AS"), QStringLiteral("Азия")},
        {QStringLiteral("EU"), QStringLiteral("Европа")},
        {QStringLiteral("NA"), QStringLiteral("Северная Америка")},
        {QStringLiteral("OC"), QStringLiteral("Океания")},
        {QStringLiteral("SA"), QStringLiteral("Южная Америка")}};
    return names.value(code, code);
}

CtyData::Format CtyData::formatOf(const QString& path) {
    return path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? Format::Csv : Format::Dat;
}

QDate CtyData::versionIn(const QByteArray& bytes) {
    qsizetype at = 0;
    while ((at = bytes.indexOf("=VER", at)) >= 0) {
        at += 4;
        if (at + 8 > bytes.size()) break;
        bool digits = true;
        for (qsizetype i = at; i < at + 8; ++i)
            digits = digits && isDigit(bytes[i]);
        if (!digits) continue;
        const QDate d =
            QDate::fromString(QString::fromLatin1(bytes.mid(at, 8)), QStringLiteral("yyyyMMdd"));
        if (d.isValid()) return d;
    }
    return {};
}

CtyData CtyData::readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw CtyError(
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw CtyError(
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
    try {
        return parse(bytes, formatOf(path));
    } catch (const CtyError& e) {
        throw CtyError(QStringLiteral("%1, %2").arg(QDir::toNativeSeparators(path), e.message()));
    }
}

CtyData CtyData::parse(const QByteArray& bytes, Format format) {
    CtyData d;
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    // room for what the file holds, told by its marks, made once
    const size_t calls = size_t(std::count(text.begin(), text.end(), '='));
    d.m_tables.calls.reserve(calls);
    d.m_overrides.reserve(size_t(std::count(text.begin(), text.end(), '(')) +
                          size_t(std::count(text.begin(), text.end(), '[')));
    if (text.find('\0') != std::string_view::npos)
        throw CtyError(QStringLiteral("это не текстовый файл стран"));
    const std::vector<std::string_view> lines = split(text, '\n');

    // the header's values, checked the same way in both forms
    auto entityFrom = [&](int lineNo, std::string_view name, std::string_view cq,
                          std::string_view itu, std::string_view cont, std::string_view lat,
                          std::string_view lon, std::string_view tz, std::string_view prefix) {
        Entity e;
        e.name = qs(trimmed(name));
        prefix = trimmed(prefix);
        if (!prefix.empty() && prefix.front() == '*') {
            e.waeOnly = true;
            prefix.remove_prefix(1);
        }
        e.prefix = qs(prefix);
        e.continent = qs(trimmed(cont));
        double la = 0, lo = 0, t = 0;
        if (e.name.isEmpty() || e.prefix.isEmpty() || !toInt(cq, &e.cq) || !toInt(itu, &e.itu) ||
            !isContinent(trimmed(cont)) || !toDouble(lat, &la) || !toDouble(lon, &lo) ||
            !toDouble(tz, &t))
            bad(lineNo, QStringLiteral("заголовок страны не в формате файла"));
        e.lat = la;
        e.lon = -lo;
        e.utcOffset = -t;
        d.m_entities.push_back(e);
        d.m_byPrefix.insert(e.prefix, int(d.m_entities.size()) - 1);
        return int(d.m_entities.size()) - 1;
    };

    if (format == Format::Csv) {
        int lineNo = 0;
        for (std::string_view line : lines) {
            ++lineNo;
            line = trimmed(line);
            if (line.empty()) continue;
            const std::vector<std::string_view> f = split(line, ',');
            if (f.size() != 10) bad(lineNo, QStringLiteral("ожидалось 10 полей через запятую"));
            const int e = entityFrom(lineNo, f[1], f[4], f[5], f[3], f[6], f[7], f[8], f[0]);
            if (!toInt(f[2], &d.m_entities[size_t(e)].dxcc))
                bad(lineNo, QStringLiteral("номер DXCC не число"));
            std::string_view keys = trimmed(f[9]);
            if (keys.empty() || keys.back() != ';')
                bad(lineNo, QStringLiteral("список префиксов не кончается «;»"));
            keys.remove_suffix(1);
            for (std::string_view k : split(keys, ' '))
                if (!trimmed(k).empty()) d.addToken(trimmed(k), e, lineNo);
        }
    } else {
        int entity = -1; // the entity whose prefix lines follow, until ';'
        int lineNo = 0, lastLine = 0;
        for (std::string_view raw : lines) {
            ++lineNo;
            const std::string_view line = trimmed(raw);
            if (line.empty()) continue;
            lastLine = lineNo;
            const bool indented = raw.front() == ' ' || raw.front() == '\t';
            if (!indented) {
                if (entity >= 0) bad(lineNo, QStringLiteral("прежняя страна не закрыта «;»"));
                std::vector<std::string_view> f = split(line, ':');
                if (f.size() == 9 && trimmed(f[8]).empty()) f.pop_back();
                if (f.size() != 8) bad(lineNo, QStringLiteral("ожидалось 8 полей через двоеточие"));
                entity = entityFrom(lineNo, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]);
                continue;
            }
            if (entity < 0) bad(lineNo, QStringLiteral("префиксы без заголовка страны"));
            std::string_view keys = line;
            const bool last = keys.back() == ';';
            if (last) keys.remove_suffix(1);
            for (std::string_view k : split(keys, ','))
                if (!trimmed(k).empty()) d.addToken(trimmed(k), entity, lineNo);
            if (last) entity = -1;
        }
        if (entity >= 0) bad(lastLine, QStringLiteral("последняя страна не закрыта «;»"));
    }
    if (d.m_entities.empty()) throw CtyError(QStringLiteral("в файле нет ни одной страны"));
    d.m_version = versionIn(bytes);
    return d;
}

// One prefix or "=CALL" with its overrides: (cq) [itu] <lat/lon> {cont} ~tz~.
void CtyData::addToken(std::string_view token, int entity, int lineNo) {
    const bool exception = token.front() == '=';
    if (exception) token.remove_prefix(1);
    const size_t end = token.find_first_of("([<{~");
    const std::string_view key = token.substr(0, end);
    if (key.empty()) bad(lineNo, QStringLiteral("пустой префикс"));
    Hit hit;
    hit.entity = int16_t(entity);
    Overrides ov;
    std::string_view rest = end == std::string_view::npos ? std::string_view() : token.substr(end);
    while (!rest.empty()) {
        const char open = rest.front();
        const char close = open == '('   ? ')'
                           : open == '[' ? ']'
                           : open == '<' ? '>'
                           : open == '{' ? '}'
                                         : '~';
        const size_t at = rest.find(close, 1);
        if (at == std::string_view::npos)
            bad(lineNo, QStringLiteral("не закрыта скобка в «%1»").arg(qs(token)));
        const std::string_view v = rest.substr(1, at - 1);
        bool ok = true;
        switch (open) {
        case '(':
            ok = toInt(v, &ov.cq);
            break;
        case '[':
            ok = toInt(v, &ov.itu);
            break;
        case '<': {
            const std::vector<std::string_view> ll = split(v, '/');
            double la = 0, lo = 0;
            ok = ll.size() == 2 && toDouble(ll[0], &la) && toDouble(ll[1], &lo);
            ov.hasPos = true;
            ov.lat = la;
            ov.lon = -lo;
            break;
        }
        case '{':
            ok = isContinent(v);
            if (ok) std::copy(v.begin(), v.end(), ov.continent);
            break;
        case '~': {
            double t = 0;
            ok = toDouble(v, &t);
            ov.hasTz = true;
            ov.utcOffset = -t;
            break;
        }
        default:
            ok = false;
        }
        if (!ok) bad(lineNo, QStringLiteral("неверное уточнение в «%1»").arg(qs(token)));
        rest.remove_prefix(at + 1);
    }
    if (end != std::string_view::npos) {
        hit.ov = int32_t(m_overrides.size());
        m_overrides.push_back(ov);
    }
    const bool wae = m_entities[size_t(entity)].waeOnly;
    Hit* answers = (exception ? m_tables.calls : m_tables.prefixes).answers(key);
    // among every entity a WAE entity's listing wins over its DXCC entity's
    // copy of the same key, as it says more exactly where the station is
    Hit& all = answers[kAll];
    if (all.entity < 0 || (wae && !m_entities[size_t(all.entity)].waeOnly)) all = hit;
    if (!wae && answers[kDxcc].entity < 0) answers[kDxcc] = hit;
    if (!exception) m_longestPrefix = std::max(m_longestPrefix, key.size());
}

uint32_t CtyData::KeyTable::hashOf(std::string_view key) {
    uint32_t h = kHashStart;
    for (char c : key)
        h = hashStep(h, c);
    return hashFinish(h);
}

size_t CtyData::KeyTable::slotOf(std::string_view key, uint32_t hash) const {
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = m_slots[i];
        if (s.len == 0) return i;
        if (s.hash == hash && s.len == key.size() &&
            std::string_view(m_keys).substr(s.key, s.len) == key)
            return i;
    }
}

bool CtyData::KeyTable::mayHold(uint32_t hash) const {
    const size_t mask = m_bloom.size() * 64 - 1;
    const size_t a = hash & mask, b = (hash * 2654435761u >> 7) & mask;
    return (m_bloom[a / 64] >> (a % 64) & 1) && (m_bloom[b / 64] >> (b % 64) & 1);
}

void CtyData::KeyTable::mark(uint32_t hash) {
    const size_t mask = m_bloom.size() * 64 - 1;
    const size_t a = hash & mask, b = (hash * 2654435761u >> 7) & mask;
    m_bloom[a / 64] |= uint64_t(1) << (a % 64);
    m_bloom[b / 64] |= uint64_t(1) << (b % 64);
}

const CtyData::Hit* CtyData::KeyTable::find(std::string_view key, uint32_t hash,
                                            Among among) const {
    if (m_slots.empty() || !mayHold(hash)) return nullptr;
    const Slot& s = m_slots[slotOf(key, hash)];
    return s.len == 0 || s.hits[among].entity < 0 ? nullptr : &s.hits[among];
}

CtyData::Hit* CtyData::KeyTable::answers(std::string_view key) {
    const uint32_t h = hashOf(key);
    if (!m_slots.empty() && mayHold(h)) {
        Slot& s = m_slots[slotOf(key, h)];
        if (s.len != 0) return s.hits;
    }
    if ((m_used + 1) * 4 > m_slots.size() * 3) grow();
    Slot& s = m_slots[slotOf(key, h)];
    s.hash = h;
    s.key = uint32_t(m_keys.size());
    s.len = uint16_t(key.size());
    m_keys.append(key);
    mark(h);
    ++m_used;
    return s.hits;
}

void CtyData::KeyTable::reserve(size_t keys) {
    size_t n = 1024;
    while (n * 3 < keys * 4)
        n *= 2;
    if (n > m_slots.size()) grow(n);
    m_keys.reserve(keys * 8);
}

void CtyData::KeyTable::grow(size_t size) {
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.resize(size ? size : std::max<size_t>(1024, old.size() * 2));
    m_bloom.assign(m_slots.size() / 8, 0);
    const size_t mask = m_slots.size() - 1;
    for (const Slot& s : old) {
        if (s.len == 0) continue;
        mark(s.hash);
        size_t i = s.hash & mask;
        while (m_slots[i].len != 0)
            i = (i + 1) & mask;
        m_slots[i] = s;
    }
}

int CtyData::entityByPrefix(const QString& prefix) const {
    return m_byPrefix.value(prefix, -1);
}

void CtyData::takeDxccNumbers(const CtyData& other) {
    for (Entity& e : m_entities) {
        if (e.dxcc != 0) continue;
        const int i = other.entityByPrefix(e.prefix);
        if (i >= 0) e.dxcc = other.entity(i).dxcc;
    }
}

const CtyData::Hit* CtyData::findPrefix(Among among, std::string_view text, size_t* len) const {
    // the hashes of every prefix in one pass, then the longest listed one
    const size_t longest = std::min(text.size(), m_longestPrefix);
    uint32_t hashes[32];
    if (longest >= std::size(hashes)) return nullptr;
    uint32_t h = KeyTable::kHashStart;
    for (size_t n = 1; n <= longest; ++n) {
        h = KeyTable::hashStep(h, text[n - 1]);
        hashes[n] = KeyTable::hashFinish(h);
    }
    for (size_t n = longest; n > 0; --n) {
        if (const Hit* hit = m_tables.prefixes.find(text.substr(0, n), hashes[n], among)) {
            *len = n;
            return hit;
        }
    }
    return nullptr;
}

// The order of the rules: the whole text as a full-call exception; a
// location prefix; a call-area digit; the call's own exception; its longest
// prefix.
CtyData::Found CtyData::walk(Among among, const Parts& p) const {
    auto call = [&](std::string_view key) -> Found {
        const Hit* h = m_tables.calls.find(key, among);
        if (!h) return {};
        return {h, "=" + std::string(key), true};
    };
    auto prefix = [&](std::string_view text) -> Found {
        size_t len = 0;
        const Hit* h = findPrefix(among, text, &len);
        if (!h) return {};
        return {h, std::string(text.substr(0, len)), false};
    };
    if (Found f = call(p.full); f.hit) return f;
    if (!p.location.empty())
        if (Found f = prefix(p.location); f.hit) return f;
    if (p.areaDigit) {
        const std::string moved = movedToArea(p.call, p.areaDigit);
        if (!moved.empty())
            if (Found f = prefix(moved); f.hit) return f;
    }
    if (Found f = call(p.call); f.hit) return f;
    return prefix(p.call);
}

void CtyData::fillPlace(CallInfo& info, const Entity& e, const Found& found) const {
    static const Overrides none{};
    const Overrides& ov = found.hit->ov >= 0 ? m_overrides[size_t(found.hit->ov)] : none;
    info.matched = QString::fromLatin1(found.matched.data(), qsizetype(found.matched.size()));
    info.continent = ov.continent[0] ? QString::fromLatin1(ov.continent, 2) : e.continent;
    info.cq = ov.cq ? ov.cq : e.cq;
    info.itu = ov.itu ? ov.itu : e.itu;
    info.lat = ov.hasPos ? ov.lat : e.lat;
    info.lon = ov.hasPos ? ov.lon : e.lon;
    info.utcOffset = ov.hasTz ? ov.utcOffset : e.utcOffset;
}

CallInfo CtyData::resolveParts(const Parts& p, bool details) const {
    CallInfo info;
    if (p.call.empty() || m_entities.empty()) return info;
    // a listed full call decides even for /MM ("=II0PN/MM(40)")
    if (p.maritime || p.aero) {
        if (!m_tables.calls.find(p.full, kAll)) {
            info.kind = p.maritime ? CallInfo::Kind::Maritime : CallInfo::Kind::Aero;
            return info;
        }
    }
    const Found all = walk(kAll, p);
    if (!all.hit) return info;
    const Entity& e = entity(all.hit->entity);
    info.kind = CallInfo::Kind::Entity;
    if (details) fillPlace(info, e, all);
    if (!e.waeOnly) {
        info.entity = all.hit->entity;
        return info;
    }
    // A WAE entity counts for the DXCC entity the same call finds among the
    // DXCC entities alone; failing that, the one with its DXCC number.
    info.waeEntity = all.hit->entity;
    const Found dxcc = walk(kDxcc, p);
    if (dxcc.hit) {
        info.entity = dxcc.hit->entity;
    } else {
        for (int i = 0; i < int(m_entities.size()) && e.dxcc != 0; ++i)
            if (!m_entities[size_t(i)].waeOnly && m_entities[size_t(i)].dxcc == e.dxcc) {
                info.entity = i;
                break;
            }
        if (info.entity < 0) info.entity = all.hit->entity;
    }
    return info;
}

CtyData::Parts CtyData::partsOf(QStringView call, QStringView suffix) {
    Parts p;
    p.call = upper(call);
    const std::string s = upper(suffix);
    p.full = s.empty() ? p.call : p.call + "/" + s;
    if (s == "MM")
        p.maritime = true;
    else if (s == "AM")
        p.aero = true;
    else if (s.size() == 1 && isDigit(s[0]))
        p.areaDigit = s[0];
    else if (!s.empty() && !isIgnored(s))
        p.location = s;
    return p;
}

CallInfo CtyData::resolve(QStringView call, QStringView suffix) const {
    // a suffix with slashes of its own ("P/9") is read as other logs write calls
    if (suffix.contains(u'/'))
        return resolve(QString(call.toString() + QLatin1Char('/') + suffix.toString()));
    return resolveParts(partsOf(call, suffix));
}

int CtyData::entityOf(QStringView call, QStringView suffix) const {
    if (suffix.contains(u'/'))
        return resolve(QString(call.toString() + QLatin1Char('/') + suffix.toString())).entity;
    return resolveParts(partsOf(call, suffix), false).entity;
}

CallInfo CtyData::resolve(QStringView text) const {
    Parts p;
    p.full = upper(text);
    std::vector<std::string_view> candidates;
    for (std::string_view part : split(p.full, '/')) {
        if (part.empty()) continue;
        if (part == "MM")
            p.maritime = true;
        else if (part == "AM")
            p.aero = true;
        else if (part.size() == 1 && isDigit(part[0]))
            p.areaDigit = part[0];
        else if (!isIgnored(part))
            candidates.push_back(part);
    }
    if (candidates.empty()) return {};
    // the call is the part that looks like a whole call sign (the longest
    // of those); a shorter part beside it is where the station is
    size_t best = 0;
    for (size_t i = 1; i < candidates.size(); ++i) {
        const bool bi = looksLikeCall(candidates[i]), bb = looksLikeCall(candidates[best]);
        if ((bi && !bb) || (bi == bb && candidates[i].size() > candidates[best].size())) best = i;
    }
    p.call = std::string(candidates[best]);
    for (size_t i = 0; i < candidates.size(); ++i)
        if (i != best) {
            p.location = std::string(candidates[i]);
            break;
        }
    return resolveParts(p);
}

} // namespace qardel::callinfo
