// The reference-list editor: one tab per reference table, the fields of one
// row with Save and Delete on each tab, and a read-only grid of the tab's
// table underneath. It works on the data module's tables directly; every
// Save posts and every Delete deletes at once, and the opener writes the files.
#pragma once

#include <QDialog>
#include <QString>

#include <exception>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

namespace qardel {

class TDM;
class Table;
class TableModel;
class DataGrid;
class IdComboBox;

class TfEditor : public QDialog {
    Q_OBJECT
  public:
    TfEditor(TDM* dm, QWidget* parent);

    // --- controls, by their program names
    QTabWidget* pcType;
    QWidget* tsBands;
    QWidget* tsModes;
    QWidget* tsNames;
    QWidget* tsCityes;
    QWidget* tsCountryes;
    QWidget* tsRS;
    QWidget* tsOther;

    QLineEdit* edBandName;
    QLineEdit* edBegin;
    QLineEdit* edEnd;
    QLineEdit* edPower;
    IdComboBox* cbBandMode;
    QPushButton* btnSaveBand;
    QPushButton* btnDeleteBand;

    QLineEdit* edModeName;
    QPushButton* btnSaveMode;
    QPushButton* btnDeleteMode;

    QLineEdit* edName;
    QPushButton* btnSaveName;
    QPushButton* btnDeleteName;

    QLineEdit* edCityName;
    QPushButton* btnSaveCity;
    QPushButton* btnDeleteCity;

    QLineEdit* edCountryName;
    QPushButton* btnSaveCountry;
    QPushButton* btnDeleteCountry;

    QLineEdit* edRS;
    QPushButton* btnSaveRS;
    QPushButton* btnDeleteRS;

    QLineEdit* edMiscName;
    QLineEdit* edMiscValue;
    QPushButton* btnSaveMisc;
    QPushButton* btnDeleteMisc;

    DataGrid* dbgEditor;

    // --- event handlers; each may throw, the connections show the error
    void pcTypeChange();
    void dbgEditorCellClick();
    void edBandNameChange();
    void edModeNameChange();
    void edNameChange();
    void edCityNameChange();
    void edCountryNameChange();
    void edRSChange();
    void edMiscNameChange();
    void btnSaveBandClick();
    void btnSaveModeClick();
    void btnSaveNameClick();
    void btnSaveCityClick();
    void btnSaveCountryClick();
    void btnSaveRSClick();
    void btnSaveMiscClick();
    void btnDeleteBandClick();
    // Key filters: the character to insert, or a null QChar to refuse it.
    QChar edBeginKeyPress(QLineEdit* edit, QChar key) const;
    QChar edNameKeyPress(QLineEdit* edit, QChar key) const;

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // One tab's table, name field and buttons, by tab index.
    struct Page {
        Table* table;
        TableModel* source;
        QLineEdit* nameEdit;
        QPushButton* save;
        QPushButton* del;
    };
    Page page(int index) const;
    QWidget* addPage(QWidget*& sheet, const char* objectName, const QString& caption);
    QLineEdit* addNameRow(QWidget* sheet, const QString& label, const char* objectName,
                          int maxLength, const QString& hint);
    QLineEdit* addEdit(QWidget* sheet, const char* objectName, int x, int y, int width,
                       int maxLength, const QString& hint);
    QLabel* addLabel(QWidget* sheet, const QString& text, int x, int y, bool bold = false);
    QPushButton* addButton(QWidget* sheet, const char* objectName, const QString& text, int x);
    void searchAppendOnly(QLineEdit* edit, Table* table, const QString& field, QPushButton* save);
    void searchEditOrAppend(QLineEdit* edit, Table* table, QPushButton* save);
    void saveAppendOnly(QLineEdit* edit, Table* table, const QString& field, QPushButton* save);
    bool isDefaultButtonKey(const QKeyEvent* e) const;
    void clickDefault();
    void updateDelete(const Page& p);
    void runChange(void (TfEditor::*handler)());
    void writeText(QLineEdit* edit, const QString& text);

    TDM* DM;
    QString FDecimalSeparator; // the locale's, read once
    bool FWriting = false;     // the dialog is writing a name field
    std::exception_ptr FWriteError;
};

} // namespace qardel
