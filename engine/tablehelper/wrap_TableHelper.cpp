// Scripts call these with exactly their listed arguments, read from the top of the stack, so
// extra leading arguments are ignored. The module raises no errors of its own: a call whose
// table argument is not a live table object, or whose texts are neither strings nor numbers,
// does nothing (and a read answers its empty result).
#include "engine/tablehelper/wrap_TableHelper.h"

#include <climits>
#include <cstdint>
#include <exception>
#include <string>

#include "platform/lua/LuaArgs.h"
#include "platform/lua/LuaObject.h"
#include "tables/DKTable.h"
#include "tables/TableUtil.h"

using plat::lua::argIndex;

namespace {

// Registry metatable of table objects; its __index is the method table `tableHelper.Tables`.
constexpr const char* kTableDataMT = "tableHelper.TableDataMT";

DKTable* tableArg(lua_State* L, int fromTop) {
    int index = argIndex(L, fromTop);
    if (!index) return nullptr;
    DKTable** slot = plat::lua::toSlot<DKTable>(L, index, kTableDataMT);
    return slot ? *slot : nullptr;
}

// A string or number argument as text (numbers in Lua's own text form).
bool textArg(lua_State* L, int fromTop, std::string& out) {
    int index = argIndex(L, fromTop);
    int type = index ? lua_type(L, index) : LUA_TNONE;
    if (type != LUA_TSTRING && type != LUA_TNUMBER) return false;
    size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    out.assign(text, length);
    return true;
}

// The text's leading decimal integer ("12abc" is 12, none is 0), held to the int range.
int64_t leadingNumber(const std::string& text) {
    int64_t n = dk::tables::parseIntPrefix(text.c_str());
    return n < INT_MIN ? INT_MIN : n > INT_MAX ? INT_MAX : n;
}

bool inRange(int64_t value, int count) {
    return value >= 0 && value < count;
}

// A 1-based number, or else a title (case-insensitive); -1 when neither names a row or column.
bool resolveCell(const DKTable& t, const std::string& rowText, const std::string& columnText, int& row,
                 int& column) {
    int64_t c = leadingNumber(columnText) - 1;
    if (!inRange(c, t.numberOfColumns())) c = t.findColumnNumberByName(columnText);
    int64_t r = leadingNumber(rowText) - 1;
    if (!inRange(r, t.numberOfRows())) r = t.findRowNumberByName(rowText);
    if (!inRange(r, t.numberOfRows()) || !inRange(c, t.numberOfColumns())) return false;
    row = static_cast<int>(r);
    column = static_cast<int>(c);
    return true;
}

bool equalsTrueIgnoringCase(const char* text) {
    const char* word = "true";
    for (; *word; ++word, ++text) {
        char c = *text;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *word) return false;
    }
    return *text == '\0';
}

// addRow and removeRow: the row a position names, by 1-based number or, for 0, by title;
// `n` is the number read (-1 meaning the end).
int64_t rowPosition(const DKTable& t, const std::string& text, int64_t& n) {
    n = leadingNumber(text);
    return n == 0 ? t.findRowNumberByName(text) : n - 1;
}

int tablesNew(lua_State* L) {
    plat::lua::pushObject(L, new DKTable, kTableDataMT);
    return 1;
}

// Collected tables are freed; the slot is cleared first so that a finalizer of another object
// collected in the same cycle that still reaches this one finds no table rather than freed memory.
int tableGC(lua_State* L) {
    if (DKTable** slot = plat::lua::toSlot<DKTable>(L, 1, kTableDataMT)) {
        DKTable* table = *slot;
        *slot = nullptr;
        delete table;
    }
    return 0;
}

int tablesSetId(lua_State* L) {
    DKTable* t = tableArg(L, -2);
    std::string identifier;
    if (t && textArg(L, -1, identifier)) t->setTableId(identifier);
    return 0;
}

int tablesSetValue(lua_State* L) {
    DKTable* t = tableArg(L, -4);
    std::string rowText, columnText, value;
    int row, column;
    if (t && textArg(L, -3, rowText) && textArg(L, -2, columnText) && textArg(L, -1, value) &&
        resolveCell(*t, rowText, columnText, row, column))
        t->setCellValue(row, column, value);
    return 0;
}

int tablesGetValue(lua_State* L) {
    DKTable* t = tableArg(L, -3);
    std::string rowText, columnText;
    int row, column;
    if (!t || !textArg(L, -2, rowText) || !textArg(L, -1, columnText) ||
        !resolveCell(*t, rowText, columnText, row, column)) {
        lua_pushstring(L, "");
        return 1;
    }
    const char* text = t->cellValue(row, column);
    switch (t->columnType(column)) {
        case dk::tables::Integer:
            lua_pushnumber(L, static_cast<lua_Number>(dk::tables::parseIntPrefix(text)));
            break;
        case dk::tables::Real:
        case dk::tables::Angle:
            lua_pushnumber(L, dk::tables::parseDoublePrefix(text));
            break;
        case dk::tables::Boolean:
            lua_pushboolean(L, equalsTrueIgnoringCase(text));
            break;
        default:
            lua_pushstring(L, text);
    }
    return 1;
}

