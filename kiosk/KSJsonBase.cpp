#include "kiosk/KSJsonBase.h"

void KSJsonBase::addErrorWithCode(int code, std::string description) {
    KSJsonError error;
    error.code = code;
    error.description = std::move(description);
    if (!m_errorTrace.empty()) error.underlying = std::make_shared<KSJsonError>(m_errorTrace.back());
    m_errorTrace.push_back(std::move(error));
}

bool KSJsonBase::enterContainer() {
    std::size_t limit = m_maxDepth == 0 || m_maxDepth > kHardMaxDepth ? kHardMaxDepth : m_maxDepth;
    if (++m_depth > limit) {
        addErrorWithCode(kKSJsonDepth, "Nested too deep");
        return false;
    }
    return true;
}
