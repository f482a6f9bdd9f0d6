// The in-memory table: grid edits, titles, look-ups and observers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/DKTable.h"

using namespace dk::tables;

namespace {

// A table of `rows` x `cols` whose cell (r, c) reads "r<r>c<c>" and row r is titled "t<r>".
void fill(DKTable& t, int rows, int cols) {
    t.setNumberOfRows(rows);
    t.setNumberOfColumns(cols);
    for (int r = 0; r < rows; ++r) {
        t.setRowTitle(r, "t" + std::to_string(r));
        for (int c = 0; c < cols; ++c)
            t.setCellValue(r, c, "r" + std::to_string(r) + "c" + std::to_string(c));
    }
}

// Every row as its cells joined by "|".
std::vector<std::string> grid(const DKTable& t) {
    std::vector<std::string> rows;
    for (int r = 0; r < t.numberOfRows(); ++r) {
        std::string row;
        for (int c = 0; c < t.numberOfColumns(); ++c) row += (c ? "|" : "") + std::string(t.cellValue(r, c));
        rows.push_back(row);
    }
    return rows;
}
using Grid = std::vector<std::string>;

}  // namespace

TEST(TableModel, NewTableAndOutOfRangeReads) {
    DKTable t;
    EXPECT_EQ(t.numberOfRows(), 1);
    EXPECT_EQ(t.numberOfColumns(), 1);
    EXPECT_EQ(t.columnType(0), Undefined);
    EXPECT_STREQ(t.columnTypeName(Boolean), "Boolean");
    EXPECT_STREQ(t.columnTypeName(static_cast<ColumnType>(8)), "");
    EXPECT_STREQ(t.columnTypeName(static_cast<ColumnType>(-1)), "");
    EXPECT_STREQ(t.cellValue(0, 0), "");
    EXPECT_STREQ(t.rowTitle(0), "");

    EXPECT_STREQ(t.cellValue(1, 0), "BadRow");
    EXPECT_STREQ(t.cellValue(0, 1), "BadCol");
    EXPECT_STREQ(t.cellValue(5, 5), "BadRow");
    std::string out = "untouched";
    EXPECT_STREQ(t.xmlCellValue(out, 0, 3), "BadCol");
    EXPECT_STREQ(t.jsonCellValue(out, 3, 0), "BadRow");
    EXPECT_EQ(out, "untouched");

    EXPECT_FALSE(t.setCellValue(1, 0, "x"));
    EXPECT_FALSE(t.columnReadOnly(7));
    EXPECT_EQ(t.columnAtIndex(7), nullptr);
    t.setRowTitle(3, "ghost");
    EXPECT_STREQ(t.rowTitle(3), "");
}

TEST(TableModel, RowsInsertAndRemoveMoveCellsAndTitles) {
    DKTable t;
    fill(t, 3, 2);
    EXPECT_EQ(t.addRowAtIndex(0), 4);
    EXPECT_EQ(grid(t), (Grid{"|", "r0c0|r0c1", "r1c0|r1c1", "r2c0|r2c1"}));
    EXPECT_STREQ(t.rowTitle(0), "");
    EXPECT_STREQ(t.rowTitle(3), "t2");

    t.removeRowAtIndex(2);  // the old row 1
    EXPECT_EQ(grid(t), (Grid{"|", "r0c0|r0c1", "r2c0|r2c1"}));
    EXPECT_STREQ(t.rowTitle(2), "t2");
    EXPECT_STREQ(t.rowTitle(3), "");

    // Out-of-range positions change nothing.
    EXPECT_EQ(t.addRowAtIndex(5), 3);
    t.removeRowAtIndex(3);
    EXPECT_EQ(grid(t), (Grid{"|", "r0c0|r0c1", "r2c0|r2c1"}));

    // Down to no rows and back; appending after the last row.
    while (t.numberOfRows() > 0) t.removeRowAtIndex(0);
    EXPECT_STREQ(t.cellValue(0, 0), "BadRow");
    EXPECT_EQ(t.addRowAtIndex(0), 1);
    EXPECT_EQ(t.addRowAtIndex(1), 2);
    t.setCellValue(1, 0, "b");
    t.removeRowAtIndex(0);
    EXPECT_EQ(grid(t), (Grid{"b|"}));
}

