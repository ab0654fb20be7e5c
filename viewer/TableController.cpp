#include "TableController.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

TableController::TableController(QObject* parent) : QAbstractTableModel(parent) {}

TableController::~TableController() = default;

void TableController::setTableData(const std::optional<StringTable>& rows) {
    beginResetModel();
    _data = rows;
    if (_data && !_data->isEmpty()) rebuildColumns();
    rebuildMapping();
    endResetModel();
}

void TableController::rebuildColumns() {
    columns_ = _data->at(0);
    if (tableView) tableView->horizontalHeader()->setMinimumSectionSize(100);
}

void TableController::filterAction() {
    applyFilter();
}

void TableController::applyFilter() {
    beginResetModel();
    filter = filterField ? filterField->text().toLower() : QString();
    rebuildMapping();
    endResetModel();
}

void TableController::rebuildMapping() {
    mapping.clear();
    if (!_data) return;
    const StringTable& rows = *_data;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QStringList& row = rows[i];
        if (row.isEmpty()) continue;
        bool taken = filter.isEmpty();
        for (qsizetype c = 0; !taken && c < row.size(); ++c)
            taken = row[c].toLower().contains(filter);
        if (taken) mapping.push_back(int64_t(i));
    }
}

QString TableController::objectValue(int column, int64_t row) const {
    if (!_data || row < 0 || row >= int64_t(mapping.size()) || _data->isEmpty() ||
        _data->at(0).isEmpty())
        return QString();
    if (column < 0 || column >= columns_.size()) return QString();
    const QStringList& cells = _data->at(qsizetype(mapping[size_t(row)]));
    return column < cells.size() ? cells[column] : QString();
}

int TableController::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(std::min<int64_t>(numberOfRows(), INT32_MAX));
}

int TableController::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant TableController::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    return objectValue(index.column(), index.row());
}

QVariant TableController::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size()) return {};
    if (role == Qt::DisplayRole || role == Qt::UserRole) return columns_[section];
    return {};
}
