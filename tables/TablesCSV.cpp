// CSV import and export of a table.
#include <climits>
#include <cstdio>
#include <vector>

#include "platform/sys/AtomicFile.h"
#include "platform/sys/WholeFile.h"
#include "tables/DKTable.h"
#include "tables/TableUtil.h"

using namespace dk::tables;

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
            // Plain characters up to the next one that matters go in as one run.
            size_t run = i + 1;
            while (run < n && text[run] != '"' && text[run] != '\r' && text[run] != '\n' && text[run] != ',')
                ++run;
            field.append(text.data() + i, run - i);
            i = run - 1;
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
            if (!field.empty() && field.front() == '"') {
                field.pop_back();
                if (!field.empty()) field.erase(0, 1);
            }
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
    // Not a FIFO or a device, nor past any table (a directory, or a read error part-way, fail too).
    std::optional<std::string> whole = plat::sys::readWholeFile(path, plat::sys::kTableCap);
    if (!whole) return false;
    std::string text = std::move(*whole);
    if (size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
    importCSV(text);
    return true;
}

bool DKTable::exportCSV(const std::string& path) {
    // Rows are written across columns, so each column keeps a cursor into its cells: no look-up
    // per cell.
    struct Cursor {
        TableColumn::Cells::const_iterator next, end;
        const char* defaultText;
    };
    std::vector<Cursor> cursors;
    cursors.reserve(static_cast<size_t>(m_numCols));
    static const TableColumn kEmptyColumn;
    for (int k = 0; k < m_numCols; ++k) {
        const TableColumn* column = columnAtIndex(k);
        if (!column) column = &kEmptyColumn;
        cursors.push_back(
            {column->cells().begin(), column->cells().end(), defaultCellText(column->columnType())});
    }
    std::string out;
    for (int r = 0; r < m_numRows; ++r) {
        for (int k = 0; k < m_numCols; ++k) {
            if (k > 0) out += ',';
            Cursor& c = cursors[static_cast<size_t>(k)];
            while (c.next != c.end && c.next->first < r) ++c.next;
            const std::string* text =
                (c.next != c.end && c.next->first == r) ? &c.next->second.text() : nullptr;
            if (!text || text->empty() || *text == " ") {
                out += c.defaultText;
            } else {
                out += '"';
                appendXmlCell(out, *text);
                out += '"';
            }
        }
        out += '\n';
    }
    return plat::sys::writeFileAtomically(path, out);
}
