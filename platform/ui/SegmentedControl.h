// A row of titled segments, one selected; a user's choice calls the value-changed action (setting
// the index in code does not).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Button.h"

namespace plat::ui {

class SegmentedControl : public View {
public:
    using Action = std::function<void(SegmentedControl&)>;
    explicit SegmentedControl(std::vector<std::string> titles);
    const char* className() const override { return "UISegmentedControl"; }

    size_t numberOfSegments() const { return m_segments.size(); }
    std::string titleForSegment(size_t index) const;
    // -1: none.
    int selectedSegmentIndex() const { return m_selected; }
    void setSelectedSegmentIndex(int index);
    // The user's touch on a segment: selects it and, when that changed it, calls the action.
    void select(int index);
    // 4096, the platform's value-changed event: the only one kept.
    void addTarget(const void* target, Action action) { m_actions.push_back({target, std::move(action)}); }
    int segmentedControlStyle() const { return m_style; }
    void setSegmentedControlStyle(int style) { m_style = style; }
    // Each segment as wide as its title needs, 30 points high.
    void sizeToFit();
    void layoutSubviews() override;

private:
    std::vector<std::shared_ptr<Button>> m_segments;
    std::vector<std::pair<const void*, Action>> m_actions;
    int m_selected = -1;
    int m_style = 0;
};

}  // namespace plat::ui
