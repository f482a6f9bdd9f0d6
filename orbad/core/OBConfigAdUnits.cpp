// The ad-unit table of the configuration: one entry per size, from the answer's "ad_units", and the
// banner engine's questions about a size.
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"

namespace orbad {

using plat::foundation::Value;

void OBConfig::addAdUnit(const Value& element) {
    m_adUnitTable.addUnit(element);
}

const Value::Dictionary* OBConfig::propertiesForAdUnit(OBAdSize size) const {
    return m_adUnitTable.propertiesForAdUnit(size);
}

bool OBConfig::adUnitEnabled(OBAdSize size) const {
    return m_adUnitTable.adUnitEnabled(size);
}

bool OBConfig::autoPlayEnabled(OBAdSize size) const {
    return m_adUnitTable.autoPlayEnabled(size);
}

bool OBConfig::richMediaRequiresUserInteraction(OBAdSize size) const {
    return m_adUnitTable.richMediaRequiresUserInteraction(size);
}

double OBConfig::refreshInteveralForAdUnit(OBAdSize size) const {
    return m_adUnitTable.refreshInteveralForAdUnit(size);
}

double OBConfig::autoplayTimeoutInteveralForAdUnit(OBAdSize size) const {
    return m_adUnitTable.autoplayTimeoutInteveralForAdUnit(size, OBEnvironment::platformName());
}

std::optional<std::string> OBConfig::currentSelectionMethod(OBAdSize size) const {
    return m_adUnitTable.currentSelectionMethod(size);
}

std::optional<Value::Array> OBConfig::getOpenAllocationCandidates(OBAdSize size) const {
    return m_adUnitTable.getOpenAllocationCandidates(size);
}

std::optional<Value> OBConfig::getNextCandidate(OBAdSize size,
                                                const std::optional<Value::Array>& candidates) const {
    return m_adUnitTable.getNextCandidate(size, candidates);
}

std::optional<Value> OBConfig::getRandomWeightedCandidate(const Value::Array& candidates) const {
    return m_adUnitTable.getRandomWeightedCandidate(candidates);
}

std::optional<std::string> OBConfig::openAllocationKey(long n, std::string_view network,
                                                       OBAdSize size) const {
    return m_adUnitTable.openAllocationKey(n, network, size);
}

}  // namespace orbad
