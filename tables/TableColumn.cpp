#include "tables/TableColumn.h"

#include "tables/TableUtil.h"

namespace dk::tables {

void TableCell::xmlEscapedValue(std::string& out) const {
    out.clear();
    appendXmlCell(out, m_value);
}

void TableCell::jsonEscapedValue(std::string& out) const {
    out.clear();
    appendJsonEscaped(out, m_value);
}

const TableCell* TableColumn::findCell(int row) const {
    auto it = m_cells.find(row);
    return it == m_cells.end() ? nullptr : &it->second;
}

void TableColumn::addCellAtRowIndex(int row) {
    m_cells.shiftUp(row);
    m_cells.insert_or_assign(row, TableCell());
}

void TableColumn::removeCellAtRowIndex(int row) {
    m_cells.erase(row);
    m_cells.shiftDown(row);
}

}  // namespace dk::tables
