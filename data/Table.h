// The in-memory table engine: rows held column by column, a cursor, one active
// order, locate on one field, and append/edit/post/cancel/delete with the checks
// the logbook relies on.
#pragma once

#include "data/FieldDef.h"
#include "data/RowStore.h"
#include "data/SearchIndex.h"
#include "data/SlotSequence.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace qardel {

// Every error of the database layer: the message is what the operator sees.
class DbError : public std::exception {
  public:
    explicit DbError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

  private:
    QString m_message;
    QByteArray m_utf8;
};

enum LocateOption { loCaseInsensitive = 1, loPartialKey = 2 };
using LocateOptions = int;

enum class TableState { Inactive, Browse, Insert, Edit };

// Receives row-level changes, so a grid never has to reset on a save.
// Positions are logical rows in the active order.
class TableListener {
  public:
    virtual ~TableListener() = default;
    virtual void rowsAboutToBeReset() {}
    virtual void rowsReset() {}
    virtual void rowAboutToBeInserted(int /*pos*/) {}
    virtual void rowInserted(int /*pos*/) {}
    virtual void rowAboutToBeRemoved(int /*pos*/) {}
    virtual void rowRemoved(int /*pos*/) {}
    // a posted edit: the row at pos still holds its old values
    virtual void rowAboutToBeChanged(int /*pos*/) {}
    virtual void rowChanged(int /*pos*/) {}
    virtual void rowMoved(int /*from*/, int /*to*/) {}
    virtual void cursorMoved(int /*pos*/) {}
};

class Field {
  public:
    Field(Table* table, int index) : m_table(table), m_index(index) {}
    const FieldDef& def() const;
    const QString& name() const { return def().name; }
    int index() const { return m_index; }
    Table* table() const { return m_table; }

    bool isNull() const;
    QVariant value() const; // null QVariant when null
    QString asString() const;
    int asInteger() const;
    double asFloat() const;
    bool asBoolean() const;
    QDateTime asDateTime() const;
    QString displayText() const; // the grid's text

    void setAsString(const QString& v);
    void setAsInteger(int v);
    void setAsFloat(double v);
    void setAsBoolean(bool v);
    void setAsDateTime(const QDateTime& v);
    void setValue(const QVariant& v);
    void clear();

  private:
    Table* m_table;
    int m_index;
};

class TableFile;

class Table {
  public:
    Table(QString name, std::vector<FieldDef> fields, std::vector<IndexDef> indexes,
          QString activeIndex);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // --- schema
    const QString& name() const { return m_name; }
    const std::vector<FieldDef>& fieldDefs() const { return m_fields; }
    const std::vector<IndexDef>& indexDefs() const { return m_indexes; }
    const QString& activeIndexName() const { return m_activeIndexName; }
    int fieldIndex(const QString& name) const; // -1 when missing
    Field& fieldByName(const QString& name);
    Field& field(int index) { return *m_fieldObjects[index]; }
    int fieldCount() const { return int(m_fields.size()); }

    // --- row IDs: never handed out twice, so a reference to a deleted row, or
    // to one that never reached the disk, keeps finding nothing
    int lastId() const { return m_lastId; }          // the highest ID assigned or held so far
    void keepIdsAbove(int id);                       // new IDs continue after id
    int maxValue(const QString& integerField) const; // largest non-null value; 0 when none

    // --- file and life cycle
    QString filePath;
    void createEmpty();
    void load(); // from filePath; throws DbError, changes nothing on failure
    // load() in its steps, for a table read on another thread: the first,
    // third and fourth on the table's own thread, readFile() anywhere while
    // nothing else touches the table (it also makes the searches of
    // prepareLocate for these fields); failLoad() after readFile() threw.
    void beginLoad();
    void readFile(const QStringList& searchFields = {});
    void failLoad();
    void endLoad();
    void write();   // to filePath, durably; incremental where it can be
    void close();   // writes first when it has unwritten changes or no file
    void abandon(); // closes without writing anything
    bool isActive() const { return m_state != TableState::Inactive; }
    TableState state() const { return m_state; }
    void setChangeLog(bool on) { m_changeLog = on; }
    bool changeLog() const { return m_changeLog; }
    int ChangeCount = 0; // posts and deletes since opened or written

    // --- cursor
    void first();
    void next();
    bool eof() const;
    bool bof() const;
    bool isEmpty() const;
    int recordCount() const;
    int recNo() const;    // 0-based logical row, -1 when empty
    void moveTo(int pos); // a move by the grid
    bool locate(const QString& fieldName, const QVariant& value, LocateOptions options = 0);
    // Builds now what locate on this field needs, instead of at its first use.
    void prepareLocate(const QString& fieldName);
    // The slot locate would move to, without moving the cursor; -1 when none.
    int64_t find(const QString& fieldName, const QVariant& value, LocateOptions options = 0);
    // The slots of the rows whose stored integer field holds key, in the
    // table's order; the cursor stays where it is.
    std::vector<uint32_t> slotsWhere(const QString& integerField, int key);

    // --- editing
    void append();
    void edit();
    void post();
    void cancel();
    void deleteRecord();

