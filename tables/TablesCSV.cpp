// CSV import and export of a table.
#include <climits>
#include <cstdio>

#include "tables/AtomicFile.h"
#include "tables/DKTable.h"
#include "tables/TableUtil.h"

namespace dk::tables {

namespace {

// Splits CSV text into fields and records in one pass. Double quotes pair up in order of
// position and enclose quoted spans (an unpaired last quote runs to the end of the text).
// Outside a span a comma ends a field and LF, CR or CR LF ends a record; inside one both are
// field text, a line end becoming one CR. The quotes themselves stay in the field text.
// `onField(text)` is called for each field, `onRecord()` after each record's fields; a record
// whose last field is empty (an empty record, or one ending with a comma) does not report
// that field. A text that does not end with a line end gets a last record all the same.
template <class OnField, class OnRecord>
void scanCSV(std::string_view text, OnField&& onField, OnRecord&& onRecord) {
    std::string field;
    bool quoted = false;
    bool recordOpen = false;  // something was read since the last record end
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        recordOpen = true;
        if (c == '"') {
            quoted = !quoted;
            field += c;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
            if (quoted) {
                field += '\r';
                continue;
            }
            if (!field.empty()) onField(field);
            field.clear();
            onRecord();
            recordOpen = false;
        } else if (c == ',' && !quoted) {
            onField(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (recordOpen || n == 0) {
        if (!field.empty()) onField(field);
        onRecord();
    }
}

}  // namespace

std::string DKTable::validateCSV(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 1);
    auto onField = [&](const std::string& field) {
        out += field;
        out += '\xB0';
    };
    scanCSV(text, onField, [&] { out += '\xB1'; });
    return out;
}

void DKTable::importCSV(const std::string& text) {
    reset();
    int row = 0;
    int column = 0;
    scanCSV(
        text,
        [&](std::string& field) {
            if (row == INT_MAX || column == INT_MAX) return;
            if (!field.empty() && field.front() == '"')
                field = field.size() < 2 ? std::string() : field.substr(1, field.size() - 2);
            csvDecode(field);
            if (row == 0) m_columns.insert_or_assign(column, TableColumn());
            m_columns[column].cellAtRowIndex(row).setValue(std::move(field));
            ++column;
        },
        [&] {
            if (row < INT_MAX) ++row;
            column = 0;
        });
    m_numRows = row;
    m_numCols = m_columns.rbegin()->first + 1;  // reset left column 0; columns have no gaps
    for (int r = 0; r < m_numRows; ++r) m_rowTitles.insert_or_assign(r, std::string());
}

bool DKTable::loadCSV(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::string text;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    bool failed = std::ferror(file) != 0;  // a directory, or a read error part-way
    std::fclose(file);
    if (failed) return false;
    if (size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
    importCSV(text);
    return true;
}

bool DKTable::exportCSV(const std::string& path) {
    std::string out;
    std::string cell;
    for (int r = 0; r < m_numRows; ++r) {
        for (int k = 0; k < m_numCols; ++k) {
            if (k > 0) out += ',';
            xmlCellValue(cell, r, k);
            if (cell.empty() || cell == " ") {
                out += defaultCellText(columnType(k));
            } else {
                out += '"';
                out += cell;
                out += '"';
            }
        }
        out += '\n';
    }
    return writeFileAtomically(path, out);
}

}  // namespace dk::tables
