// The data table: columns, cells and row titles in maps keyed by number, so a sparse table
// costs only the cells it uses.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/IDKTable.h"
#include "tables/TablesXML.h"

class DKTable : public IDKTable {
public:
    DKTable();
    ~DKTable() override;
    DKTable(const DKTable&) = delete;
    DKTable& operator=(const DKTable&) = delete;

    void registerObserver(std::unique_ptr<dk::tables::TableCallback> callback, const void* context,
                          int column, int row) override;
    void unRegisterObserver(const void* context, int column, int row) override;

    dk::tables::TableColumn* columnAtIndex(int column) override;
    const dk::tables::TableColumn* columnAtIndex(int column) const override;
    dk::tables::TableColumn* columnWithName(const std::string& name) override;
    void addColumnAtIndex(int position, dk::tables::TableColumn column) override;
    void removeColumnAtIndex(int column) override;
    int addRowAtIndex(int position) override;
    void removeRowAtIndex(int row) override;
    void reorderColumns(int a, int b) override;
    bool columnReadOnly(int column) const override;
    void setColumnReadOnly(int column, bool readOnly) override;

    bool loadTable(const std::string& path) override;
    // A table that is not written is said in one line on standard error, naming the file and why
    // (for text an XML file cannot hold, the first cell or title holding it).
    bool saveTable(const std::string& path, bool json) override;
    void copyTableData(const IDKTable& other) override;

    int numberOfRows() const override { return m_numRows; }
    int numberOfColumns() const override { return m_numCols; }
    void setNumberOfRows(int count) override;
    void setNumberOfColumns(int count) override;
    void reset() override;

    const char* cellValue(int row, int column) const override;
    const char* jsonCellValue(std::string& out, int row, int column) const override;
    const char* xmlCellValue(std::string& out, int row, int column) const override;
    bool setCellValue(int row, int column, const std::string& value) override;

    dk::tables::ColumnType columnType(int column) const override;
    void setColumnType(int column, dk::tables::ColumnType type) override;
    const char* columnTitle(int column) const override;
    void setColumnTitle(int column, const std::string& name) override;
    const char* rowTitle(int row) const override;
    void setRowTitle(int row, const std::string& title) override;
    int findRowNumberByName(const std::string& title) const override;
    int findColumnNumberByName(const std::string& name) const override;

    void setTableName(const std::string& name) override { m_tableName = name; }
    const char* tableName() const override { return m_tableName.c_str(); }
    void setTableId(const std::string& identifier) override { m_tableId = identifier; }
    const char* tableId() const override { return m_tableId.c_str(); }
    uint32_t flags() const override { return m_flags; }
    void setFlags(uint32_t flags) override { m_flags = flags; }
    dk::tables::TableType tableType() const override { return m_tableType; }
    void setTableType(dk::tables::TableType type) override;

    const char* columnTypeName(dk::tables::ColumnType type) const override;
    const char* getFileStream() override;
    const char* getFileStreamJSON() override;

    void importCSV(const std::string& text) override;
    bool loadCSV(const std::string& path) override;
    bool exportCSV(const std::string& path) override;
    // The text as the import splits it: 0xB0 after each field, 0xB1 after each record, line ends
    // inside quotes as one CR. Only for looking at: a text's own 0xB0 and 0xB1 bytes (parts of
    // UTF-8 characters such as the degree sign) look the same here, which is why the import
    // reads the structure directly and never parses this form.
    static std::string validateCSV(std::string_view text);

    // The path of the last load: where an empty path saves to.
    const std::string& filePath() const { return m_filePath; }

    std::unique_ptr<dk::tables::TablesXML> createParser() const {
        return std::make_unique<dk::tables::TablesXML>();
    }
    void initTableParser(dk::tables::TablesXML& parser, bool json) const;
    std::vector<dk::tables::CallbackReference> findObservers(int column, int row) const;
    void callObservers(const std::vector<dk::tables::CallbackReference>& entries, const std::string& oldValue,
                       const std::string& newValue, int row, int column);

private:
    bool rowInRange(int row) const { return row >= 0 && row < m_numRows; }
    bool columnInRange(int column) const { return column >= 0 && column < m_numCols; }
    // Copies a loaded record into the table; entries outside the counts are dropped.
    void takeRecord(dk::tables::Table& record);
    // What keeps the table out of an XML file (the first cell or title with a byte none reads).
    std::string unwritableText() const;

    int m_numRows = 1;
    int m_numCols = 1;
    std::string m_filePath;
    std::string m_tableName;
    std::string m_tableId;
    std::map<int, dk::tables::TableColumn> m_columns;
    dk::tables::FlatIntMap<std::string> m_rowTitles;
    std::map<dk::tables::ColumnType, std::string> m_typeNames;
    std::string m_lastStream;
    uint32_t m_flags = 0;
    dk::tables::TableType m_tableType = 0;
    std::multimap<int, dk::tables::CallbackReference> m_observers;
};
