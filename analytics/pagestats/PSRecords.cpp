#include "analytics/pagestats/PSRecords.h"

bool PSCustomVariableBuffer::addCustomVariable(const PSCustomVariable& variable) {
    if (!isSlot(variable.index)) return false;
    m_slots[variable.index] = variable;
    return true;
}

const PSCustomVariable* PSCustomVariableBuffer::customVariableAt(unsigned slot) const {
    if (!isSlot(slot) || !m_slots[slot]) return nullptr;
    return &*m_slots[slot];
}

bool PSCustomVariableBuffer::isSlotAvailable(unsigned slot) const {
    return isSlot(slot) && !m_slots[slot];
}

bool PSCustomVariableBuffer::hasCustomVariables() const {
    for (unsigned slot = 1; slot <= kPSMaxCustomVariables; ++slot)
        if (m_slots[slot]) return true;
    return false;
}
