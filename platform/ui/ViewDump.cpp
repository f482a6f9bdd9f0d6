#include "platform/ui/ViewDump.h"

#include <charconv>
#include <cmath>

#include "platform/foundation/JSONText.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {

namespace {

void number(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    if (v == 0) v = 0;  // no "-0"
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, end);
}

// Control characters as \u00xx, as the dump files have always had them.
void string(std::string& out, std::string_view s) {
    out += '"';
    foundation::appendJSONEscaped(out, s, foundation::JSONControlEscapes::Numeric);
    out += '"';
}

void optionalString(std::string& out, const std::optional<std::string>& s) {
    if (s)
        string(out, *s);
    else
        out += "null";
}

void numbers(std::string& out, std::initializer_list<double> values) {
    out += '[';
    const char* sep = "";
    for (double v : values) {
        out += sep;
        number(out, v);
        sep = ",";
    }
    out += ']';
}

void line(std::string& out, const View& view, int depth) {
    Point origin = view.originInWindow();
    out += "{\"depth\":" + std::to_string(depth) + ",\"class\":";
    string(out, view.className());
    out += ",\"controller\":";
    if (const ViewController* c = view.viewController())
        string(out, c->className());
    else
        out += "null";
    out += ",\"frame\":";
    numbers(out, {origin.x, origin.y, view.frame().width, view.frame().height});
    out += view.isHidden() ? ",\"hidden\":true" : ",\"hidden\":false";
    out += ",\"alpha\":";
    number(out, view.alpha());
    out += view.isUserInteractionEnabled() ? ",\"interaction\":true" : ",\"interaction\":false";
    out += ",\"bg\":";
    if (const auto& bg = view.backgroundColor())
        numbers(out, {bg->r, bg->g, bg->b, bg->a});
    else
        out += "null";
    out += ",\"image\":";
    optionalString(out, view.dumpImage());
    out += ",\"text\":";
    optionalString(out, view.dumpText());
    // Frame animations only where there are some, so that other dumps stay as they were.
    if (auto* images = dynamic_cast<const ImageView*>(&view); images && !images->animationImages().empty()) {
        out += ",\"frames\":" + std::to_string(images->animationImages().size()) + ",\"frameDuration\":";
        number(out, images->frameDuration());
    }
    out += ",\"animations\":[";
    const char* sep = "";
    for (const std::string& key : view.animationKeys()) {
        out += sep;
        string(out, key);
        sep = ",";
    }
    out += "]}\n";
    for (const auto& sub : view.subviews()) line(out, *sub, depth + 1);
}

}  // namespace

std::string dumpViewTree(const View& root) {
    std::string out;
    line(out, root, 0);
    return out;
}

}  // namespace plat::ui