TEST(TableModel, SetNumberOfRowsAndColumns) {
    DKTable t;
    t.setColumnType(0, Integer);
    t.setNumberOfRows(3);
    t.setRowTitle(2, "last");  // the grown rows have title entries
    EXPECT_STREQ(t.rowTitle(2), "last");
    t.setNumberOfColumns(3);
    EXPECT_EQ(t.columnType(2), Undefined);
    t.setColumnType(2, Boolean);
    t.setNumberOfRows(5);  // new cells take their column's default
    EXPECT_EQ(grid(t), (Grid{"||", "0||", "0||", "0||False", "0||False"}));

    t.setCellValue(4, 0, "44");
    t.setNumberOfRows(2);
    t.setNumberOfRows(5);  // shrinking dropped the cell; growing refills with the default
    EXPECT_STREQ(t.cellValue(4, 0), "0");
    t.setNumberOfColumns(1);
    t.setNumberOfColumns(2);
    EXPECT_EQ(t.columnType(1), Undefined);
    EXPECT_STREQ(t.cellValue(4, 1), "");

    t.setNumberOfRows(-4);
    t.setNumberOfColumns(-1);
    EXPECT_EQ(t.numberOfRows(), 5);
    EXPECT_EQ(t.numberOfColumns(), 2);
}

TEST(TableModel, ColumnsAddRemoveReorder) {
    DKTable t;
    fill(t, 2, 3);
    t.setColumnTitle(1, "B");
    t.setColumnType(1, Real);
    t.setColumnReadOnly(1, true);

    TableColumn fresh(Text, "New");
    fresh.cellAtRowIndex(1).setValue("n1");
    t.addColumnAtIndex(1, fresh);
    t.addColumnAtIndex(6, fresh);  // beyond numberOfColumns: nothing
    EXPECT_EQ(grid(t), (Grid{"r0c0||r0c1|r0c2", "r1c0|n1|r1c1|r1c2"}));
    EXPECT_STREQ(t.columnTitle(1), "New");
    EXPECT_STREQ(t.columnTitle(2), "B");
    EXPECT_TRUE(t.columnReadOnly(2));

    t.reorderColumns(0, 2);  // the column's title, type and cells move together
    EXPECT_EQ(grid(t), (Grid{"r0c1||r0c0|r0c2", "r1c1|n1|r1c0|r1c2"}));
    EXPECT_STREQ(t.columnTitle(0), "B");
    EXPECT_EQ(t.columnType(0), Real);

    t.removeColumnAtIndex(0);
    t.removeColumnAtIndex(3);  // out of range: nothing
    EXPECT_EQ(grid(t), (Grid{"|r0c0|r0c2", "n1|r1c0|r1c2"}));
    EXPECT_STREQ(t.columnTitle(0), "New");
}

TEST(TableModel, LookupsByName) {
    DKTable t;
    fill(t, 3, 2);
    t.setRowTitle(1, "Level");
    t.setColumnTitle(1, "Level");
    EXPECT_EQ(t.findRowNumberByName("LEVEL"), 1);
    EXPECT_EQ(t.findRowNumberByName("Lev"), -1);
    EXPECT_EQ(t.findColumnNumberByName("level"), 1);
    EXPECT_EQ(t.columnWithName("level"), nullptr);
    EXPECT_EQ(t.columnWithName("Level"), t.columnAtIndex(1));
    EXPECT_EQ(t.findColumnNumberByName(""), 0);  // column 0 is untitled
    t.setRowTitle(2, "");
    EXPECT_EQ(t.findRowNumberByName(""), 2);
    // Only ASCII letters fold: other bytes compare as they are.
    t.setRowTitle(0, "\xC3\x89t\xC3\xA9");
    EXPECT_EQ(t.findRowNumberByName("\xC3\x89T\xC3\xA9"), 0);
    EXPECT_EQ(t.findRowNumberByName("\xC3\xA9t\xC3\xA9"), -1);
}

