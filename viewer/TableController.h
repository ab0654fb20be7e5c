// The controller of a header table: shows a StringTable in a table view, one column per title
// of row 0 and one line per further row, narrowed to the rows containing the filter text.
//
// It is the table view's model (Qt's data source). The rows are kept as given; `mapping` holds
// the indices of the rows shown, in display order. Cells are looked up by column position, so
// two columns with the same title each show their own cells; a row shorter than row 0 shows
// empty cells where it has none.
#pragma once

#include "BaseController.h"
#include "StringTable.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

class QLineEdit;
class QTableView;

class TableController : public QAbstractTableModel, public BaseController {
    Q_OBJECT

  public:
    explicit TableController(QObject* parent = nullptr);
    ~TableController() override;

    QPointer<QTableView> tableView;   // the table the rows are shown in
    QPointer<QLineEdit> filterField;  // the field whose text is the filter

    // Stores the rows, rebuilds the columns (when there is at least one row) and the shown
    // lines with the current filter, and reloads the table.
    void setTableData(const std::optional<StringTable>& rows);
    // Reads the filter field's text (lowercased), rebuilds the shown lines and reloads.
    void applyFilter();

    // Number of lines shown.
    int64_t numberOfRows() const { return int64_t(mapping.size()); }
    // The text of the cell at `column` of line `row`; empty when there is none.
    QString objectValue(int column, int64_t row) const;

    // The shown rows' indices into the data, in order.
    const std::vector<int64_t>& shownRows() const { return mapping; }
    QString filterText() const { return filter; }
    QStringList columnTitles() const { return columns_; }

    // The table view's model interface.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  public slots:
    void filterAction();

  private:
    void rebuildMapping();
    void rebuildColumns();

    std::vector<int64_t> mapping;      // indices into _data of the lines shown
    QString filter;                    // the filter text, lowercased
    std::optional<StringTable> _data;  // the rows; row 0 holds the column titles
    QStringList columns_;              // the columns' titles (also their identifiers)
};
