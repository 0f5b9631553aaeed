// The data module: owner of the nine tables and the services both windows share.
#pragma once

#include "data/Schema.h"
#include "data/Table.h"
#include "data/TableModel.h"

#include <QDateTime>
#include <QObject>

#include <functional>

namespace qardel {

// What the data module needs of a combo box whose items carry row IDs.
class ComboBoxIntf {
  public:
    virtual ~ComboBoxIntf() = default;
    virtual void beginUpdate() = 0; // stop redrawing
    virtual void endUpdate() = 0;
    virtual void clearItems() = 0; // an editable box keeps showing its text
    virtual void addItem(const QString& text, int id) = 0;
    virtual int itemCount() const = 0;
    virtual int itemId(int index) const = 0;
    virtual int selectedIndex() const = 0;
    // -1: nothing selected; an editable box keeps its text, a fixed one shows nothing
    virtual void setSelectedIndex(int index) = 0;
};

// A correspondent's properties as the entry panel gives them; 0 = none.
struct CorProps {
    int nameId = 0;
    int cityId = 0;
    int countryId = 0;
};

// The values of one log row as the entry panel gives them.
struct LogRowValues {
    int corId = 0;
    QString suffix;
    QString notice; // an empty notice leaves the field as it was
    bool repeater = false;
    QString corPower; // typed number texts
    QString myPower;
    int corRsId = 0; // 0 leaves the field as it was
    int myRsId = 0;
    QString city;
    QString country;
    int bandId = 0; // 0 leaves the field as it was
    int modeId = 0;
    // From another log rather than typed: exact powers (instead of the texts;
    // NaN for none) and the QSO's own time (instead of the clock's).
    bool exact = false;
    double corPowerValue = 0, myPowerValue = 0;
    QDateTime time;
};

class TDM : public QObject {
    Q_OBJECT
  public:
    explicit TDM(QObject* parent = nullptr);
    ~TDM() override;

    QString DataDir; // ends with the path delimiter once set
    std::function<void(Table&)> OnLogScroll;
    // The clock that stamps new QSOs; tests replace it.
    std::function<QDateTime()> Clock;

    Table* dsMain;
    Table* dsCors;
    Table* dsBands;
    Table* dsModes;
    Table* dsRS;
    Table* dsCountryes;
    Table* dsCityes;
    Table* dsNames;
    Table* dsINI;
    TableModel* sMain;
    TableModel* sCors;
    TableModel* sBands;
    TableModel* sModes;
    TableModel* sRS;
    TableModel* sCountryes;
    TableModel* sCityes;
    TableModel* sNames;
    TableModel* sINI;

    // The nine tables in the order they are opened by name and closed.
    std::vector<Table*> tables() const;
    // The order of writing: a table after every table it refers to, so a
    // crash between two writes never leaves a reference to a row that is not
    // on disk.
    std::vector<Table*> saveOrder() const;

    // The folder for the data: $APPDATA/QARDEL/ when APPDATA is set and not
    // empty, else the per-user data folder with QARDEL inside.
    static QString defaultDataDir();

    void DataModuleCreate();
    void OpenTables();
    void OpenTable(Table& table);
    static void removeStaleTemporaries(const Table& table);
    void SaveTable(Table& table);
    void SaveAll();
    void CloseTables();
    // Closes every table without writing: the program ends on data it could
    // not read, and the files stay as they are for recovery.
    void AbandonTables();
    bool IsModified(const Table& table) const;
    void FillCombo(ComboBoxIntf& box, Table& table, const QString& fieldName);
    static int ComboIndexOfID(const ComboBoxIntf& box, int id);
    int GetIntSetting(const QString& name, int def);
    void SetIntSetting(const QString& name, int value);
    // A setting that holds text rather than a number (a device, an address,
    // the own locator), found by name as GetIntSetting finds it: its Value as
    // stored, def when there is no row or its Value is null. Reading leaves
    // the settings table's cursor where it was; writing posts like
    // SetIntSetting, an empty text makes the value null, and a longer text
    // than the field holds is refused, never cut.
    QString GetTextSetting(const QString& name, const QString& def = {});
    void SetTextSetting(const QString& name, const QString& value);
    static void SetFloatFromText(Field& field, const QString& text);
    static void SetTextOrClear(Field& field, const QString& text);
    static QChar UpCaseChar(QChar ch);

    // The table work of saving a QSO, in the order the entry panel runs it.
    // The ID of the row whose field equals text ignoring case, added when
    // missing; 0 for an empty text.
    int FindOrAddValue(Table& table, const QString& field, const QString& text);
    // Leaves dsCors on the correspondent with this whole call sign (ignoring
    // case), added with props when there is none. True when an existing one
    // holds other properties.
    bool FindOrAddCorrespondent(const QString& call, const CorProps& props);
    // Gives the current correspondent these properties.
    void SetCorrespondentProps(const CorProps& props);
    // Appends a log row, or rewrites the current one when correcting, and
    // posts it; a refused row is dropped and the error goes on to the caller.
    void PostLogRow(bool correcting, const LogRowValues& v);

    void dsMainAfterInsert(Table& table);
    void dsMainAfterPost(Table& table);
    void dsMainAfterDelete(Table& table);
    void dsMainAfterScroll(Table& table);

  private:
    LogTables m_tables;
};

} // namespace qardel