    // --- reading any row (for the grid and lookups)
    QVariant valueAt(int pos, int fieldIndex) const;
    QVariant valueOfSlot(uint32_t slot, int fieldIndex) const;
    QVariant currentValue(int fieldIndex) const;
    void setCurrentValue(int fieldIndex, const QVariant& v);
    // The slot of the row whose field equals key exactly (lookups); -1 when none.
    int64_t findSlot(int fieldIndex, const QVariant& key) const;
    // The value of resultField in the row whose keyField equals key, cut to size.
    QVariant lookupValue(const QString& keyField, const QVariant& key, const QString& resultField,
                         int size) const;
    // The same with the fields by index (-1: none).
    QVariant lookupValueAt(int keyFieldIndex, const QVariant& key, int resultFieldIndex,
                           int size) const;
    QString formatValue(int fieldIndex, const QVariant& v) const;
    // formatValue of a row's value; a date-time is shown as stored, without
    // the local-time work of a QDateTime (the grid shows many per page).
    QString textAt(int pos, int fieldIndex) const;
    QString textOfSlot(uint32_t slot, int fieldIndex) const;

    // --- notifications
    std::function<void(Table&)> afterInsert;
    std::function<void(Table&)> afterPost;
    std::function<void(Table&)> afterDelete;
    std::function<void(Table&)> afterScroll;
    void addListener(TableListener* l);
    void removeListener(TableListener* l);

    // memory held by the rows, roughly, for the benchmarks
    size_t approxBytes() const;

    // --- for the file form: the rows themselves, and what changed since the
    // last write. Loading fills rows() between a reset and loaded().
    RowStore& rows() { return *m_rows; }
    const RowStore& rows() const { return *m_rows; }
    std::vector<uint32_t> slotsInIdOrder() const;
    // The live slots ascending by the active key (the log: oldest first), and
    // the slot of a logical row, for readers that walk or follow the rows
    // without moving the cursor.
    const SlotSequence& slotsInActiveOrder() const { return m_order; }
    uint32_t slotAtPosition(int pos) const { return slotAt(pos); }
    const std::vector<uint32_t>& changedIds() const { return m_dirtyIds; } // may repeat
    const std::vector<int>& deletedIds() const { return m_deletedIds; }

  private:
    friend class Field;

    void checkActive() const;
    void discardPending();
    void requireBrowse();
    void scrolled();
    void notifyCursor();
    QVariant storedValue(uint32_t slot, int fi) const;
    void setStored(uint32_t slot, int fi, const QVariant& v);
    QVariant coerce(int fi, const QVariant& v) const;
    bool activeLess(uint32_t a, uint32_t b) const;
    int positionOfSlot(uint32_t slot) const;
    uint32_t slotAt(int pos) const;
    size_t orderInsertPoint(uint32_t slot) const;
    void rebuildOrder();
    int64_t findFirst(const QString& fieldName, const QVariant& value, LocateOptions options);
    void resetData();
    SearchIndex& searchIndex(int fi);
    void indexesRemove(uint32_t slot);
    void indexesInsert(uint32_t slot);
    void invalidateSearchIndexes();
    bool matches(const QVariant& stored, const QVariant& value, int fi, LocateOptions o,
                 const QString& foldedValue) const;
    void checkUnique(const std::vector<QVariant>& buf, int64_t ownSlot) const;
    void notifyListeners(const std::function<void(TableListener*)>& f);

    QString m_name;
    std::vector<FieldDef> m_fields;
    std::vector<IndexDef> m_indexes;
    QString m_activeIndexName;
    int m_activeField = 0;
    bool m_activeDescending = false;
    int m_idField = 0;
    std::vector<std::unique_ptr<Field>> m_fieldObjects;
    struct LookupRef {
        bool resolved = false;
        int keyFi = -1, otherKeyFi = -1, otherResultFi = -1;
    };
    const LookupRef& lookupRef(int fi) const;
    mutable std::vector<LookupRef> m_lookups; // by field index, resolved on first use
    QHash<QString, int> m_fieldByName;        // by lower-case name
    QHash<QString, int> m_fieldByExact;       // the names as declared: no case folding per lookup

    TableState m_state = TableState::Inactive;
    bool m_changeLog = true;

    std::unique_ptr<RowStore> m_rows;
    SlotSequence m_order;                               // live slots, ascending by the active key
    std::vector<std::unique_ptr<SearchIndex>> m_search; // lazily built, by field index
    int m_lastId = 0;

    int m_cursor = -1; // logical position
    bool m_eof = true;
    bool m_bof = true;

    // edit buffer
    std::vector<QVariant> m_buffer;
    int64_t m_editSlot = -1;

    // what changed since the last write, for the incremental write
    std::vector<uint32_t> m_dirtyIds; // posted since the last write (IDs)
    std::vector<int> m_deletedIds;
    std::unique_ptr<TableFile> m_file;

    std::vector<TableListener*> m_listeners;
};

// The general decimal text of a number (15 significant digits, the locale's
// separator, no grouping).
QString floatToText(double v);
// Parse a typed decimal text with the locale's separator; false when it is not
// a finite number.
bool textToFloat(const QString& text, double* out);

} // namespace qardel
