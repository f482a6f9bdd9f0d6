// Pages the web views' tests on the real engine share.
#pragma once

#include <string>

namespace dktest {

// A page with a 20-point button in each corner (ids tl, tr, bl and br) and `body`; a function the
// document's click listener calls pushes every click onto `got` as clickRecord gives it. `head`
// comes first in the page's head.
inline std::string cornerButtonsPage(const std::string& head = "", const std::string& body = "") {
    return "<html><head>" + head +
           "<style>body{margin:0} b{position:fixed;width:20px;height:20px;background:#00f}</style></head><body>"
           "<b id=tl style='left:0;top:0'></b><b id=tr style='right:0;top:0'></b>"
           "<b id=bl style='left:0;bottom:0'></b><b id=br style='right:0;bottom:0'></b>" +
           body +
           "<script>var got = [];"
           "function record(e) { got.push((e.target.id || 'page') + ' ' + e.clientX + ',' + e.clientY); }"
           "document.addEventListener('click', function (e) { record(e); });</script></body></html>";
}

// What cornerButtonsPage records of a click on the element `id` ("page": none) at the page's
// (x, y), in whole CSS pixels.
inline std::string clickRecord(const std::string& id, double x, double y) {
    return id + " " + std::to_string(static_cast<int>(x)) + "," + std::to_string(static_cast<int>(y));
}

// What cornerButtonsPage records of taps 10 points in from each corner of a w x h page, in the
// order top left, top right, bottom left, bottom right.
inline std::string cornerClicks(double w, double h) {
    return clickRecord("tl", 10, 10) + "|" + clickRecord("tr", w - 10, 10) + "|" + clickRecord("bl", 10, h - 10) +
           "|" + clickRecord("br", w - 10, h - 10);
}

// Asks the page's server for "/looping" (a synchronous request, so the server's record of it means
// the script went on) and then runs `loop`, which never yields.
inline std::string loopingScript(const std::string& loop) {
    return "var r = new XMLHttpRequest(); r.open('GET', '/looping', false); r.send();" + loop;
}

// A page that runs loopingScript while it loads: its load never ends.
inline std::string neverYieldingPage(const std::string& loop) {
    return "<html><body><script>" + loopingScript(loop) + "</script></body></html>";
}

// A page that loads, then stops answering: loopingScript runs a moment after its load.
inline std::string silentAfterLoadPage(const std::string& loop) {
    return "<html><body>loaded<script>window.onload = function () { setTimeout(function () {" + loopingScript(loop) +
           "}, 200); };</script></body></html>";
}

// A page that fills and holds memory while it loads, `chunk` MB at a time while `condition` (on
// `i`, the chunks so far) holds.
inline std::string memoryHoldingPage(int chunk, const std::string& condition) {
    return "<html><body><script>window.held = [];for (var i = 0; " + condition +
           "; i++) { var b = new Uint8Array(" + std::to_string(chunk) + " << 20); b.fill(1); held.push(b); }"
           "</script></body></html>";
}

// What a page keeps doing while it lives, each kind asking `beat` (its address, or one relative to
// the page's) again and again: "timer" from an interval, "frames" from its animation frames,
// "worker" from a worker's interval; "loops" asks once from each of two workers, which then loop
// for ever.
inline std::string busyPage(const std::string& kind, const std::string& beat) {
    std::string script;
    if (kind == "timer") script = "setInterval(ask, 50);";
    if (kind == "frames") script = "(function frame() { ask(); requestAnimationFrame(frame); })();";
    if (kind == "worker") script = "worker('setInterval(ask, 50);');";
    if (kind == "loops") script = "worker('ask(); while (true) {}'); worker('ask(); while (true) {}');";
    return "<html><body>busy<script>var beat = new URL('" + beat + "', location.href).href;"
           "function ask() { fetch(beat, {mode: 'no-cors'}); }"
           "function worker(code) { new Worker(URL.createObjectURL(new Blob(["
           "'var beat = ' + JSON.stringify(beat) + ';' + ask.toString() + code]))); }" +
           script + "</script></body></html>";
}

}  // namespace dktest
