// The ad client's JSON reader and writer on a response-like document of about 1 MB, side by side
// with yajl 2's tree parser (and its generator writing that tree) on the same text in the same run.
//
//   bench_orbad_json [ADS] [RUNS]     (defaults: 1950 ads, about 1 MB; best of 7 runs)
#include <yajl/yajl_gen.h>
#include <yajl/yajl_tree.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "orbad/core/OrbadJSON.h"

namespace {

using Clock = std::chrono::steady_clock;

double bestOf(int runs, const std::function<void()>& work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

// Ads as an ad server answers them: creatives with HTML, URLs, sizes, event URLs, a config block.
std::string makeDocument(int ads) {
    std::string out =
        "{\"status\":\"ok\",\"refresh\":30.0,\"config\":{\"logLevel\":24,\"timeouts\":{\"ad\":8.5,\"video\":"
        "20},"
        "\"userAgent\":\"Mozilla/5.0 (iPhone; CPU OS 6_1 like Mac OS X)\"},\"ads\":[";
    char buffer[1024];
    for (int i = 0; i < ads; ++i) {
        std::snprintf(
            buffer, sizeof buffer,
            "%s{\"id\":%d,\"type\":\"%s\",\"width\":320,\"height\":50,\"weight\":%d.25,\"expandable\":%s,"
            "\"html\":\"<div class=\\\"ad\\\" id=\\\"a%d\\\"><a "
            "href=\\\"http:\\/\\/ads.example.test\\/c?id=%d&amp;s=1\\\">"
            "Caf\\u00e9 d\\u00e9j\\u00e0 vu \\u2014 tap now!<\\/a>\\n<img "
            "src=\\\"http:\\/\\/cdn.example.test\\/i\\/%d.png\\\"><\\/div>\","
            "\"events\":{\"show\":\"http://ev.example.test/s?ad=%d\",\"click\":\"http://ev.example.test/"
            "c?ad=%d\"},"
            "\"transition\":{\"type\":\"flip\",\"duration\":0.75},\"colors\":{\"r\":%d,\"g\":128,\"b\":255,"
            "\"a\":255},"
            "\"networks\":[\"iad\",\"admob\",null,\"millennial\"],\"score\":%g}",
            i ? "," : "", i, i % 3 ? "html" : "image", i % 10, i % 2 ? "true" : "false", i, i, i, i, i,
            i % 256, 1.0 / (i + 3));
        out += buffer;
    }
    out += "]}";
    return out;
}

void yajlWrite(yajl_gen gen, yajl_val v) {
    if (YAJL_IS_OBJECT(v)) {
        yajl_gen_map_open(gen);
        for (size_t i = 0; i < v->u.object.len; ++i) {
            const char* key = v->u.object.keys[i];
            yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
            yajlWrite(gen, v->u.object.values[i]);
        }
        yajl_gen_map_close(gen);
    } else if (YAJL_IS_ARRAY(v)) {
        yajl_gen_array_open(gen);
        for (size_t i = 0; i < v->u.array.len; ++i) yajlWrite(gen, v->u.array.values[i]);
        yajl_gen_array_close(gen);
    } else if (YAJL_IS_STRING(v)) {
        yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(v->u.string), std::strlen(v->u.string));
    } else if (YAJL_IS_NUMBER(v)) {
        yajl_gen_number(gen, v->u.number.r, std::strlen(v->u.number.r));
    } else if (YAJL_IS_TRUE(v) || YAJL_IS_FALSE(v)) {
        yajl_gen_bool(gen, YAJL_IS_TRUE(v));
    } else {
        yajl_gen_null(gen);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int ads = argc > 1 ? std::atoi(argv[1]) : 1950;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::string text = makeDocument(ads);
    const orbad::Data data(text.begin(), text.end());

    std::optional<orbad::Value> value;
    const double decode = bestOf(runs, [&] {
        value = orbad::OrbadJSON::decodeData(data);
        if (!value) std::abort();
    });
    std::string written;
    const double encode = bestOf(runs, [&] { written = *orbad::OrbadJSON::encodeObject(*value); });
    char why[256];
    const double yajlDecode = bestOf(runs, [&] {
        yajl_val tree = yajl_tree_parse(text.c_str(), why, sizeof why);
        if (!tree) std::abort();
        yajl_tree_free(tree);
    });
    yajl_val tree = yajl_tree_parse(text.c_str(), why, sizeof why);
    size_t yajlBytes = 0;
    const double yajlEncode = bestOf(runs, [&] {
        yajl_gen gen = yajl_gen_alloc(nullptr);
        yajlWrite(gen, tree);
        const unsigned char* out;
        yajl_gen_get_buf(gen, &out, &yajlBytes);
        yajl_gen_free(gen);
    });
    yajl_tree_free(tree);

    std::printf("document: %zu bytes, %d ads; best of %d runs\n", text.size(), ads, runs);
    std::printf("decode  OrbadJSON %8.2f ms   yajl tree %8.2f ms   ratio %.2fx\n", decode, yajlDecode,
                decode / yajlDecode);
    std::printf("encode  OrbadJSON %8.2f ms   yajl gen  %8.2f ms   ratio %.2fx   (%zu / %zu bytes)\n", encode,
                yajlEncode, encode / yajlEncode, written.size(), yajlBytes);
    return 0;
}
