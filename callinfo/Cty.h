// Call sign -> DXCC entity, zones, continent, position and UTC offset, from
// the country files the ham-radio world keeps current (cty.csv or cty.dat).
// The rules are written down in docs/callinfo.md.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qardel::callinfo {

// A country file that cannot be read: the message says which and why.
class CtyError : public std::exception {
  public:
    explicit CtyError(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

  private:
    QString m_message;
    QByteArray m_utf8;
};

// One entity of the file, with the values its header line gives.
struct Entity {
    QString name;      // as the file spells it
    QString prefix;    // the primary prefix, without the WAE mark ("IT9", "3D2/c")
    int dxcc = 0;      // ARRL DXCC number; 0 when the file gives none (cty.dat)
    QString continent; // AF AN AS EU NA OC SA
    int cq = 0;
    int itu = 0;
    double lat = 0;       // degrees, north positive
    double lon = 0;       // degrees, east positive (the file counts west positive)
    double utcOffset = 0; // hours to add to UTC (the file counts the other way)
    bool waeOnly = false; // marked '*': a WAE entity inside a DXCC entity
};

// What the prefix or full call that matched says about the station where it
// differs from its entity's header.
struct Overrides {
    int cq = 0, itu = 0; // 0: the entity's
    bool hasPos = false;
    double lat = 0, lon = 0; // east positive, like Entity
    bool hasTz = false;
    double utcOffset = 0;
    char continent[3] = {}; // empty: the entity's
};

// The answer for one call sign.
struct CallInfo {
    enum class Kind {
        Entity,   // an entity was found
        Maritime, // /MM: at sea, no entity
        Aero,     // /AM: in the air, no entity
        Unknown,  // no prefix of the file matches
    };
    Kind kind = Kind::Unknown;
    int entity = -1;    // the DXCC entity: index into CtyData::entities()
    int waeEntity = -1; // the WAE-only entity the call belongs to, -1 when none
    // Where the station is: its entity's values, or the overrides of the
    // prefix or full call that decided (the WAE entity's when there is one).
    QString continent;
    int cq = 0;
    int itu = 0;
    double lat = 0;
    double lon = 0;
    double utcOffset = 0;
    QString matched; // the prefix, or "=CALL" for a full-call exception

    bool hasEntity() const { return kind == Kind::Entity; }
};

class CtyData {
  public:
    enum class Format { Csv, Dat };

    CtyData() = default;
    // Throws CtyError naming the line that is not in the format.
    static CtyData parse(const QByteArray& bytes, Format format);
    // The format from the name: ".csv" is cty.csv, anything else cty.dat.
    static CtyData readFile(const QString& path);
    static Format formatOf(const QString& path);
    // The release a country file names in its "=VERyyyymmdd" pseudo-call;
    // invalid when it names none.
    static QDate versionIn(const QByteArray& bytes);

    bool isEmpty() const { return m_entities.empty(); }
    const std::vector<Entity>& entities() const { return m_entities; }
    const Entity& entity(int i) const { return m_entities[size_t(i)]; }
    QDate version() const { return m_version; }
    // The entity whose primary prefix this is (without the WAE mark); -1.
    int entityByPrefix(const QString& prefix) const;
    // cty.dat carries no DXCC numbers: takes them from another file (a
    // cty.csv) for the entities with the same primary prefix.
    void takeDxccNumbers(const CtyData& other);

    // QARDEL's call sign and the suffix typed after its slash.
    CallInfo resolve(QStringView call, QStringView suffix) const;
    // The same, the DXCC entity alone (-1: none): what counting a whole log needs.
    int entityOf(QStringView call, QStringView suffix) const;
    // A call sign as other logs write it: "EA8/DL1ABC", "UA3AAA/9/P".
    CallInfo resolve(QStringView text) const;

  private:
    struct Hit {
        int16_t entity = -1; // -1: none
        int32_t ov = -1;     // index into m_overrides; -1: none
    };
    // Which of a key's two answers a lookup wants: among every entity
    // (where the station is), or among the DXCC entities alone (which entity
    // it counts for). They differ only for keys of WAE entities.
    enum Among { kAll = 0, kDxcc = 1 };
    // A table of short ASCII keys, flat in memory: a lookup touches one
    // slot and the key's bytes where a node-based map chases pointers.
    class KeyTable {
      public:
        // the key's answer among these entities; null when it has none
        const Hit* find(std::string_view key, Among among) const {
            return find(key, hashOf(key), among);
        }
        const Hit* find(std::string_view key, uint32_t hash, Among among) const;
        // the key's two answers, added (both empty) when it is not there
        Hit* answers(std::string_view key);
        void reserve(size_t keys);
        // the hash of a key built a character at a time: start, step, finish
        static constexpr uint32_t kHashStart = 2166136261u; // FNV-1a
        static uint32_t hashStep(uint32_t h, char c) { return (h ^ uint8_t(c)) * 16777619u; }
        static uint32_t hashFinish(uint32_t h) { return h ^ (h >> 15); }

      private:
        struct Slot {
            uint32_t hash = 0;
            uint32_t key = 0; // offset into m_keys
            uint16_t len = 0; // 0: an empty slot
            Hit hits[2];      // by Among
        };
        static uint32_t hashOf(std::string_view key);
        size_t slotOf(std::string_view key, uint32_t hash) const;
        void grow(size_t size = 0);
        bool mayHold(uint32_t hash) const;
        void mark(uint32_t hash);
        std::vector<Slot> m_slots; // a power of two, at most 3/4 full
        size_t m_used = 0;
        std::string m_keys;
        // Two bits per key, small enough to stay in the cache: most keys
        // looked for are not there, and most of those are told by it alone.
        std::vector<uint64_t> m_bloom; // 8 bits per slot
    };
    struct Tables {
        KeyTable prefixes, calls;
    };

    // A call sign taken apart: the whole text, the call itself, a location
    // prefix written before or after it, a call-area digit, and /MM or /AM.
    struct Parts {
        std::string full, call, location;
        char areaDigit = 0;
        bool maritime = false, aero = false;
    };
    struct Found {
        const Hit* hit = nullptr;
        std::string matched;
        bool exception = false;
    };

    void addToken(std::string_view token, int entity, int lineNo);
    // The longest prefix of text the map lists; its length in *len.
    const Hit* findPrefix(Among among, std::string_view text, size_t* len) const;
    Found walk(Among among, const Parts& p) const;
    // details: the place and the key that matched too, not only the entities
    CallInfo resolveParts(const Parts& p, bool details = true) const;
    void fillPlace(CallInfo& info, const Entity& e, const Found& found) const;
    static Parts partsOf(QStringView call, QStringView suffix);

    std::vector<Entity> m_entities;
    Tables m_tables;
    std::vector<Overrides> m_overrides;
    size_t m_longestPrefix = 0;
    QHash<QString, int> m_byPrefix;
    QDate m_version;
};

// The continent's Russian name ("EU" -> "Европа"); the code itself when unknown.
QString continentName(const QString& code);

} // namespace qardel::callinfo
