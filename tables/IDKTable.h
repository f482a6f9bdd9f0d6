// The interface of a data table: a grid of text cells with typed, titled columns (ColumnType 0
// Undefined to 7 Sound, each with its default cell text) and titled rows. Row and column numbers start
// at 0. Out-of-range numbers are never errors: cell reads answer "BadRow" or "BadCol", other reads
// "", 0 or false, and edits change nothing. Rows and columns stop at the int limit. Observers
// (TableCallback, owned by the table) hear cell changes per cell, column or table.
// C string results point into the table and stay valid until the table changes. Numbers never
// depend on the process locale.
//
// Saves and CSV exports replace the file through plat::sys::AtomicFile (a temporary beside the
// target, fsynced and renamed), so a failed save (false, out of memory included) leaves the old file;
// text that XML cannot carry is refused rather than written unreadable. CSV carries the cells only,
// escaped as in table XML and quoted; the import reads the structure in one pass straight from the
// text (quotes pair in order; outside them commas end fields and LF, CR or CR LF end records) and
// decodes each cell once, so it is the exact inverse of the export and UTF-8 passes untouched. It
// never goes through validateCSV's marker form, whose 0xB0/0xB1 bytes occur inside UTF-8 characters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tables/TableCallback.h"
#include "tables/TableColumn.h"
#include "tables/TableTypes.h"

namespace dk::tables {

inline constexpr const char* kBadRow = "BadRow";
inline constexpr const char* kBadCol = "BadCol";

}  // namespace dk::tables

class IDKTable {
public:
    virtual ~IDKTable() = default;

    // Observers: (column, row) hears one cell, (column, -1) a whole column, (-1, -1) every cell.
    // The table owns the callback.
    virtual void registerObserver(std::unique_ptr<dk::tables::TableCallback> callback, const void* context,
                                  int column, int row) = 0;
    virtual void unRegisterObserver(const void* context, int column, int row) = 0;

    virtual dk::tables::TableColumn* columnAtIndex(int column) = 0;
    virtual const dk::tables::TableColumn* columnAtIndex(int column) const = 0;
    virtual dk::tables::TableColumn* columnWithName(const std::string& name) = 0;
    virtual void addColumnAtIndex(int position, dk::tables::TableColumn column) = 0;
    virtual void removeColumnAtIndex(int column) = 0;
    virtual int addRowAtIndex(int position) = 0;
    virtual void removeRowAtIndex(int row) = 0;
    virtual void reorderColumns(int a, int b) = 0;
    virtual bool columnReadOnly(int column) const = 0;
    virtual void setColumnReadOnly(int column, bool readOnly) = 0;

    // Table XML files; `json` saves the JSON export instead. An empty path saves to the path of
    // the last load. Both answer false on failure; a failed save leaves the old file as it was.
    // An XML save fails when a text holds what XML cannot carry (control characters other than
    // tab, line feed and carriage return, or malformed UTF-8), since the file could not be read.
    virtual bool loadTable(const std::string& path) = 0;
    virtual bool saveTable(const std::string& path, bool json) = 0;
    virtual void copyTableData(const IDKTable& other) = 0;

    virtual int numberOfRows() const = 0;
    virtual int numberOfColumns() const = 0;
    virtual void setNumberOfRows(int count) = 0;
    virtual void setNumberOfColumns(int count) = 0;
    virtual void reset() = 0;

    virtual const char* cellValue(int row, int column) const = 0;
    virtual const char* jsonCellValue(std::string& out, int row, int column) const = 0;
    virtual const char* xmlCellValue(std::string& out, int row, int column) const = 0;
    virtual bool setCellValue(int row, int column, const std::string& value) = 0;

    virtual dk::tables::ColumnType columnType(int column) const = 0;
    virtual void setColumnType(int column, dk::tables::ColumnType type) = 0;
    virtual const char* columnTitle(int column) const = 0;
    virtual void setColumnTitle(int column, const std::string& name) = 0;
    virtual const char* rowTitle(int row) const = 0;
    virtual void setRowTitle(int row, const std::string& title) = 0;
    // Case-insensitive (ASCII letters) look-ups; -1 when nothing matches.
    virtual int findRowNumberByName(const std::string& title) const = 0;
    virtual int findColumnNumberByName(const std::string& name) const = 0;

    virtual void setTableName(const std::string& name) = 0;
    virtual const char* tableName() const = 0;
    virtual void setTableId(const std::string& identifier) = 0;
    virtual const char* tableId() const = 0;
    virtual uint32_t flags() const = 0;
    virtual void setFlags(uint32_t flags) = 0;
    virtual dk::tables::TableType tableType() const = 0;
    virtual void setTableType(dk::tables::TableType type) = 0;

    virtual const char* columnTypeName(dk::tables::ColumnType type) const = 0;
    // The table as XML or JSON text, valid until the next such call on this table.
    virtual const char* getFileStream() = 0;
    virtual const char* getFileStreamJSON() = 0;

    // Comma-separated text: the cells only (no names, types or titles), each escaped as in table
    // XML and quoted, empty cells written as their column type's default text.
    // importCSV replaces the whole grid, even with an empty text; afterwards every column is of
    // type 0 without a name and every row has an empty title. Outside double-quoted spans a comma
    // ends a field and a line end (LF, CR or CR LF) a record; inside them both are kept, a line
    // end as one CR. A field that begins with a quote loses its first and last character.
    virtual void importCSV(const std::string& text) = 0;
    // Reads the file (up to its first zero byte) and imports it; false, and the table unchanged,
    // when the file cannot be read.
    virtual bool loadCSV(const std::string& path) = 0;
    // Writes the cells to the file, replacing it only once the whole text is written; false, and
    // the old file as it was, on failure.
    virtual bool exportCSV(const std::string& path) = 0;
};
