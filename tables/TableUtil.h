// Text encodings of table files and locale-independent number conversions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dk::tables {

// Replaces each `character` by `replacement`, except where the replacement already begins at
// that position (so "&" -> "&amp;" leaves an existing "&amp;" alone).
void cellSubstitute(std::string& text, char character, std::string_view replacement);

// Appends `text` with the XML entities of table files: & (unless it already begins "&amp;"),
// ', ", < and >. Used for table, row and column names.
void appendXmlText(std::string& out, std::string_view text);

// Appends a cell as it is stored inside a column text: the entities above, then a backslash
// before backslashes and commas, and \n, \r, \t for line feed, carriage return and tab.
void appendXmlCell(std::string& out, std::string_view text);

// Appends `text` as the body of a JSON string: quote, backslash and control characters are
// escaped; every other byte is copied unchanged.
void appendJsonEscaped(std::string& out, std::string_view text);

// Whether an XML parser will accept `text` as character data: well-formed UTF-8 without the
// control characters and code points XML 1.0 excludes (tab, line feed and carriage return pass).
bool isXmlCharacterData(std::string_view text);
// Where the first byte of `text` that the above refuses is; npos when there is none.
size_t firstNonXmlCharacter(std::string_view text);

// Splits a column text into its cells, undoing appendXmlCell's backslash escapes: a backslash
// takes the next character literally (\n, \r, \t give the control characters), an unescaped
// comma ends a cell. There is always at least one cell. A lone trailing backslash is kept.
template <class F>
void forEachEncodedCell(std::string_view text, F&& onCell) {
    std::string cell;
    size_t i = 0, n = text.size();
    for (;;) {
        size_t run = i;  // copy plain characters in runs
        while (run < n && text[run] != ',' && text[run] != '\\') ++run;
        cell.append(text.data() + i, run - i);
        if (run == n) break;
        if (text[run] == ',') {
            onCell(std::move(cell));
            cell.clear();
            i = run + 1;
        } else if (run + 1 < n) {
            char c = text[run + 1];
            cell += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
            i = run + 2;
        } else {
            cell += '\\';
            break;
        }
    }
    onCell(std::move(cell));
}

// Undoes appendXmlCell for a cell read from CSV, in one left-to-right pass: the entities
// &amp; &apos; &quot; &lt; &gt; and the backslash escapes (\n, \r, \t, and a backslash taking the
// next character literally). Decoding once, rather than pass after pass, keeps a decoded
// character from being read again as part of another escape ("&amp;lt;" gives "&lt;").
// A lone trailing backslash is kept.
void csvDecode(std::string& text);

// Number texts as the C library's "%d", "%u" and atoi/atof read and write them in the "C"
// locale, whatever the process locale is.
void appendInt(std::string& out, int64_t value);
void appendFixed6(std::string& out, double value);  // "%f"
// Leading decimal integer after optional white space and sign; 0 when none; saturates.
int64_t parseIntPrefix(const char* text);
// Leading decimal floating-point number; 0 when none.
double parseDoublePrefix(const char* text);

}  // namespace dk::tables
