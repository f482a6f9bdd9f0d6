#include "tables/DKTable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "tables/TableUtil.h"

using namespace dk::tables;

namespace {

const char* const kTypeNames[kColumnTypeCount] = {"Undefined", "Text",  "Integer", "Real",
                                                  "Boolean",   "Angle", "Image",   "Sound"};

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// A cell that is empty or a single space stands for its column type's default text.
bool isBlankCell(const std::string& text) {
    return text.empty() || text == " ";
}

}  // namespace

DKTable::DKTable() {
    for (int type = 0; type < kColumnTypeCount; ++type)
        m_typeNames[static_cast<ColumnType>(type)] = kTypeNames[type];
    reset();
}

DKTable::~DKTable() = default;

void DKTable::reset() {
    m_numRows = 1;
    m_numCols = 1;
    m_columns.clear();
    m_rowTitles.clear();
    m_columns.emplace(0, TableColumn());
    m_rowTitles.insert_or_assign(0, std::string());
}

// ---- observers

void DKTable::registerObserver(std::unique_ptr<TableCallback> callback, const void* context, int column,
                               int row) {
    m_observers.emplace(
        column, CallbackReference{column, row, std::shared_ptr<TableCallback>(std::move(callback)), context});
}

void DKTable::unRegisterObserver(const void* context, int column, int row) {
    auto [it, end] = m_observers.equal_range(column);
    while (it != end) {
        const CallbackReference& ref = it->second;
        if (ref.row == row && ref.context == context && ref.callback)
            it = m_observers.erase(it);
        else
            ++it;
    }
}

std::vector<CallbackReference> DKTable::findObservers(int column, int row) const {
    std::vector<CallbackReference> found;
    auto [it, end] = m_observers.equal_range(column);
    for (; it != end; ++it)
        if (it->second.row == row) found.push_back(it->second);
    return found;
}

void DKTable::callObservers(const std::vector<CallbackReference>& entries, const std::string& oldValue,
                            const std::string& newValue, int row, int column) {
    for (const CallbackReference& ref : entries) {
        if (!ref.callback) continue;
        TableChangeContainer change{this, column, row, oldValue, newValue};
        ref.callback->tableChanged(change);
    }
}

// ---- columns

TableColumn* DKTable::columnAtIndex(int column) {
    auto it = m_columns.find(column);
    return it == m_columns.end() ? nullptr : &it->second;
}

const TableColumn* DKTable::columnAtIndex(int column) const {
    auto it = m_columns.find(column);
    return it == m_columns.end() ? nullptr : &it->second;
}

TableColumn* DKTable::columnWithName(const std::string& name) {
    for (auto& [index, column] : m_columns)
        if (column.name() == name) return &column;
    return nullptr;
}

void DKTable::addColumnAtIndex(int position, TableColumn column) {
    if (position < 0 || position > m_numCols || m_numCols == INT_MAX) return;
    // A position without a column entry takes the new column without moving the others.
    if (m_columns.count(position)) shiftKeysUp(m_columns, position);
    m_columns.insert_or_assign(position, std::move(column));
    ++m_numCols;
}

void DKTable::removeColumnAtIndex(int column) {
    if (!columnInRange(column) || !m_columns.erase(column)) return;
    shiftKeysDown(m_columns, column);
    --m_numCols;
}

void DKTable::reorderColumns(int a, int b) {
    if (!columnInRange(a) || !columnInRange(b) || a == b) return;
    std::swap(m_columns[a], m_columns[b]);
}

bool DKTable::columnReadOnly(int column) const {
    const TableColumn* c = columnAtIndex(column);
    return c && c->readOnly();
}

void DKTable::setColumnReadOnly(int column, bool readOnly) {
    if (TableColumn* c = columnAtIndex(column)) c->setReadOnly(readOnly);
}

ColumnType DKTable::columnType(int column) const {
    const TableColumn* c = columnAtIndex(column);
    return c ? c->columnType() : Undefined;
}

void DKTable::setColumnType(int column, ColumnType type) {
    if (TableColumn* c = columnAtIndex(column)) c->setColumnType(type);
}

const char* DKTable::columnTitle(int column) const {
    const TableColumn* c = columnAtIndex(column);
    return c ? c->columnName() : "";
}

void DKTable::setColumnTitle(int column, const std::string& name) {
    if (TableColumn* c = columnAtIndex(column)) c->setColumnName(name);
}

