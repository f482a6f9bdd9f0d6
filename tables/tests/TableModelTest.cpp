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

std::vector<std::string> columnCells(const DKTable& t, int c) {
    std::vector<std::string> out;
    for (int r = 0; r < t.numberOfRows(); ++r) out.push_back(t.cellValue(r, c));
    return out;
}

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
    DKTable one;
    EXPECT_EQ(one.addRowAtIndex(1), 2);
    one.setCellValue(1, 0, "b");
    one.removeRowAtIndex(0);
    EXPECT_EQ(one.numberOfRows(), 1);
    EXPECT_STREQ(one.cellValue(0, 0), "b");

    DKTable t;
    fill(t, 3, 2);
    EXPECT_EQ(t.addRowAtIndex(0), 4);
    EXPECT_STREQ(t.rowTitle(0), "");
    EXPECT_STREQ(t.cellValue(0, 0), "");
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(std::string(t.rowTitle(r + 1)), "t" + std::to_string(r));
        EXPECT_EQ(std::string(t.cellValue(r + 1, 1)), "r" + std::to_string(r) + "c1");
    }

    t.removeRowAtIndex(2);  // the old row 1
    EXPECT_EQ(t.numberOfRows(), 3);
    EXPECT_EQ(columnCells(t, 0), (std::vector<std::string>{"", "r0c0", "r2c0"}));
    EXPECT_STREQ(t.rowTitle(2), "t2");
    EXPECT_STREQ(t.rowTitle(3), "");

    // Out-of-range positions change nothing.
    EXPECT_EQ(t.addRowAtIndex(5), 3);
    t.removeRowAtIndex(3);
    EXPECT_EQ(columnCells(t, 0), (std::vector<std::string>{"", "r0c0", "r2c0"}));

    // Down to no rows and back.
    while (t.numberOfRows() > 0) t.removeRowAtIndex(0);
    EXPECT_STREQ(t.cellValue(0, 0), "BadRow");
    EXPECT_EQ(t.addRowAtIndex(0), 1);
    EXPECT_STREQ(t.cellValue(0, 1), "");
}

TEST(TableModel, SetNumberOfRowsAndColumns) {
    DKTable t;
    t.setColumnType(0, Integer);
    t.setNumberOfRows(3);
    EXPECT_EQ(columnCells(t, 0), (std::vector<std::string>{"", "0", "0"}));
    EXPECT_STREQ(t.rowTitle(2), "");
    t.setRowTitle(2, "last");  // the grown rows have title entries
    EXPECT_STREQ(t.rowTitle(2), "last");

    t.setNumberOfColumns(3);
    EXPECT_EQ(t.columnType(2), Undefined);
    t.setColumnType(2, Boolean);
    t.setNumberOfRows(5);
    EXPECT_STREQ(t.cellValue(4, 2), "False");
    EXPECT_STREQ(t.cellValue(4, 1), "");

    t.setCellValue(4, 0, "44");
    t.setNumberOfRows(2);
    t.setNumberOfRows(5);  // shrinking dropped the cell; growing refills with the default
    EXPECT_STREQ(t.cellValue(4, 0), "0");

    t.setNumberOfColumns(1);
    EXPECT_STREQ(t.cellValue(0, 1), "BadCol");
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
    EXPECT_EQ(t.numberOfColumns(), 4);
    EXPECT_STREQ(t.columnTitle(1), "New");
    EXPECT_STREQ(t.cellValue(1, 1), "n1");
    EXPECT_STREQ(t.columnTitle(2), "B");
    EXPECT_TRUE(t.columnReadOnly(2));
    EXPECT_STREQ(t.cellValue(0, 3), "r0c2");

    t.addColumnAtIndex(6, fresh);  // beyond numberOfColumns + 0
    EXPECT_EQ(t.numberOfColumns(), 4);

    t.reorderColumns(0, 2);
    EXPECT_STREQ(t.columnTitle(0), "B");
    EXPECT_EQ(t.columnType(0), Real);
    EXPECT_STREQ(t.cellValue(1, 0), "r1c1");
    EXPECT_STREQ(t.cellValue(1, 2), "r1c0");

    t.removeColumnAtIndex(0);
    EXPECT_EQ(t.numberOfColumns(), 3);
    EXPECT_STREQ(t.columnTitle(0), "New");
    EXPECT_STREQ(t.cellValue(0, 2), "r0c2");
    t.removeColumnAtIndex(3);
    EXPECT_EQ(t.numberOfColumns(), 3);
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

struct Heard {
    std::string who;
    int row, column;
    std::string oldValue, newValue;
};

class Recorder : public TableCallback {
public:
    Recorder(std::string name, std::vector<Heard>* log, int* destroyed)
        : m_name(std::move(name)), m_log(log), m_destroyed(destroyed) {}
    ~Recorder() override { ++*m_destroyed; }
    void tableChanged(TableChangeContainer& c) override {
        m_log->push_back({m_name, c.row, c.column, c.oldValue, c.newValue});
    }

private:
    std::string m_name;
    std::vector<Heard>* m_log;
    int* m_destroyed;
};

}  // namespace

TEST(TableModel, ObserversHearInOrderAndAreOwned) {
    std::vector<Heard> log;
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
        ASSERT_EQ(log.size(), 6u);
        EXPECT_EQ(log[0].who, "cell");
        EXPECT_EQ(log[1].who, "column");
        EXPECT_EQ(log[2].who, "all");
        EXPECT_EQ(log[0].oldValue, "");
        EXPECT_EQ(log[0].newValue, "a");
        EXPECT_EQ(log[3].oldValue, "a");
        EXPECT_EQ(log[0].row, 5);
        EXPECT_EQ(log[0].column, 2);

        log.clear();
        t.setCellValue(4, 2, "b");
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].who, "column");
        EXPECT_EQ(log[1].who, "all");

        t.unRegisterObserver(&other, 2, -1);
        EXPECT_EQ(destroyed, 0);
        t.unRegisterObserver(&me, 2, -1);
        EXPECT_EQ(destroyed, 1);
        log.clear();
        t.setCellValue(4, 2, "c");
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].who, "all");
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
