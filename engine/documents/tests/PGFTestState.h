// A bare Lua state with the "pgf" module and helpers for comparing documents.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "engine/documents/PGF.h"

class PGFTestState : public ::testing::Test {
protected:
    void SetUp() override {
        L = luaL_newstate();
        luaL_openlibs(L);
        lua_pushcfunction(L, luaopen_PGF);
        lua_pushstring(L, "pgf");
        lua_call(L, 1, 0);
        // dump: a canonical text of an element table (keys sorted, strings quoted).
        // emit: writes an element table back through a writer, attributes in name order.
        run(R"(
            function dump(t)
              if type(t) ~= 'table' then return type(t) == 'string' and string.format('%q', t) or tostring(t) end
              local keys = {}
              for k in pairs(t) do keys[#keys + 1] = k end
              table.sort(keys, function(a, b)
                if type(a) == type(b) then return a < b end
                return type(a) == 'number'
              end)
              local parts = {}
              for _, k in ipairs(keys) do
                parts[#parts + 1] = (type(k) == 'number' and '[' .. k .. ']' or k) .. '=' .. dump(t[k])
              end
              return '{' .. table.concat(parts, ',') .. '}'
            end
            function emit(w, t)
              w:startElement(t[0])
              local names = {}
              for k in pairs(t) do if type(k) == 'string' then names[#names + 1] = k end end
              table.sort(names)
              for _, k in ipairs(names) do w:writeAttribute(k, t[k]) end
              if type(t[1]) == 'string' then w:writeTextValue(t[1]) else
                for i = 1, #t do emit(w, t[i]) end
              end
              w:endElement()
            end
            function writeDocument(format, t)
              local w = pgf.writer.newToString(format)
              w:startDocument(); emit(w, t); w:endDocument()
              local s = w:getString()
              w:close()
              return s
            end
        )");
        dir = std::filesystem::path(::testing::TempDir()) /
              (std::string("pgf-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }

    void TearDown() override {
        lua_close(L);
        std::filesystem::remove_all(dir);
    }

    // Runs a chunk and returns its first result as text ("nil" when none); a Lua error fails the test.
    std::string run(const std::string& code) {
        const int top = lua_gettop(L);
        if (luaL_loadstring(L, code.c_str()) || lua_pcall(L, 0, 1, 0)) {
            ADD_FAILURE() << lua_tostring(L, -1) << "\nin: " << code;
            lua_settop(L, top);
            return "<error>";
        }
        std::string result = lua_isnil(L, -1)       ? "nil"
                             : lua_isboolean(L, -1) ? (lua_toboolean(L, -1) ? "true" : "false")
                                                    : luaL_checkstring(L, -1);
        lua_settop(L, top);
        return result;
    }

    // Sets a Lua global string, for texts and paths that are awkward to quote.
    void setGlobal(const char* name, const std::string& value) {
        lua_pushlstring(L, value.data(), value.size());
        lua_setglobal(L, name);
    }

    static std::string readFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    lua_State* L = nullptr;
    std::filesystem::path dir;
};