int tablesGetNumRows(lua_State* L) {
    DKTable* t = tableArg(L, -1);
    lua_pushinteger(L, t ? t->numberOfRows() : 0);
    return 1;
}

int tablesGetNumCols(lua_State* L) {
    DKTable* t = tableArg(L, -1);
    lua_pushinteger(L, t ? t->numberOfColumns() : 0);
    return 1;
}

int tablesLoadFromFile(lua_State* L) {
    DKTable* t = tableArg(L, -2);
    std::string path;
    if (t && textArg(L, -1, path)) t->loadTable(path);
    return 0;
}

int tablesSaveTableData(lua_State* L) {
    DKTable* t = tableArg(L, -2);
    std::string path;
    if (t && textArg(L, -1, path)) t->saveTable(path, false);
    return 0;
}

// The directory (from database.getTablesDirectoryPath, ending with "/") and the name are joined
// as they are.
bool databasePath(lua_State* L, std::string& path) {
    std::string directory, name;
    if (!textArg(L, -3, directory) || !textArg(L, -1, name)) return false;
    path = directory + name + ".xml";
    return true;
}

int tablesSaveTableToDatabase(lua_State* L) {
    DKTable* t = tableArg(L, -2);
    std::string path;
    if (t && databasePath(L, path)) t->saveTable(path, false);
    return 0;
}

int tablesLoadTableFromDatabase(lua_State* L) {
    DKTable* t = tableArg(L, -2);
    std::string path;
    if (t && databasePath(L, path)) t->loadTable(path);
    return 0;
}

int tablesAddRow(lua_State* L) {
    DKTable* t = tableArg(L, -2);
    std::string position;
    if (!t || !textArg(L, -1, position)) return 0;
    int64_t n;
    int64_t i = rowPosition(*t, position, n);
    if (n == -1)
        t->addRowAtIndex(t->numberOfRows());
    else if (i >= 0 && i <= t->numberOfRows())
        t->addRowAtIndex(static_cast<int>(i));
    return 0;
}

int tablesRemoveRow(lua_State* L) {
    DKTable* t = tableArg(L, -2);
    std::string position;
    if (!t || !textArg(L, -1, position) || t->numberOfRows() == 0) return 0;
    int64_t n;
    int64_t i = rowPosition(*t, position, n);
    if (n == -1)
        t->removeRowAtIndex(t->numberOfRows() - 1);
    else if (inRange(i, t->numberOfRows()))
        t->removeRowAtIndex(static_cast<int>(i));
    return 0;
}

int tablesCopyTable(lua_State* L) {
    DKTable* dest = tableArg(L, -2);
    DKTable* src = tableArg(L, -1);
    if (!dest || !src) return 0;
    std::string name = dest->tableName();
    dest->copyTableData(*src);
    dest->setTableName(name);
    return 0;
}

// No C++ exception may reach Lua, where it would surface as an error the module never raises:
// a call the tables library cannot complete (out of memory) returns quietly, with no results.
// Only standard exceptions are caught: a Lua error unwinds through here too and must go on.
template <lua_CFunction F>
int quietly(lua_State* L) {
    try {
        return F(L);
    } catch (const std::exception&) {
        return 0;
    }
}

const luaL_Reg kTablesFunctions[] = {
    {"new", quietly<tablesNew>},
    {"setId", quietly<tablesSetId>},
    {"setValue", quietly<tablesSetValue>},
    {"getValue", quietly<tablesGetValue>},
    {"getNumRows", quietly<tablesGetNumRows>},
    {"getNumCols", quietly<tablesGetNumCols>},
    {"loadFromFile", quietly<tablesLoadFromFile>},
    {"saveTableData", quietly<tablesSaveTableData>},
    {"saveTableToDatabase", quietly<tablesSaveTableToDatabase>},
    {"loadTableFromDatabase", quietly<tablesLoadTableFromDatabase>},
    {"addRow", quietly<tablesAddRow>},
    {"removeRow", quietly<tablesRemoveRow>},
    {"copyTable", quietly<tablesCopyTable>},
};

const luaL_Reg kNoFunctions[] = {{nullptr, nullptr}};

}  // namespace

extern "C" int luaopen_tableHelper(lua_State* L) {
    luaL_register(L, "tableHelper", kNoFunctions);
    int library = lua_gettop(L);

    constexpr int kCount = sizeof kTablesFunctions / sizeof kTablesFunctions[0];
    lua_createtable(L, 0, kCount);
    int methods = lua_gettop(L);
    for (const luaL_Reg& f : kTablesFunctions) {
        lua_pushcfunction(L, f.func);
        lua_setfield(L, methods, f.name);
    }

    luaL_newmetatable(L, kTableDataMT);
    lua_pushcfunction(L, tableGC);
    lua_setfield(L, -2, "__gc");
    lua_pushvalue(L, methods);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);

    lua_pushvalue(L, methods);
    lua_setfield(L, library, "Tables");
    lua_settop(L, library);
    return 1;
}
