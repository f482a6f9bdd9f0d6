// The in-memory table: grid edits against a plain reference model, out-of-range answers,
// look-ups and observers.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tables/DKTable.h"

using namespace dk::tables;

namespace {

// What a table should hold: plain vectors, edited by the documented rules.
struct Model {
    struct Column {
        ColumnType type = Undefined;
        std::string title;
        bool readOnly = false;
    };
    std::vector<std::vector<std::string>> cells{{""}};  // [row][column]
    std::vector<std::string> rowTitles{""};
    std::vector<Column> columns{Column{}};

    int rows() const { return static_cast<int>(cells.size()); }
    int cols() const { return static_cast<int>(columns.size()); }
};

// The whole visible state, reads one step out of range included, as one comparable text.
std::string dump(const DKTable& t) {
    std::string out = std::to_string(t.numberOfRows()) + "x" + std::to_string(t.numberOfColumns()) + "\n";
    for (int c = -1; c <= t.numberOfColumns(); ++c)
        out += std::to_string(t.columnType(c)) + ":" + t.columnTitle(c) + ":" +
               (t.columnReadOnly(c) ? "ro" : "rw") + " ";
    for (int r = -1; r <= t.numberOfRows(); ++r) {
        out += std::string("\n") + t.rowTitle(r) + "|";
        for (int c = -1; c <= t.numberOfColumns(); ++c) out += std::string(t.cellValue(r, c)) + "|";
    }
    return out;
}

std::string dump(const Model& m) {
    std::string out = std::to_string(m.rows()) + "x" + std::to_string(m.cols()) + "\n";
    const Model::Column none;
    for (int c = -1; c <= m.cols(); ++c) {
        const Model::Column& col = c >= 0 && c < m.cols() ? m.columns[c] : none;
        out += std::to_string(col.type) + ":" + col.title + ":" + (col.readOnly ? "ro" : "rw") + " ";
    }
    for (int r = -1; r <= m.rows(); ++r) {
        const bool rowIn = r >= 0 && r < m.rows();
        out += "\n" + (rowIn ? m.rowTitles[r] : "") + "|";
        for (int c = -1; c <= m.cols(); ++c)
            out += (!rowIn ? std::string("BadRow") : c < 0 || c >= m.cols() ? "BadCol" : m.cells[r][c]) + "|";
    }
    return out;
}

}  // namespace

TEST(TableModel, EditsMatchAReferenceModel) {
    std::mt19937 rng(20240611);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    DKTable t;
    Model m;
    // Positions run one past each end, so out-of-range edits are tried as often as the others.
    int r = 0, c = 0, n = 0;
    std::string text;
    ColumnType type = Undefined;
    auto rowIn = [&] { return r >= 0 && r < m.rows(); };
    auto colIn = [&](int k) { return k >= 0 && k < m.cols(); };
    auto eachRow = [&](auto f) {
        for (auto& row : m.cells) f(row);
    };
    const std::vector<std::function<void()>> edits = {
        [&] {
            EXPECT_EQ(t.addRowAtIndex(r), r >= 0 && r <= m.rows() ? m.rows() + 1 : m.rows());
            if (r < 0 || r > m.rows()) return;
            m.cells.insert(m.cells.begin() + r, std::vector<std::string>(m.cols()));
            m.rowTitles.insert(m.rowTitles.begin() + r, "");
        },
        [&] {
            t.removeRowAtIndex(r);
            if (rowIn()) m.cells.erase(m.cells.begin() + r), m.rowTitles.erase(m.rowTitles.begin() + r);
        },
        [&] {
            t.setNumberOfRows(n);
            if (n < 0) return;
            std::vector<std::string> grown;  // grown rows take each column's default
            for (auto& col : m.columns) grown.push_back(defaultCellText(col.type));
            m.cells.resize(n, grown);
            m.rowTitles.resize(n);
        },
        [&] {
            t.setNumberOfColumns(n);
            if (n < 0) return;
            m.columns.resize(n);
            eachRow([&](auto& row) { row.resize(n); });
        },
        [&] {
            t.addColumnAtIndex(c, TableColumn(type, text, n % 2));
            if (c < 0 || c > m.cols()) return;
            m.columns.insert(m.columns.begin() + c, Model::Column{type, text, n % 2 != 0});
            eachRow([&](auto& row) { row.insert(row.begin() + c, ""); });
        },
        [&] {
            t.removeColumnAtIndex(c);
            if (!colIn(c)) return;
            m.columns.erase(m.columns.begin() + c);
            eachRow([&](auto& row) { row.erase(row.begin() + c); });
        },
        [&] {
            t.reorderColumns(c, n);
            if (!colIn(c) || !colIn(n)) return;
            std::swap(m.columns[c], m.columns[n]);
            eachRow([&](auto& row) { std::swap(row[c], row[n]); });
        },
        [&] {
            EXPECT_EQ(t.setCellValue(r, c, text), rowIn() && colIn(c));
            if (rowIn() && colIn(c)) m.cells[r][c] = text;
        },
        [&] {
            t.setRowTitle(r, text);
            if (rowIn()) m.rowTitles[r] = text;
        },
        [&] {
            t.setColumnTitle(c, text);
            t.setColumnType(c, type);
            t.setColumnReadOnly(c, true);
            if (colIn(c)) m.columns[c] = {type, text, true};
        },
    };
    for (int step = 0; step < 2000; ++step) {
        r = pick(-1, m.rows());
        c = pick(-1, m.cols());
        n = pick(-1, 6);
        text = "v" + std::to_string(step);
        type = static_cast<ColumnType>(pick(0, kColumnTypeCount - 1));
        const int edit = pick(0, static_cast<int>(edits.size()) - 1);
        edits[edit]();
        ASSERT_EQ(dump(t), dump(m)) << "step " << step << ": edit " << edit << " at " << r << "," << c << ","
                                    << n;
    }
}

