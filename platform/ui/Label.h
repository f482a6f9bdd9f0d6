// Text: the label view, and the text drawing it shares with buttons (Pango on Cairo).
#pragma once

#include <string>

#include "platform/ui/View.h"

namespace plat::ui {

enum class TextAlignment { Left, Center, Right };
enum class VerticalAlignment { Center, Top };

// A font by the platform's name ("Helvetica", "Helvetica-Bold": family, then a style after the
// last "-") and size in points, drawn at the screen's pixels. A family the system lacks is DejaVu Sans.
struct Font {
    std::string name = "Helvetica";
    double size = 17;
};

// `text` inside `rect` (points of `cr`), centred vertically as the platform's labels are (or from
// the top, as text views are): one line cut with an ellipsis when `lines` is 1, wrapped at words
// into at most `lines` lines (0: any).
void drawText(cairo_t* cr, const std::string& text, const Font& font, const Color& color, const Rect& rect,
              TextAlignment alignment, int lines, VerticalAlignment vertical = VerticalAlignment::Center);
// The height drawText gives `text` in `width` points with no bound on the height: one line when
// `lines` is 1, else wrapped into at most `lines` (0: any).
double textHeight(const std::string& text, const Font& font, double width, int lines);
// The width of `text` laid out on one line, unbounded.
double textWidth(const std::string& text, const Font& font);

class Label : public View {
public:
    Label();
    explicit Label(const Rect& frame);
    const char* className() const override { return "UILabel"; }

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    const Font& font() const { return m_font; }
    void setFont(Font font);
    // Black unless set.
    const Color& textColor() const { return m_textColor; }
    void setTextColor(const Color& color);
    TextAlignment textAlignment() const { return m_alignment; }
    void setTextAlignment(TextAlignment alignment);
    int numberOfLines() const { return m_lines; }
    void setNumberOfLines(int lines);
    // The text drawn again under itself, moved by the offset, in this colour (none: no shadow).
    const std::optional<Color>& shadowColor() const { return m_shadowColor; }
    void setShadowColor(std::optional<Color> color);
    Size shadowOffset() const { return m_shadowOffset; }
    void setShadowOffset(Size offset);
    // One line too wide for the bounds is drawn smaller, down to the minimum size (fittingFont).
    bool adjustsFontSizeToFitWidth() const { return m_adjustsFontSize; }
    void setAdjustsFontSizeToFitWidth(bool adjusts);
    double minimumFontSize() const { return m_minimumFontSize; }
    void setMinimumFontSize(double size);
    // The font the text is drawn in.
    Font drawnFont() const;

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    std::optional<std::string> dumpText() const override;

private:
    std::string m_text;
    Font m_font;
    Color m_textColor{0, 0, 0, 1};
    TextAlignment m_alignment = TextAlignment::Left;
    int m_lines = 1;
    std::optional<Color> m_shadowColor;
    Size m_shadowOffset{0, -1};
    bool m_adjustsFontSize = false;
    double m_minimumFontSize = 0;
};

}  // namespace plat::ui
