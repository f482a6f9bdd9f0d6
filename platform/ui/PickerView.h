// A picker: one component of rows with titles and a selected row, drawn as a list with the
// selection marked; a tap on a row selects it. The input script's picker.select ROW does the same
// to the picker on screen, and picker.done and picker.cancel press the controls its screen gave it.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/View.h"

namespace plat::ui {

class PickerView;

// Rows come from the delegate, asked again by reloadAllComponents.
class PickerViewDelegate {
public:
    virtual ~PickerViewDelegate() = default;
    virtual int numberOfRows(PickerView&) = 0;
    virtual std::string titleForRow(PickerView&, int row) = 0;
    // The component's width, centred in the picker; 0 or less: the picker's width.
    virtual double widthForComponent(PickerView&) { return 0; }
    // The player chose `row` (a tap or the script's picker.select; never selectRow).
    virtual void didSelectRow(PickerView&, int /*row*/) {}
};

// Made with std::make_shared.
class PickerView : public View {
public:
    PickerView();
    explicit PickerView(const Rect& frame);
    const char* className() const override { return "UIPickerView"; }

    // Not owned: the delegate clears itself before it goes.
    PickerViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(PickerViewDelegate* delegate);
    // Rows and titles asked for again; the selection kept inside the new rows.
    void reloadAllComponents();
    int numberOfRows() const { return static_cast<int>(m_titles.size()); }
    const std::string& titleForRow(int row) const { return m_titles.at(static_cast<size_t>(row)); }

    // -1 when there are no rows.
    int selectedRow() const { return m_selected; }
    // Clamped to the rows; the delegate is not told.
    void selectRow(int row);
    // As the player chooses: false, nothing done, for a row that is not there.
    bool chooseRow(int row);

    // What its screen's done and cancel controls do, for the script's picker.done and picker.cancel.
    void setControls(std::function<void()> done, std::function<void()> cancel);
    bool pressDone();
    bool pressCancel();

    // The front-most picker on screen; null when none.
    static PickerView* onScreen();

    // The row under `point` (this view's coordinates); -1 outside the rows.
    int rowAtPoint(Point point) const;

    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet&, const Event&) override { m_tracking = -1; }

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    std::optional<std::string> dumpText() const override;

private:
    static constexpr int kVisibleRows = 5;
    double rowHeight() const { return bounds().height / kVisibleRows; }
    int firstVisibleRow() const;
    Rect componentRect() const;

    PickerViewDelegate* m_delegate = nullptr;
    std::vector<std::string> m_titles;
    int m_selected = -1;
    int m_tracking = -1;  // the row a touch began on
    double m_componentWidth = 0;
    std::function<void()> m_done;
    std::function<void()> m_cancel;
};

}  // namespace plat::ui
