// What the JSON parser and writer share: the nesting limit and the trace of an operation's errors.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

inline constexpr const char* kKSJsonErrorDomain = "com.drovik.kiosk.json";

// Codes of the errors in a trace.
enum KSJsonErrorCode : int {
    kKSJsonUnsupported = 1,
    kKSJsonBadNumber = 2,
    kKSJsonParse = 3,
    kKSJsonFragment = 4,
    kKSJsonControlCharacter = 5,
    kKSJsonUnicode = 6,
    kKSJsonDepth = 7,
    kKSJsonEscape = 8,
    kKSJsonTrailingComma = 9,
    kKSJsonGarbage = 10,
    kKSJsonEndOfInput = 11,
    kKSJsonInputNil = 12,
};

struct KSJsonError {
    std::string domain = kKSJsonErrorDomain;
    int code = 0;
    std::string description;
    // The error added just before this one in the same trace.
    std::shared_ptr<const KSJsonError> underlying;
};

class KSJsonBase {
public:
    static constexpr std::size_t kDefaultMaxDepth = 512;
    // Whatever maxDepth says, recursion stops here: deeper input would exhaust the stack.
    static constexpr std::size_t kHardMaxDepth = 2048;

    // 0: no limit of its own (the hard cap still holds).
    std::size_t maxDepth() const { return m_maxDepth; }
    void setMaxDepth(std::size_t depth) { m_maxDepth = depth; }

    // Empty until the first error of an operation; the last error describes the outermost failure.
    const std::vector<KSJsonError>& errorTrace() const { return m_errorTrace; }
    void addErrorWithCode(int code, std::string description);
    void clearErrorTrace() { m_errorTrace.clear(); }

    // Containers entered and not yet left by the operation under way.
    std::size_t depth() const { return m_depth; }

protected:
    // Raises the depth; false, with error 7 added, past the limit.
    bool enterContainer();
    void leaveContainer() { --m_depth; }
    void reset() {
        clearErrorTrace();
        m_depth = 0;
    }

private:
    std::vector<KSJsonError> m_errorTrace;
    std::size_t m_depth = 0;
    std::size_t m_maxDepth = kDefaultMaxDepth;
};
