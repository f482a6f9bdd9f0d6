// A column of a table: its type, title, read-only flag and the cells of the rows touched so far.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "tables/FlatIntMap.h"
#include "tables/TableCell.h"
#include "tables/TableTypes.h"

namespace dk::tables {

// Renumbering inside node maps keyed by column number: nodes are re-keyed in place, so moving
// k entries costs O(k) and never copies a value.
template <class Map>
void shiftKeysUp(Map& map, int from) {
    auto next = map.end();
    while (next != map.begin()) {
        auto it = std::prev(next);
        if (it->first < from) break;
        auto node = map.extract(it);
        node.key() += 1;
        next = map.insert(next, std::move(node));
    }
}

// Entries after `from` move one number down; the entry at `from` itself must already be gone.
template <class Map>
void shiftKeysDown(Map& map, int from) {
    for (auto it = map.upper_bound(from); it != map.end();) {
        auto next = std::next(it);
        auto node = map.extract(it);
        node.key() -= 1;
        map.insert(next, std::move(node));
        it = next;
    }
}

class TableColumn {
public:
    using Cells = FlatIntMap<TableCell>;

    TableColumn() = default;
    TableColumn(ColumnType type, std::string name, bool readOnly = false)
        : m_type(type), m_name(std::move(name)), m_readOnly(readOnly) {}

    ColumnType columnType() const { return m_type; }
    void setColumnType(ColumnType type) { m_type = type; }
    const char* columnName() const { return m_name.c_str(); }
    const std::string& name() const { return m_name; }
    void setColumnName(std::string name) { m_name = std::move(name); }
    bool readOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }

    // The cell of a row, created empty when the row has none yet.
    TableCell& cellAtRowIndex(int row) { return m_cells[row]; }
    // The cell of a row, or nullptr when the row was never touched.
    const TableCell* findCell(int row) const;
    // Cells at `row` and after move one row down; `row` gets a new empty cell.
    void addCellAtRowIndex(int row);
    // The cell at `row` goes; the cells after it move one row up.
    void removeCellAtRowIndex(int row);

    const Cells& cells() const { return m_cells; }
    Cells& cells() { return m_cells; }

private:
    ColumnType m_type = Undefined;
    std::string m_name;
    Cells m_cells;
    bool m_readOnly = false;
};

}  // namespace dk::tables
