// Table XML files (read with expat in 4 KB chunks, version-0 files converted; written as text) and
// the JSON export, through an intermediate record: loading fills the record from a file, saving
// fills it from a table. A file's numRows and numCols are trusted only as far as its size goes: every
// row and every cell costs at least one byte, so counts (or their product) above the file's size are
// forged and the file is refused with a "TableParser Error" line (negative counts load as 0).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "tables/TableTypes.h"

struct XML_ParserStruct;

namespace dk::tables {

struct Column {
    int id = -1;
    std::string name;
    int type = -1;
    std::string text;  // the column's cells, encoded and joined by ","
    int readonly = 0;
};

struct Row {
    int id = -1;
    std::string name;
};

struct Table {
    std::vector<Column> columns;
    std::vector<Row> rows;
    double version = 1.0;
    std::string name;
    int numRows = 1;
    int numCols = 1;
    uint32_t flags = 0;
    TableType tableType = 0;
};

enum class Tag { None, Table, Columns, Rows, Column, Row };

inline constexpr const char* kTableParserErrorFormat = "TableParser Error: %s at line %lu in %s\n";

}  // namespace dk::tables

class IDKTableParser {
public:
    virtual ~IDKTableParser() = default;
    virtual bool initWithFile(std::string path) = 0;
    virtual std::string getFileStream() = 0;
    virtual std::string getFileStreamJSON() = 0;
    // The number of bytes written; 0 when the file could not be written or the table holds text
    // that XML cannot carry (control characters, malformed UTF-8). The old file then stays.
    virtual unsigned long writeFileOut(std::string path, bool json) = 0;
    virtual dk::tables::Table& getTable() = 0;
};

// Rewrites an older file's record into the current form.
class IDKTableXMLConverter {
public:
    virtual ~IDKTableXMLConverter() = default;
    virtual void convert(dk::tables::Table& table) = 0;
};

namespace dk::tables {

// Version-0 files kept cells quoted and unescaped: each column text is re-tokenised and
// re-encoded the way version 1 stores it.
class ConversionFromZeroToOne : public ::IDKTableXMLConverter {
public:
    void convert(Table& table) override;
    void grabTokens(const std::string& text, int type);
    void convertTokens(std::string& text);

private:
    std::vector<std::string> m_tokens;
};

class TablesXML : public ::IDKTableParser {
public:
    TablesXML();
    bool initWithFile(std::string path) override;
    std::string getFileStream() override;
    std::string getFileStreamJSON() override;
    unsigned long writeFileOut(std::string path, bool json) override;
    Table& getTable() override { return m_table; }

    // Expat events, reached through the free handler functions.
    void startElement(const char* name, const char** attributes);
    void endElement() { --m_depth; }
    void handleText(const char* text, int length);

private:
    void beginParse();
    void convertDataByVersion();

    XML_ParserStruct* m_parser = nullptr;  // while a file is read
    unsigned long m_tableLine = 0;         // where the table element starts
    int m_depth = 0;
    Tag m_currentTag = Tag::None;
    std::string m_currentTagName;
    std::unordered_map<std::string, Tag> m_tagCodes;
    Table m_table;
    std::vector<std::unique_ptr<::IDKTableXMLConverter>> m_converters;
};

}  // namespace dk::tables
