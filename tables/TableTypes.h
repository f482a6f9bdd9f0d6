// Basic types shared by the table model and its file formats.
#pragma once

#include <cstdint>

namespace dk::tables {

// The kind of a column. Values are stored and written as signed 32-bit integers; a value
// outside 0..7 (a column without "type" attribute reads as -1) is kept as it is.
enum ColumnType : int32_t {
    Undefined = 0,
    Text = 1,
    Integer = 2,
    Real = 3,
    Boolean = 4,
    Angle = 5,
    Image = 6,
    Sound = 7,
};

// The table's kind: kept and written, never interpreted here.
using TableType = uint32_t;

inline constexpr int kColumnTypeCount = 8;

// What an empty cell of a column type stands for when a table is written or grown.
inline constexpr const char* kDefaultCellTexts[kColumnTypeCount] = {"", "", "0", "0", "False", "0", "", ""};

inline const char* defaultCellText(int type) {
    return (type >= 0 && type < kColumnTypeCount) ? kDefaultCellTexts[type] : "";
}

}  // namespace dk::tables