int DKTable::findColumnNumberByName(const std::string& name) const {
    for (const auto& [index, column] : m_columns)
        if (equalsIgnoringAsciiCase(column.name(), name)) return index;
    return -1;
}

const char* DKTable::columnTypeName(ColumnType type) const {
    auto it = m_typeNames.find(type);
    return it == m_typeNames.end() ? "" : it->second.c_str();
}

void DKTable::setNumberOfColumns(int count) {
    if (count < 0) return;  // outside the model: ignored rather than corrupting the counts
    if (count > m_numCols) {
        for (int k = m_numCols; k < count; ++k) m_columns.insert_or_assign(m_columns.end(), k, TableColumn());
    } else {
        m_columns.erase(m_columns.lower_bound(count), m_columns.end());
    }
    m_numCols = count;
}

// ---- rows

int DKTable::addRowAtIndex(int position) {
    if (position < 0 || position > m_numRows || m_numRows == INT_MAX) return m_numRows;
    for (auto& [index, column] : m_columns) column.addCellAtRowIndex(position);
    m_rowTitles.shiftUp(position);
    m_rowTitles.insert_or_assign(position, std::string());
    return ++m_numRows;
}

void DKTable::removeRowAtIndex(int row) {
    if (!rowInRange(row)) return;
    for (auto& [index, column] : m_columns) column.removeCellAtRowIndex(row);
    m_rowTitles.erase(row);
    m_rowTitles.shiftDown(row);
    --m_numRows;
    m_rowTitles.erase(m_numRows);
}

void DKTable::setNumberOfRows(int count) {
    if (count < 0) return;  // outside the model: ignored rather than corrupting the counts
    if (count > m_numRows) {
        for (auto& [index, column] : m_columns) {
            const char* text = defaultCellText(column.columnType());
            if (!*text) continue;  // an empty cell reads the same as no cell
            auto& cells = column.cells();
            for (int r = m_numRows; r < count; ++r) cells.insert_or_assign(r, TableCell(text));
        }
    } else {
        for (auto& [index, column] : m_columns) {
            column.cells().eraseFrom(count);
        }
        m_rowTitles.eraseFrom(count);
    }
    m_numRows = count;
}

const char* DKTable::rowTitle(int row) const {
    auto it = m_rowTitles.find(row);
    return it == m_rowTitles.end() ? "" : it->second.c_str();
}

// Titles are kept only for the rows given one (or inserted): a row without an entry has the
// empty title, so that a table of many rows costs nothing per row.
void DKTable::setRowTitle(int row, const std::string& title) {
    if (rowInRange(row)) m_rowTitles.insert_or_assign(row, title);
}

int DKTable::findRowNumberByName(const std::string& title) const {
    int untitled = 0;  // the first row that may have no entry
    for (const auto& [index, candidate] : m_rowTitles) {
        if (title.empty() && index > untitled) return untitled;
        if (equalsIgnoringAsciiCase(candidate, title)) return index;
        untitled = index + 1;
    }
    return title.empty() && untitled < m_numRows ? untitled : -1;
}

// ---- cells

const char* DKTable::cellValue(int row, int column) const {
    if (!rowInRange(row)) return kBadRow;
    if (!columnInRange(column)) return kBadCol;
    const TableColumn* c = columnAtIndex(column);
    const TableCell* cell = c ? c->findCell(row) : nullptr;
    return cell ? cell->value() : "";
}

const char* DKTable::jsonCellValue(std::string& out, int row, int column) const {
    if (!rowInRange(row)) return kBadRow;
    if (!columnInRange(column)) return kBadCol;
    const TableColumn* c = columnAtIndex(column);
    const TableCell* cell = c ? c->findCell(row) : nullptr;
    if (cell)
        cell->jsonEscapedValue(out);
    else
        out.clear();
    return out.c_str();
}

const char* DKTable::xmlCellValue(std::string& out, int row, int column) const {
    if (!rowInRange(row)) return kBadRow;
    if (!columnInRange(column)) return kBadCol;
    const TableColumn* c = columnAtIndex(column);
    const TableCell* cell = c ? c->findCell(row) : nullptr;
    if (cell)
        cell->xmlEscapedValue(out);
    else
        out.clear();
    return out.c_str();
}

