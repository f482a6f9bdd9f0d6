#include "tables/TablesXML.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/sys/AtomicFile.h"
#include "platform/sys/WholeFile.h"
#include "tables/TableUtil.h"

namespace dk::tables {

namespace {

constexpr size_t kChunkSize = 4096;

void startElementHandler(void* userData, const XML_Char* name, const XML_Char** attributes) {
    static_cast<TablesXML*>(userData)->startElement(name, attributes);
}

void endElementHandler(void* userData, const XML_Char*) {
    static_cast<TablesXML*>(userData)->endElement();
}

void textHandler(void* userData, const XML_Char* text, int length) {
    static_cast<TablesXML*>(userData)->handleText(text, length);
}

// Attributes are read the way atoi reads them: the value is truncated to the field's width.
int toInt(const char* value) {
    return static_cast<int>(parseIntPrefix(value));
}

void appendAttribute(std::string& field, const char* value) {
    if (field.empty())
        field = value;
    else
        field += value;
}

void printParseError(const char* error, unsigned long line, const std::string& path) {
    char message[255];  // at most 254 characters, as the message has always been cut
    std::snprintf(message, sizeof message, kTableParserErrorFormat, error, line, path.c_str());
    std::puts(message);
}

// Every row and every cell of a table file costs at least one byte of it (a row element, a comma
// between cells), so counts larger than the file are forged. Taken as they stand, they would make
// every later save write all those rows out.
bool countsFit(const Table& table, uint64_t bytes) {
    const auto rows = static_cast<uint64_t>(std::max(table.numRows, 0));
    const auto columns = static_cast<uint64_t>(std::max(table.numCols, 0));
    return rows <= bytes && columns <= bytes && rows * columns <= bytes;
}

XML_Parser newParser(TablesXML* owner) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) return nullptr;
    XML_SetElementHandler(parser, startElementHandler, endElementHandler);
    XML_SetUserData(parser, owner);
    XML_SetCharacterDataHandler(parser, textHandler);
    return parser;
}

void appendIndent(std::string& out, int spaces) {
    out.append(static_cast<size_t>(spaces), ' ');
}

}  // namespace

TablesXML::TablesXML()
    : m_tagCodes{{"table", Tag::Table},
                 {"columns", Tag::Columns},
                 {"rows", Tag::Rows},
                 {"column", Tag::Column},
                 {"row", Tag::Row}} {
    m_converters.push_back(std::make_unique<ConversionFromZeroToOne>());
}

void TablesXML::beginParse() {
    m_depth = 0;
    m_currentTag = Tag::None;
    m_currentTagName.clear();
    m_table = Table();
}

void TablesXML::startElement(const char* name, const char** attributes) {
    ++m_depth;
    m_currentTagName = name;
    auto code = m_tagCodes.find(m_currentTagName);
    m_currentTag = code == m_tagCodes.end() ? Tag::None : code->second;

    if (m_currentTag == Tag::Table && m_depth == 1) {
        m_tableLine = m_parser ? static_cast<unsigned long>(XML_GetCurrentLineNumber(m_parser)) : 0;
        for (const char** a = attributes; a[0]; a += 2) {
            std::string_view key = a[0];
            const char* value = a[1];
            if (key == "version")
                m_table.version = parseDoublePrefix(value);
            else if (key == "name")
                appendAttribute(m_table.name, value);
            else if (key == "numRows")
                m_table.numRows = toInt(value);
            else if (key == "numCols")
                m_table.numCols = toInt(value);
            else if (key == "flags")
                m_table.flags = static_cast<uint32_t>(parseIntPrefix(value));
            else if (key == "tableType")
                m_table.tableType = static_cast<TableType>(parseIntPrefix(value));
        }
    } else if (m_currentTag == Tag::Row && m_depth == 3) {
        Row row;
        for (const char** a = attributes; a[0]; a += 2) {
            std::string_view key = a[0];
            if (key == "id")
                row.id = toInt(a[1]);
            else if (key == "name")
                appendAttribute(row.name, a[1]);
        }
        m_table.rows.push_back(std::move(row));
    } else if (m_currentTag == Tag::Column && m_depth == 3) {
        Column column;
        for (const char** a = attributes; a[0]; a += 2) {
            std::string_view key = a[0];
            if (key == "id")
                column.id = toInt(a[1]);
            else if (key == "name")
                appendAttribute(column.name, a[1]);
            else if (key == "type")
                column.type = toInt(a[1]);
            else if (key == "readonly")
                column.readonly = toInt(a[1]) != 0 ? 1 : 0;
        }
        m_table.columns.push_back(std::move(column));
    }
}