TEST(TableModel, FlagsTypeAndCopy) {
    DKTable t;
    t.setFlags(0x13);
    t.setTableType(0);
    EXPECT_EQ(t.flags(), 0x1Bu);
    t.setTableType(2);
    EXPECT_EQ(t.flags(), 0x13u);
    EXPECT_EQ(t.tableType(), 2u);
    t.setFlags(8);
    EXPECT_EQ(t.flags(), 8u);
    EXPECT_EQ(t.tableType(), 2u);

    DKTable src;
    fill(src, 2, 2);
    src.setTableName("src");
    src.setTableId("id-src");
    src.setColumnType(1, Angle);
    DKTable dst;
    dst.setTableId("id-dst");
    dst.copyTableData(src);
    EXPECT_STREQ(dst.tableName(), "src");
    EXPECT_STREQ(dst.tableId(), "id-dst");
    EXPECT_EQ(dst.numberOfRows(), 2);
    EXPECT_EQ(dst.columnType(1), Angle);
    EXPECT_STREQ(dst.cellValue(1, 1), "r1c1");
    EXPECT_STREQ(dst.rowTitle(1), "t1");
    // A deep copy: later edits of the source do not show.
    src.setCellValue(1, 1, "changed");
    EXPECT_STREQ(dst.cellValue(1, 1), "r1c1");

    dst.reset();
    EXPECT_EQ(dst.numberOfRows(), 1);
    EXPECT_STREQ(dst.cellValue(0, 1), "BadCol");
    EXPECT_STREQ(dst.tableName(), "src");
    EXPECT_STREQ(dst.tableId(), "id-dst");
}

namespace {

// Logs each change it hears as "<name> <row>,<column> <old>><new>".
class Recorder : public TableCallback {
public:
    Recorder(std::string name, std::vector<std::string>* log, int* destroyed)
        : m_name(std::move(name)), m_log(log), m_destroyed(destroyed) {}
    ~Recorder() override { ++*m_destroyed; }
    void tableChanged(TableChangeContainer& c) override {
        m_log->push_back(m_name + " " + std::to_string(c.row) + "," + std::to_string(c.column) + " " +
                         c.oldValue + ">" + c.newValue);
    }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
    int* m_destroyed;
};

}  // namespace

TEST(TableModel, ObserversHearInOrderAndAreOwned) {
    std::vector<std::string> log;
    int destroyed = 0;
    int me = 0, other = 0;
    {
        DKTable t;
        t.setNumberOfRows(6);
        t.setNumberOfColumns(3);
        t.registerObserver(std::make_unique<Recorder>("all", &log, &destroyed), &me, -1, -1);
        t.registerObserver(std::make_unique<Recorder>("column", &log, &destroyed), &me, 2, -1);
        t.registerObserver(std::make_unique<Recorder>("cell", &log, &destroyed), &me, 2, 5);
        t.registerObserver(std::make_unique<Recorder>("deaf", &log, &destroyed), &me, -1, 5);

        t.setCellValue(5, 2, "a");
        t.setCellValue(5, 2, "a");  // unchanged text is still reported
        t.setCellValue(4, 2, "b");
        EXPECT_EQ(log,
                  (std::vector<std::string>{"cell 5,2 >a", "column 5,2 >a", "all 5,2 >a", "cell 5,2 a>a",
                                            "column 5,2 a>a", "all 5,2 a>a", "column 4,2 >b", "all 4,2 >b"}));
        t.unRegisterObserver(&other, 2, -1);
        EXPECT_EQ(destroyed, 0);
        t.unRegisterObserver(&me, 2, -1);
        EXPECT_EQ(destroyed, 1);
        log.clear();
        t.setCellValue(4, 2, "c");
        EXPECT_EQ(log, (std::vector<std::string>{"all 4,2 b>c"}));
    }
    EXPECT_EQ(destroyed, 4);  // each remaining callback once
}

namespace {

// Unregisters itself while being notified: the round in progress must not touch freed memory.
class SelfRemover : public TableCallback {
public:
    explicit SelfRemover(int* calls) : m_calls(calls) {}
    void tableChanged(TableChangeContainer& c) override {
        ++*m_calls;
        c.table->unRegisterObserver(this, -1, -1);
        c.table->unRegisterObserver(this, 0, -1);
    }

private:
    int* m_calls;
};

}  // namespace

TEST(TableModel, ObserverMayUnregisterDuringNotification) {
    DKTable t;
    int calls = 0;
    auto a = std::make_unique<SelfRemover>(&calls);
    const void* ctxA = a.get();
    t.registerObserver(std::move(a), ctxA, -1, -1);
    auto b = std::make_unique<SelfRemover>(&calls);
    const void* ctxB = b.get();
    t.registerObserver(std::move(b), ctxB, 0, -1);
    EXPECT_TRUE(t.setCellValue(0, 0, "x"));
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(t.setCellValue(0, 0, "y"));
    EXPECT_EQ(calls, 2);
}