bool DKTable::setCellValue(int row, int column, const std::string& value) {
    if (!rowInRange(row) || !columnInRange(column)) return false;
    TableCell& cell = m_columns[column].cellAtRowIndex(row);
    std::string oldValue = cell.text();
    cell.setValue(value);
    if (m_observers.empty()) return true;
    // All three lists are gathered before anyone is called, so observers that change the
    // registrations do not change who hears this change.
    auto cellObservers = findObservers(column, row);
    auto columnObservers = findObservers(column, -1);
    auto tableObservers = findObservers(-1, -1);
    callObservers(cellObservers, oldValue, value, row, column);
    callObservers(columnObservers, oldValue, value, row, column);
    callObservers(tableObservers, oldValue, value, row, column);
    return true;
}

// ---- whole table

void DKTable::setTableType(TableType type) {
    m_tableType = type;
    if (type == 0)
        m_flags |= 8u;
    else
        m_flags &= ~8u;
}

void DKTable::copyTableData(const IDKTable& other) {
    if (&other == this) return;
    m_numRows = other.numberOfRows();
    m_numCols = other.numberOfColumns();
    m_tableName = other.tableName();
    m_flags = other.flags();
    m_tableType = other.tableType();
    if (auto* table = dynamic_cast<const DKTable*>(&other)) {
        m_columns = table->m_columns;
        m_rowTitles = table->m_rowTitles;
        return;
    }
    m_columns.clear();
    m_rowTitles.clear();
    for (int k = 0; k < m_numCols; ++k)
        if (const TableColumn* c = other.columnAtIndex(k)) m_columns.emplace_hint(m_columns.end(), k, *c);
    for (int r = 0; r < m_numRows; ++r) m_rowTitles.insert_or_assign(r, other.rowTitle(r));
}

// ---- files

void DKTable::initTableParser(TablesXML& parser, bool json) const {
    Table& record = parser.getTable();
    record.numRows = m_numRows;
    record.numCols = m_numCols;
    record.flags = m_flags;
    record.tableType = m_tableType;
    // Names go into attributes (XML) or strings (JSON) and are escaped for each.
    auto encodeName = [json](const std::string& name) {
        std::string out;
        if (json)
            appendJsonEscaped(out, name);
        else
            appendXmlText(out, name);
        return out;
    };
    record.name = encodeName(m_tableName);

    record.rows.clear();
    record.rows.reserve(static_cast<size_t>(m_numRows));
    auto title = m_rowTitles.begin();
    for (int r = 0; r < m_numRows; ++r) {
        while (title != m_rowTitles.end() && title->first < r) ++title;
        bool has = title != m_rowTitles.end() && title->first == r;
        record.rows.push_back(Row{r, has ? encodeName(title->second) : std::string()});
    }

    record.columns.clear();
    record.columns.reserve(static_cast<size_t>(m_numCols));
    static const TableColumn kEmptyColumn;
    for (int k = 0; k < m_numCols; ++k) {
        const TableColumn* column = columnAtIndex(k);
        if (!column) column = &kEmptyColumn;
        Column& out = record.columns.emplace_back();
        out.id = k;
        out.name = encodeName(column->name());
        out.type = column->columnType();
        out.readonly = column->readOnly() ? 1 : 0;
        const char* defaultText = defaultCellText(column->columnType());
        const auto& cells = column->cells();
        auto cell = cells.begin();
        // Cells are visited in row order with one cursor: no look-up per cell.
        for (int r = 0; r < m_numRows; ++r) {
            while (cell != cells.end() && cell->first < r) ++cell;
            const std::string* text =
                (cell != cells.end() && cell->first == r) ? &cell->second.text() : nullptr;
            if (r > 0) out.text += ',';
            if (json) out.text += '"';
            if (!text || isBlankCell(*text))
                out.text += defaultText;
            else if (json)
                appendJsonEscaped(out.text, *text);
            else
                appendXmlCell(out.text, *text);
            if (json) out.text += '"';
        }
    }
}

const char* DKTable::getFileStream() {
    auto parser = createParser();
    initTableParser(*parser, false);
    m_lastStream = parser->getFileStream();
    return m_lastStream.c_str();
}

const char* DKTable::getFileStreamJSON() {
    auto parser = createParser();
    initTableParser(*parser, true);
    m_lastStream = parser->getFileStreamJSON();
    return m_lastStream.c_str();
}

