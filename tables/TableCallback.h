// Observers of cell changes.
#pragma once

#include <memory>
#include <string>

class IDKTable;

namespace dk::tables {

// One change of one cell, valid only during the tableChanged call that receives it.
struct TableChangeContainer {
    IDKTable* table;
    int column;
    int row;
    std::string oldValue;
    std::string newValue;
};

// Implemented by code that embeds the library; a registered callback is owned by its table.
class TableCallback {
public:
    virtual ~TableCallback() = default;
    virtual void tableChanged(TableChangeContainer& change) = 0;
};

// One observer registration. Column or row -1 stands for every column or row. The callback is
// shared so that a round of notifications in progress keeps it alive if it is unregistered.
struct CallbackReference {
    int column;
    int row;
    std::shared_ptr<TableCallback> callback;
    const void* context;
};

}  // namespace dk::tables