void TablesXML::handleText(const char* text, int length) {
    if (m_depth == 3 && m_currentTag == Tag::Column && !m_table.columns.empty())
        m_table.columns.back().text.append(text, static_cast<size_t>(length));
}

bool TablesXML::initWithFile(std::string path) {
    beginParse();
    FILE* file = plat::sys::openRegularFile(path);  // a FIFO would hold the open for ever
    if (!file) return false;
    XML_Parser parser = newParser(this);
    if (!parser) {
        std::fclose(file);
        return false;
    }
    // Parsed incrementally, so a large file is never held whole in memory.
    m_parser = parser;
    char buffer[kChunkSize];
    uint64_t bytes = 0;
    bool ok = true;
    for (;;) {
        size_t n = std::fread(buffer, 1, kChunkSize, file);
        bytes += n;
        if (std::ferror(file)) {
            ok = false;  // a read failure (a directory, an I/O error) is no parse error
            break;
        }
        bool final = n < kChunkSize;
        if (XML_Parse(parser, buffer, static_cast<int>(n), final) == XML_STATUS_ERROR) {
            printParseError(XML_ErrorString(XML_GetErrorCode(parser)),
                            static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)), path);
            ok = false;
            break;
        }
        if (final) break;
    }
    if (ok && !countsFit(m_table, bytes)) {
        printParseError("row and column counts larger than the file", m_tableLine, path);
        ok = false;
    }
    m_parser = nullptr;
    XML_ParserFree(parser);
    std::fclose(file);
    if (ok) convertDataByVersion();
    return ok;
}

void TablesXML::convertDataByVersion() {
    // Only the whole part of the version counts: anything below 1 (or not a number) is version 0.
    if (m_table.columns.empty() || m_table.version >= 1.0) return;
    m_converters.front()->convert(m_table);
}

std::string TablesXML::getFileStream() {
    const Table& t = m_table;
    std::string out;
    size_t size = 256;
    for (const Row& row : t.rows) size += row.name.size() + 40;
    for (const Column& column : t.columns) size += column.name.size() + column.text.size() + 80;
    out.reserve(size);

    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<table version=\"";
    appendFixed6(out, t.version);
    out += "\" name=\"";
    out += t.name;
    out += "\" numRows=\"";
    appendInt(out, t.numRows);
    out += "\" numCols=\"";
    appendInt(out, t.numCols);
    out += "\" flags=\"";
    appendInt(out, t.flags);
    out += "\" tableType=\"";
    appendInt(out, t.tableType);
    out += "\">\n    <rows>\n";
    for (const Row& row : t.rows) {
        out += "        <row id=\"";
        appendInt(out, row.id);
        out += "\" name=\"";
        out += row.name;
        out += "\"/>\n";
    }
    out += "    </rows>\n    <columns>\n";
    for (const Column& column : t.columns) {
        out += "        <column id=\"";
        appendInt(out, column.id);
        out += "\" name=\"";
        out += column.name;
        out += "\" type=\"";
        appendInt(out, column.type);
        out += "\" readonly=\"";
        appendInt(out, column.readonly);
        out += "\">";
        out += column.text;
        out += "</column>\n";
    }
    out += "    </columns>\n</table>\n";
    return out;
}

