// The in-memory table: grid edits against a plain reference model, out-of-range answers,
// look-ups and observers.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tables/DKTable.h"

using namespace dk::tables;

namespace dktest {
namespace {

// What a table should hold: plain vectors, edited by the documented rules, read like a table
// (out of range: "BadRow" before "BadCol", empty titles, type 0, writable).
struct Model {
    struct Column {
        ColumnType type = Undefined;
        std::string title;
        bool readOnly = false;
    };
    std::vector<std::vector<std::string>> cells{{""}};  // [row][column]
    std::vector<std::string> rowTitles{""};
    std::vector<Column> columns{Column{}};

    int numberOfRows() const { return static_cast<int>(cells.size()); }
    int numberOfColumns() const { return static_cast<int>(columns.size()); }
    bool rowIn(int r) const { return r >= 0 && r < numberOfRows(); }
    bool colIn(int c) const { return c >= 0 && c < numberOfColumns(); }
    Column column(int c) const { return colIn(c) ? columns[c] : Column{}; }
    ColumnType columnType(int c) const { return column(c).type; }
    std::string columnTitle(int c) const { return column(c).title; }
    bool columnReadOnly(int c) const { return column(c).readOnly; }
    std::string rowTitle(int r) const { return rowIn(r) ? rowTitles[r] : ""; }
    std::string cellValue(int r, int c) const {
        return !rowIn(r) ? "BadRow" : !colIn(c) ? "BadCol" : cells[r][c];
    }
};

// The whole visible state, reads one step out of range included, as one comparable text.
template <class T>
std::string dump(const T& t) {
    std::string out = std::to_string(t.numberOfRows()) + "x" + std::to_string(t.numberOfColumns()) + "\n";
    // Appended piece by piece: GCC 12 warns falsely about "text" + std::string at -O3.
    for (int c = -1; c <= t.numberOfColumns(); ++c) {
        out += std::to_string(t.columnType(c));
        out += ':';
        out += t.columnTitle(c);
        out += t.columnReadOnly(c) ? ":ro " : ":rw ";
    }
    for (int r = -1; r <= t.numberOfRows(); ++r) {
        out += '\n';
        out += t.rowTitle(r);
        out += '|';
        for (int c = -1; c <= t.numberOfColumns(); ++c) {
            out += t.cellValue(r, c);
            out += '|';
        }
    }
    return out;
}

TEST(TableModel, EditsMatchAReferenceModel) {
    std::mt19937 rng(20240611);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    DKTable t;
    Model m;
    // Positions run one past each end, so out-of-range edits are tried as often as the others.
    int r = 0, c = 0, n = 0;
    std::string text;
    ColumnType type = Undefined;
    auto eachRow = [&](auto f) {
        for (auto& row : m.cells) f(row);
    };
    const std::vector<std::function<void()>> edits = {
        [&] {
            EXPECT_EQ(t.addRowAtIndex(r),
                      r >= 0 && r <= m.numberOfRows() ? m.numberOfRows() + 1 : m.numberOfRows());
            if (r < 0 || r > m.numberOfRows()) return;
            m.cells.insert(m.cells.begin() + r, std::vector<std::string>(m.numberOfColumns()));
            m.rowTitles.insert(m.rowTitles.begin() + r, "");
        },
        [&] {
            t.removeRowAtIndex(r);
            if (m.rowIn(r)) m.cells.erase(m.cells.begin() + r), m.rowTitles.erase(m.rowTitles.begin() + r);
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
            if (c < 0 || c > m.numberOfColumns()) return;
            m.columns.insert(m.columns.begin() + c, Model::Column{type, text, n % 2 != 0});
            eachRow([&](auto& row) { row.insert(row.begin() + c, ""); });
        },
        [&] {
            t.removeColumnAtIndex(c);
            if (!m.colIn(c)) return;
            m.columns.erase(m.columns.begin() + c);
            eachRow([&](auto& row) { row.erase(row.begin() + c); });
        },
        [&] {
            t.reorderColumns(c, n);
            if (!m.colIn(c) || !m.colIn(n)) return;
            std::swap(m.columns[c], m.columns[n]);
            eachRow([&](auto& row) { std::swap(row[c], row[n]); });
        },
        [&] {
            EXPECT_EQ(t.setCellValue(r, c, text), m.rowIn(r) && m.colIn(c));
            if (m.rowIn(r) && m.colIn(c)) m.cells[r][c] = text;
        },
        [&] {
            t.setRowTitle(r, text);
            if (m.rowIn(r)) m.rowTitles[r] = text;
        },
        [&] {
            t.setColumnTitle(c, text);
            t.setColumnType(c, type);
            t.setColumnReadOnly(c, true);
            if (m.colIn(c)) m.columns[c] = {type, text, true};
        },
    };
    for (int step = 0; step < 2000; ++step) {
        r = pick(-1, m.numberOfRows());
        c = pick(-1, m.numberOfColumns());
        n = pick(-1, 6);
        text = 'v' + std::to_string(step);
        type = static_cast<ColumnType>(pick(0, kColumnTypeCount - 1));
        const int edit = pick(0, static_cast<int>(edits.size()) - 1);
        edits[edit]();
        ASSERT_EQ(dump(t), dump(m)) << "step " << step << ": edit " << edit << " at " << r << "," << c << ","
                                    << n;
    }
}

// Reads the model test does not make: escaped cell texts out of range leave the output alone;
// look-ups fold ASCII letters only.
TEST(TableModel, OutOfRangeAnswersAndLookups) {
    DKTable t;
    std::string out = "untouched";
    EXPECT_STREQ(t.xmlCellValue(out, 0, 3), "BadCol");
    EXPECT_STREQ(t.jsonCellValue(out, 3, 0), "BadRow");
    EXPECT_EQ(out, "untouched");
    EXPECT_STREQ(t.columnTypeName(static_cast<ColumnType>(8)), "");
    EXPECT_STREQ(t.columnTypeName(static_cast<ColumnType>(-1)), "");
    t.setNumberOfRows(2);
    t.setColumnTitle(0, "Level");
    t.setRowTitle(1, "\xC3\x89t\xC3\xA9 Level");
    EXPECT_EQ(t.findColumnNumberByName("level"), 0);
    EXPECT_EQ(t.columnWithName("level"), nullptr);  // exact
    EXPECT_EQ(t.findRowNumberByName("\xC3\x89T\xC3\xA9 LEVEL"), 1);
    EXPECT_EQ(t.findRowNumberByName("\xC3\xA9t\xC3\xA9 level"), -1);
}

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

}  // namespace
}  // namespace dktest
