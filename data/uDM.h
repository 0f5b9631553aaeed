// The data module: owner of the nine tables and the services both windows share.
#pragma once

#include "Schema.h"
#include "Table.h"
#include "TableModel.h"

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

    // The nine tables in the order they are saved (and closed).
    std::vector<Table*> tables() const;

    // The folder for the data: $APPDATA/QARDEL/ when APPDATA is set and not
    // empty, else the per-user data folder with QARDEL inside.
    static QString defaultDataDir();

    void DataModuleCreate();
    void OpenTables();
    void OpenTable(Table& table);
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
    static void SetFloatFromText(Field& field, const QString& text);
    static void SetTextOrClear(Field& field, const QString& text);
    static QChar UpCaseChar(QChar ch);

    void dsMainAfterInsert(Table& table);
    void dsMainAfterPost(Table& table);
    void dsMainAfterDelete(Table& table);
    void dsMainAfterScroll(Table& table);

  private:
    LogTables m_tables;
};

} // namespace qardel