std::string TablesXML::getFileStreamJSON() {
    const Table& t = m_table;
    std::string out;
    size_t size = 512;
    for (const Row& row : t.rows) size += row.name.size() + 100;
    for (const Column& column : t.columns) size += column.name.size() + column.text.size() + 200;
    out.reserve(size);

    // Numbers print as "%d" always, so flag words of 2^31 and above come out negative.
    auto field = [&out](int indent, const char* head, const std::string& value, const char* tail) {
        appendIndent(out, indent);
        out += head;
        out += value;
        out += tail;
    };
    auto number = [](int64_t v) {
        std::string s;
        appendInt(s, v);
        return s;
    };
    out += "{\n";
    field(3, "\"version\": \"", "0.1", "\",\n");
    field(3, "\"id\": \"", "0", "\",\n");
    field(3, "\"name\": \"", t.name, "\",\n");
    field(3, "\"numRows\": \"", number(t.numRows), "\",\n");
    field(3, "\"numCols\": \"", number(t.numCols), "\",\n");
    field(3, "\"flags\": \"", number(static_cast<int32_t>(t.flags)), "\",\n");
    field(3, "\"tableType\": \"", number(static_cast<int32_t>(t.tableType)), "\",\n");
    out +=
        "   \"_type\":\"table\",\n"
        "   \"_children\": [\n"
        "       {\n"
        "           \"_type\": \"rows\",\n"
        "           \"_children\": [\n";
    for (size_t i = 0; i < t.rows.size(); ++i) {
        const Row& row = t.rows[i];
        out +=
            "               {\n"
            "                   \"_type\": \"row\",\n";
        field(19, "\"id\": \"", number(row.id), "\",\n");
        field(19, "\"name\":\"", row.name, "\"\n");
        out += i + 1 < t.rows.size() ? "               },\n" : "               }\n";
    }
    out +=
        "           ]\n"
        "       },\n"
        "       {\n"
        "           \"_type\": \"columns\",\n"
        "           \"_children\":[\n";
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const Column& column = t.columns[i];
        out += "               {\n";
        field(19, "\"_text\":[", column.text, "],\n");
        out += "                   \"_type\":\"column\",\n";
        field(19, "\"id\":\"", number(column.id), "\",\n");
        field(19, "\"name\":\"", column.name, "\",\n");
        field(19, "\"type\":\"", number(column.type), "\",\n");
        field(19, "\"readonly\":\"", number(column.readonly), "\"\n");
        out += i + 1 < t.columns.size() ? "               },\n" : "               }\n";
    }
    out +=
        "           ]\n"
        "       }\n"
        "   ]\n"
        "}\n";
    return out;
}

unsigned long TablesXML::writeFileOut(std::string path, bool json) {
    std::string text = json ? getFileStreamJSON() : getFileStream();
    // A text that no XML parser accepts would replace a readable file with an unreadable one.
    if (!json && !isXmlCharacterData(text)) return 0;
    return plat::sys::writeFileAtomically(path, text) ? text.size() : 0;
}

namespace {

// Reads a text the way an input string stream is read with getline(stream, piece, delimiter).
class TokenReader {
public:
    explicit TokenReader(std::string_view text) : m_text(text) {}
    // Up to the delimiter (consumed) or the end; nothing when the end was already reached.
    std::optional<std::string> readUntil(char delimiter) {
        if (m_pos >= m_text.size()) return std::nullopt;
        size_t end = m_text.find(delimiter, m_pos);
        if (end == std::string_view::npos) end = m_text.size();
        std::string piece(m_text.substr(m_pos, end - m_pos));
        m_pos = end < m_text.size() ? end + 1 : end;
        return piece;
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

}  // namespace

void ConversionFromZeroToOne::convert(Table& table) {
    for (Column& column : table.columns) {
        grabTokens(column.text, column.type);
        convertTokens(column.text);
    }
}

void ConversionFromZeroToOne::grabTokens(const std::string& text, int type) {
    m_tokens.clear();
    TokenReader reader(text);
    while (auto read = reader.readUntil(',')) {
        std::string token = std::move(*read);
        if (!token.empty() && token.front() == '"') {
            if (token.find_first_of("\r\n") == std::string::npos) {
                // A quoted cell that held commas: gather the rest of it up to its closing quote.
                token += ',';
                token += reader.readUntil('"').value_or("");
                token.erase(0, 1);
                reader.readUntil(',');
            } else {
                token.erase(0, 1);
                if (!token.empty() && token.back() == '"') token.pop_back();
            }
        }
        if (token.empty() || token == " ") token = defaultCellText(type);
        m_tokens.push_back(std::move(token));
    }
}

void ConversionFromZeroToOne::convertTokens(std::string& text) {
    text.clear();
    for (size_t i = 0; i < m_tokens.size(); ++i) {
        std::string& token = m_tokens[i];
        if (!token.empty()) {
            cellSubstitute(token, '&', "&amp;");
            cellSubstitute(token, ',', "\\,");
            cellSubstitute(token, '\n', "\\n");
            cellSubstitute(token, '\r', "\\r");
        }
        if (i > 0) text += ',';
        text += token;
    }
}

}  // namespace dk::tables
