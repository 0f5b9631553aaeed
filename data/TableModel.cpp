#include "data/TableModel.h"

namespace qardel {

TableModel::TableModel(Table* table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table) {
    setColumns({});
    m_table->addListener(this);
}

TableModel::~TableModel() {
    m_table->removeListener(this);
}

void TableModel::setColumns(const QStringList& fieldNames) {
    beginResetModel();
    m_fieldIndexes.clear();
    if (fieldNames.isEmpty()) {
        for (int i = 0; i < m_table->fieldCount(); ++i)
            if (!m_table->fieldDefs()[size_t(i)].hidden) m_fieldIndexes << i;
    } else {
        for (const QString& n : fieldNames) {
            const int fi = m_table->fieldIndex(n);
            if (fi < 0) throw DbError(QStringLiteral("Field '%1' not found").arg(n));
            m_fieldIndexes << fi;
        }
    }
    endResetModel();
}

QStringList TableModel::columns() const {
    QStringList l;
    for (int fi : m_fieldIndexes)
        l << m_table->fieldDefs()[size_t(fi)].name;
    return l;
}

int TableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_table->isActive() || m_resetting) return 0;
    return m_table->recordCount();
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_fieldIndexes.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= m_fieldIndexes.size()) return {};
    const int fi = m_fieldIndexes[index.column()];
    const FieldDef& f = m_table->fieldDefs()[size_t(fi)];
    switch (role) {
    case Qt::DisplayRole: {
        QString s = m_table->textAt(index.row(), fi);
        if (f.type == FieldType::Memo)
            s.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
        return s;
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            Qt::Alignment((f.centered ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant TableModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section >= m_fieldIndexes.size())
        return {};
    return m_table->fieldDefs()[size_t(m_fieldIndexes[section])].displayLabel();
}

void TableModel::rowsAboutToBeReset() {
    if (m_resetting) return;
    beginResetModel();
    m_resetting = true;
}
void TableModel::rowsReset() {
    if (!m_resetting) beginResetModel();
    m_resetting = false;
    endResetModel();
}
void TableModel::rowAboutToBeInserted(int pos) {
    beginInsertRows({}, pos, pos);
}
void TableModel::rowInserted(int) {
    endInsertRows();
}
void TableModel::rowAboutToBeRemoved(int pos) {
    beginRemoveRows({}, pos, pos);
}
void TableModel::rowRemoved(int) {
    endRemoveRows();
}
void TableModel::rowChanged(int pos) {
    emit dataChanged(index(pos, 0), index(pos, columnCount() - 1));
}
void TableModel::rowMoved(int from, int to) {
    // The row has already moved in the table: tell the views it was replaced.
    const int lo = std::min(from, to), hi = std::max(from, to);
    emit dataChanged(index(lo, 0), index(hi, columnCount() - 1));
}
void TableModel::cursorMoved(int pos) {
    emit cursorRowChanged(pos);
}

} // namespace qardel
