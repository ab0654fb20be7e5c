// The header table: columns from row 0, lines narrowed by the filter, cells by position; and
// the shared integer formatter.
#include "FormattedInteger.h"
#include "QSTableController.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

#include <gtest/gtest.h>

#include <vector>

namespace {

const StringTable keywords = {
    {"key", "value", "comment"},
    {"SIMPLE", "T", "conforms to FITS standard"},
    {"DATE-OBS", "2021-03-04T05:06:07", "start of exposure"},
    {"EXPTIME", "30.0", "Exposure in Seconds"},
    {},           // a row without cells is never shown
    {"HISTORY"},  // shorter than row 0
    {"OBJECT", "M 42", "Orion nebula"},
};

class TableControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.tableView = &view;
        controller.filterField = &field;
        view.setModel(&controller);
    }

    void filterBy(const QString& text) {
        field.setText(text);
        controller.filterAction();
    }

    // The first cell of every shown line.
    QStringList shownKeys() const {
        QStringList keys;
        for (int r = 0; r < controller.rowCount(); ++r)
            keys.append(controller.data(controller.index(r, 0)).toString());
        return keys;
    }

    QTableView view;
    QLineEdit field;
    QSTableController controller;
};

}  // namespace

TEST_F(TableControllerTest, ColumnsComeFromRowZero) {
    controller.setTableData(keywords);
    EXPECT_EQ(controller.columnCount(), 3);
    EXPECT_EQ(controller.columnTitles(), (QStringList{"key", "value", "comment"}));
    EXPECT_EQ(view.model()->headerData(1, Qt::Horizontal).toString(), "value");
    EXPECT_EQ(view.model()->headerData(1, Qt::Horizontal, Qt::UserRole).toString(), "value");
    EXPECT_EQ(view.horizontalHeader()->minimumSectionSize(), 100);
    EXPECT_EQ(controller.objectValue(1, 1), "2021-03-04T05:06:07");

    // No rows: the columns stay, no line is shown.
    controller.setTableData(std::nullopt);
    EXPECT_EQ(controller.columnCount(), 3);
    EXPECT_EQ(controller.rowCount(), 0);
    controller.setTableData(StringTable{});
    EXPECT_EQ(controller.columnCount(), 3);
    EXPECT_EQ(controller.rowCount(), 0);
    EXPECT_EQ(controller.objectValue(0, 0), "");
}

TEST_F(TableControllerTest, FilterIgnoresCaseOnBothSides) {
    controller.setTableData(keywords);
    for (const QString text : {"date", "Date", "DATE", "dAtE-oBs"}) {
        filterBy(text);
        EXPECT_EQ(controller.filterText(), text.toLower());
        EXPECT_EQ(shownKeys(), QStringList{"DATE-OBS"}) << text.toStdString();
    }
    // Lower-case text matches a cell written in capitals, and the other way round.
    filterBy("seconds");
    EXPECT_EQ(shownKeys(), QStringList{"EXPTIME"});
    filterBy("M 42");
    EXPECT_EQ(shownKeys(), QStringList{"OBJECT"});
}

TEST_F(TableControllerTest, CommentCellsCountAndClearingShowsEveryRowWithCells) {
    controller.setTableData(keywords);
    filterBy("nebula");  // only in a comment cell
    EXPECT_EQ(shownKeys(), QStringList{"OBJECT"});
    filterBy("");
    EXPECT_EQ(shownKeys(), (QStringList{"SIMPLE", "DATE-OBS", "EXPTIME", "HISTORY", "OBJECT"}));
    EXPECT_EQ(controller.shownRows(), (std::vector<int64_t>{1, 2, 3, 5, 6}));
    filterBy("no such text");
    EXPECT_EQ(controller.rowCount(), 0);
}

TEST_F(TableControllerTest, RowsHandedOverWhileFilteredAppearFiltered) {
    filterBy("exposure");
    controller.setTableData(keywords);
    EXPECT_EQ(shownKeys(), (QStringList{"DATE-OBS", "EXPTIME"}));
}

TEST_F(TableControllerTest, CellsAreFoundByColumnPosition) {
    // Two columns with one name each show their own cells.
    controller.setTableData(StringTable{{"FLUX", "FLUX", "NAME"}, {"1.5", "2.5", "Vega"}});
    EXPECT_EQ(controller.objectValue(0, 0), "1.5");
    EXPECT_EQ(controller.objectValue(1, 0), "2.5");
    EXPECT_EQ(controller.objectValue(2, 0), "Vega");

    // A short row shows empty cells where it has none; lookups outside give empty text.
    controller.setTableData(keywords);
    const int history = int(shownKeys().indexOf("HISTORY"));
    ASSERT_GE(history, 0);
    EXPECT_EQ(controller.objectValue(0, history), "HISTORY");
    EXPECT_EQ(controller.objectValue(1, history), "");
    EXPECT_EQ(controller.objectValue(2, history), "");
    EXPECT_EQ(controller.objectValue(3, 0), "");
    EXPECT_EQ(controller.objectValue(-1, 0), "");
    EXPECT_EQ(controller.objectValue(0, 99), "");
    EXPECT_EQ(controller.objectValue(0, -1), "");

    // An empty title row shows nothing.
    controller.setTableData(StringTable{{}, {"a", "b"}});
    EXPECT_EQ(controller.objectValue(0, 0), "");
}

TEST(FormattedIntegerTest, GroupsThousandsInTheLocale) {
    const struct {
        int64_t value;
        QLocale locale;
        QString text;
    } cases[] = {
        {1234567, QLocale(QLocale::English, QLocale::UnitedStates), "1,234,567"},
        {1234567, QLocale(QLocale::German, QLocale::Germany), "1.234.567"},
        {0, QLocale(QLocale::English, QLocale::UnitedStates), "0"},
        {0, QLocale(QLocale::German, QLocale::Germany), "0"},
        {-65535, QLocale(QLocale::English, QLocale::UnitedStates), "-65,535"},
        {999, QLocale(QLocale::German, QLocale::Germany), "999"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formattedInteger(c.value, c.locale), c.text) << c.value;
    EXPECT_EQ(formattedInteger(0), "0");
    EXPECT_EQ(formattedInteger(12), "12");
}