// Reads the model test does not make: escaped cell texts out of range leave the output alone.
TEST(TableModel, OutOfRangeAnswers) {
    DKTable t;
    std::string out = "untouched";
    EXPECT_STREQ(t.xmlCellValue(out, 0, 3), "BadCol");
    EXPECT_STREQ(t.jsonCellValue(out, 3, 0), "BadRow");
    EXPECT_EQ(out, "untouched");
    EXPECT_STREQ(t.columnTypeName(static_cast<ColumnType>(8)), "");
    EXPECT_STREQ(t.columnTypeName(static_cast<ColumnType>(-1)), "");
    EXPECT_EQ(t.columnAtIndex(7), nullptr);
}

TEST(TableModel, LookupsFoldOnlyAsciiLetters) {
    DKTable t;
    t.setNumberOfRows(2);
    t.setColumnTitle(0, "Level");
    t.setRowTitle(1, "\xC3\x89t\xC3\xA9 Level");
    EXPECT_EQ(t.findColumnNumberByName("level"), 0);
    EXPECT_EQ(t.findColumnNumberByName("Lev"), -1);
    EXPECT_EQ(t.columnWithName("level"), nullptr);  // exact
    EXPECT_EQ(t.findRowNumberByName("\xC3\x89T\xC3\xA9 LEVEL"), 1);
    EXPECT_EQ(t.findRowNumberByName("\xC3\xA9t\xC3\xA9 level"), -1);
}

TEST(TableModel, FlagsTypeAndDeepCopy) {
    DKTable t;
    t.setFlags(0x13);
    t.setTableType(0);  // type 0 sets flag 8, any other clears it
    EXPECT_EQ(t.flags(), 0x1Bu);
    t.setTableType(2);
    EXPECT_EQ(t.flags(), 0x13u);
    t.setTableName("src");
    t.setNumberOfColumns(2);
    t.setCellValue(0, 1, "cell");
    DKTable copy;
    copy.setTableId("id-copy");
    copy.copyTableData(t);
    t.setCellValue(0, 1, "changed");
    EXPECT_STREQ(copy.cellValue(0, 1), "cell");
    EXPECT_EQ(std::string(copy.tableName()) + copy.tableId(), "srcid-copy");
}

namespace {

// Logs each change it hears as "<name> <row>,<column> <old>><new>". Given a context, it then
// unregisters that context's observers of column 0 and of the whole table.
class Recorder : public TableCallback {
public:
    Recorder(std::string name, std::vector<std::string>* log, int* destroyed, const void* leave = nullptr)
        : m_name(std::move(name)), m_log(log), m_destroyed(destroyed), m_leave(leave) {}
    ~Recorder() override { ++*m_destroyed; }
    void tableChanged(TableChangeContainer& c) override {
        m_log->push_back(m_name + " " + std::to_string(c.row) + "," + std::to_string(c.column) + " " +
                         c.oldValue + ">" + c.newValue);
        if (m_leave)
            c.table->unRegisterObserver(m_leave, 0, -1), c.table->unRegisterObserver(m_leave, -1, -1);
    }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
    int* m_destroyed;
    const void* m_leave;
};

}  // namespace

TEST(TableModel, ObserversHearCellColumnThenTableAndAreOwned) {
    std::vector<std::string> log;
    int destroyed = 0, me = 0, other = 0;
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
        t.unRegisterObserver(&me, 2, -1);
        EXPECT_EQ(destroyed, 1);
        log.clear();
        t.setCellValue(4, 2, "c");
        EXPECT_EQ(log, (std::vector<std::string>{"all 4,2 b>c"}));
        // The first to hear unregisters both while the round that has yet to call the second is on.
        for (int column : {0, -1})
            t.registerObserver(std::make_unique<Recorder>("leaving", &log, &destroyed, &other), &other,
                               column, -1);
        t.setCellValue(0, 0, "x");
        t.setCellValue(0, 0, "y");
        EXPECT_EQ(log.size(), 5u);
        EXPECT_EQ(destroyed, 3);
    }
    EXPECT_EQ(destroyed, 6);  // each remaining callback once
}
