// A combo box whose items carry row IDs: editable or drop-down only, sorted
// by the locale's collation (ignoring case) or kept in the order added, with
// type-ahead completion from its items.
#pragma once

#include "data/uDM.h"

#include <QComboBox>

namespace qardel {

class IdComboBox : public QComboBox, public ComboBoxIntf {
    Q_OBJECT
  public:
    IdComboBox(bool editable, bool sorted, QWidget* parent = nullptr);

    bool isSorted() const { return m_sorted; }

    // ComboBoxIntf
    void beginUpdate() override;
    void endUpdate() override;
    void clearItems() override;
    void addItem(const QString& text, int id) override;
    int itemCount() const override { return count(); }
    int itemId(int index) const override;
    int selectedIndex() const override { return currentIndex(); }
    void setSelectedIndex(int index) override;

    // Select no item and empty the text.
    void clearSelectionAndText();
    // The ID of the selected item, 0 when none.
    int selectedId() const;
    // A drop-down list drawn with its face in this flat colour, as a text
    // field's ground, instead of the style's shaded button face (which pales
    // a tint to near nothing); an invalid colour gives the style's face back.
    void setFaceColor(const QColor& c);

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

  private:
    bool tryComplete(QKeyEvent* e);
    void insertSorted(const QString& text, int id);
    void fillFromPending();
    void clearNow();
    void onTextEdited(const QString& text);

    bool m_sorted;
    int m_updating = 0;
    std::vector<std::pair<QString, int>> m_pending;
    // The rows of the last refill in the table's order, while the list holds
    // exactly them; a later refill that only appends rows adds just those.
    std::vector<std::pair<QString, int>> m_filled;
    bool m_filledValid = false;
    bool m_clearing = false;
    QColor m_face;
};

} // namespace qardel
