// A bare Lua state with the "pgf" module and helpers for comparing documents.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/documents/wrap_PGF.h"
#include "tests/support/TestSupport.h"

class PGFTestState : public ::testing::Test {
protected:
    void SetUp() override {
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
    }

    // Runs a chunk and returns its results as text ("nil" when none); a Lua error fails the test.
    std::string run(const std::string& code) {
        const std::string result = dktest::runLua(L, code);
        if (dktest::isLuaError(result)) ADD_FAILURE() << result << "\nin: " << code;
        return result.empty() ? "nil" : result;
    }

    // Sets a Lua global string, for texts and paths that are awkward to quote.
    void setGlobal(const char* name, const std::string& value) {
        lua_pushlstring(L, value.data(), value.size());
        lua_setglobal(L, name);
    }

    dktest::LuaState L{luaopen_PGF, "pgf"};
    dktest::TempDir dir;
};