namespace {

// What the first byte no XML parser reads in `text` is, or nothing when there is none.
std::string refusedByte(std::string_view text) {
    const size_t at = firstNonXmlCharacter(text);
    if (at == std::string_view::npos) return {};
    const auto byte = static_cast<unsigned char>(text[at]);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", byte);
    return byte == 0     ? std::string("a NUL")
           : byte < 0x20 ? std::string("a control byte (") + hex + ")"
                         : std::string("a byte that is not UTF-8 (") + hex + ")";
}

}  // namespace

// Where the text an XML file cannot hold is, and what it is: the first name or cell holding it.
std::string DKTable::unwritableText() const {
    std::string why = refusedByte(m_tableName);
    if (!why.empty()) return "its name holds " + why;
    for (const auto& [row, title] : m_rowTitles)
        if (rowInRange(row) && !(why = refusedByte(title)).empty())
            return "the title of row " + std::to_string(row + 1) + " holds " + why;
    for (const auto& [index, column] : m_columns) {
        if (!columnInRange(index)) break;
        if (!(why = refusedByte(column.name())).empty())
            return "the title of column " + std::to_string(index + 1) + " holds " + why;
        for (const auto& [row, cell] : column.cells())
            if (rowInRange(row) && !(why = refusedByte(cell.text())).empty())
                return "row " + std::to_string(row + 1) + ", column " + std::to_string(index + 1) +
                       " holds " + why;
    }
    return {};
}

// A table the game keeps (its scores, say) that is not written would be lost without a word.
bool DKTable::saveTable(const std::string& path, bool json) {
    const std::string& target = path.empty() ? m_filePath : path;
    std::string why;
    // The text is built whole in memory; a table too large for that is a failed save.
    try {
        auto parser = createParser();
        initTableParser(*parser, json);
        errno = 0;
        if (parser->writeFileOut(target, json) > 0) return true;
        const int error = errno;
        if (!json) why = unwritableText();
        if (why.empty())
            why =
                target.empty() ? "no file was loaded to save it back to" : std::strerror(error ? error : EIO);
    } catch (const std::bad_alloc&) {
        why = "too large to build in memory";
    } catch (const std::length_error&) {
        why = "too large to build in memory";
    }
    std::fprintf(stderr, "DKTable: the table was not written to %s: %s\n", target.c_str(), why.c_str());
    return false;
}

bool DKTable::loadTable(const std::string& path) {
    m_filePath = path;
    auto parser = createParser();
    if (!parser->initWithFile(path)) return false;
    takeRecord(parser->getTable());
    return true;
}

void DKTable::takeRecord(Table& record) {
    reset();
    m_tableName = std::move(record.name);
    m_flags = record.flags;
    m_tableType = record.tableType;
    // Negative counts from a damaged file would make every later edit misbehave.
    m_numRows = std::max(record.numRows, 0);
    m_numCols = std::max(record.numCols, 0);

    // Files list rows in order; sort the others first so no title is inserted mid-vector.
    // Stable, so that of two rows with one id the later one wins.
    auto& rows = record.rows;
    auto byId = [](const Row& x, const Row& y) { return x.id < y.id; };
    if (!std::is_sorted(rows.begin(), rows.end(), byId)) std::stable_sort(rows.begin(), rows.end(), byId);
    for (Row& row : rows)
        if (rowInRange(row.id)) m_rowTitles.insert_or_assign(row.id, std::move(row.name));

    int k = 0;
    for (Column& columnRecord : record.columns) {
        if (k >= m_numCols) break;
        TableColumn column(static_cast<ColumnType>(columnRecord.type), std::move(columnRecord.name),
                           columnRecord.readonly != 0);
        const char* defaultText = defaultCellText(columnRecord.type);
        auto& cells = column.cells();
        const std::string& encoded = columnRecord.text;
        size_t commas = static_cast<size_t>(std::count(encoded.begin(), encoded.end(), ','));
        cells.reserve(std::min(commas + 1, static_cast<size_t>(m_numRows)));
        int r = 0;
        forEachEncodedCell(encoded, [&](std::string&& text) {
            if (r >= m_numRows) return;  // beyond the row count: never visible
            if (isBlankCell(text)) text = defaultText;
            cells.insert_or_assign(r++, TableCell(std::move(text)));
        });
        columnRecord.text = std::string();  // release as we go: the record can be large
        m_columns.insert_or_assign(k++, std::move(column));
    }
    // Only what lies inside the counts is ever visible; keep nothing else.
    m_rowTitles.eraseFrom(m_numRows);
    m_columns.erase(m_columns.lower_bound(m_numCols), m_columns.end());
}
