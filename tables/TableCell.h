// One cell of a table: a text, whatever the column's type.
#pragma once

#include <string>
#include <utility>

namespace dk::tables {

class TableCell {
public:
    TableCell() = default;
    explicit TableCell(std::string value) : m_value(std::move(value)) {}

    void setValue(std::string value) { m_value = std::move(value); }
    const char* value() const { return m_value.c_str(); }
    const std::string& text() const { return m_value; }

    // The cell as it travels inside a table XML column text (entities, then backslash escapes).
    void xmlEscapedValue(std::string& out) const;
    // The cell as a JSON string body (without the surrounding quotes).
    void jsonEscapedValue(std::string& out) const;

private:
    std::string m_value;
};

}  // namespace dk::tables
