// Load and save of large tables against expat alone parsing the same file in the same run, and
// CSV import and export of the same table beside them.
//   bench_tables [CELLS] [COLUMNS]   (default 1000000 cells in 20 columns)
// Each figure is the median of 7 interleaved runs; the table is measured at CELLS and at twice CELLS so that
// the growth (ideally x2.0) shows any path worse than linear.
#include <expat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tables/DKTable.h"

using namespace dk::tables;
using Clock = std::chrono::steady_clock;

namespace {

// Runs the measured bodies in turn, `runs` rounds, so that load changes on a shared machine
// hit every figure alike; returns each body's median in milliseconds.
std::vector<double> interleavedMedians(int runs, const std::vector<std::function<void()>>& bodies) {
    std::vector<std::vector<double>> ms(bodies.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t b = 0; b < bodies.size(); ++b) {
            auto start = Clock::now();
            bodies[b]();
            ms[b].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    std::vector<double> medians;
    for (auto& m : ms) {
        std::sort(m.begin(), m.end());
        medians.push_back(m[m.size() / 2]);
    }
    return medians;
}

// A game-like table: numbers, booleans, short texts, some needing escapes.
void build(DKTable& t, int rows, int cols) {
    t.setTableName("bench");
    t.setNumberOfColumns(cols);
    for (int c = 0; c < cols; ++c) {
        t.setColumnType(c, static_cast<ColumnType>(1 + c % 5));
        t.setColumnTitle(c, "column " + std::to_string(c));
    }
    t.setNumberOfRows(rows);
    std::string text;
    for (int r = 0; r < rows; ++r) {
        t.setRowTitle(r, "row" + std::to_string(r));
        for (int c = 0; c < cols; ++c) {
            switch (c % 5) {
                case 0:
                    text = (r % 7 == 0) ? "a, \"b\" & c" : "item" + std::to_string(r);
                    break;
                case 1:
                    text = std::to_string(r * 31 % 100000);
                    break;
                case 2:
                    text = std::to_string(r % 1000) + ".25";
                    break;
                case 3:
                    text = (r % 2) ? "True" : "False";
                    break;
                default:
                    text = std::to_string(r % 360);
                    break;
            }
            t.setCellValue(r, c, text);
        }
    }
}

void noStart(void*, const XML_Char*, const XML_Char**) {}
void noEnd(void*, const XML_Char*) {}
void noText(void*, const XML_Char*, int) {}

// The floor: expat reading the file in the same 4,096-byte chunks with handlers that do nothing.
bool expatOnly(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, noStart, noEnd);
    XML_SetCharacterDataHandler(p, noText);
    char buf[4096];
    bool ok = true;
    for (;;) {
        size_t n = std::fread(buf, 1, sizeof buf, f);
        bool final = n < sizeof buf;
        if (XML_Parse(p, buf, static_cast<int>(n), final) == XML_STATUS_ERROR) ok = false;
        if (final || !ok) break;
    }
    XML_ParserFree(p);
    std::fclose(f);
    return ok;
}

struct Figures {
    double expat, parse, load, text, save, csvLoad, csvExport;
    uintmax_t bytes;
};

Figures measure(const std::string& dir, int cells, int cols) {
    int rows = cells / cols;
    DKTable t;
    build(t, rows, cols);
    const std::string path = dir + "/table-" + std::to_string(cells) + ".xml";
    const std::string out = dir + "/saved-" + std::to_string(cells) + ".xml";
    const std::string csv = dir + "/table-" + std::to_string(cells) + ".csv";
    if (!t.saveTable(path, false)) {
        std::fprintf(stderr, "cannot save %s\n", path.c_str());
        std::exit(1);
    }
    Figures f{};
    f.bytes = std::filesystem::file_size(path);
    // Loaded tables are freed outside the timed bodies: loading is what is measured.
    std::unique_ptr<DKTable> loaded;
    auto m = interleavedMedians(7, {
                                       [&] {
                                           if (!expatOnly(path)) std::exit(1);
                                       },
                                       [&] {
                                           TablesXML parser;
                                           if (!parser.initWithFile(path)) std::exit(1);
                                       },
                                       [&] { loaded.reset(); },
                                       [&] {
                                           loaded = std::make_unique<DKTable>();
                                           if (!loaded->loadTable(path) || loaded->numberOfRows() != rows)
                                               std::exit(1);
                                       },
                                       [&] { t.getFileStream(); },
                                       [&] {
                                           if (!t.saveTable(out, false)) std::exit(1);
                                       },
                                       [&] {
                                           if (!t.exportCSV(csv)) std::exit(1);
                                       },
                                       [&] { loaded.reset(); },
                                       [&] {
                                           loaded = std::make_unique<DKTable>();
                                           if (!loaded->loadCSV(csv) || loaded->numberOfRows() != rows)
                                               std::exit(1);
                                       },
                                   });
    f.expat = m[0];
    f.parse = m[1];
    f.load = m[3];
    f.text = m[4];
    f.save = m[5];
    f.csvExport = m[6];
    f.csvLoad = m[8];
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    int cells = argc > 1 ? std::atoi(argv[1]) : 1000000;
    int cols = argc > 2 ? std::atoi(argv[2]) : 20;
    auto dir = std::filesystem::temp_directory_path() / "bench_tables";
    std::filesystem::create_directories(dir);

    std::printf("%-9s %6s %9s %9s %9s %9s %9s %8s %8s\n", "cells", "MB", "expat ms", "parse ms", "load ms",
                "text ms", "save ms", "load/ex", "save/ex");
    Figures first{};
    for (int scale = 1; scale <= 2; ++scale) {
        Figures f = measure(dir.string(), cells * scale, cols);
        std::printf("%-9d %6.1f %9.1f %9.1f %9.1f %9.1f %9.1f %8.2f %8.2f\n", cells * scale, f.bytes / 1e6,
                    f.expat, f.parse, f.load, f.text, f.save, f.load / f.expat, f.save / f.expat);
        if (scale == 1)
            first = f;
        else
            std::printf(
                "growth for twice the cells: expat x%.2f, load x%.2f, text x%.2f, save x%.2f, "
                "csv load x%.2f, csv export x%.2f\n",
                f.expat / first.expat, f.load / first.load, f.text / first.text, f.save / first.save,
                f.csvLoad / first.csvLoad, f.csvExport / first.csvExport);
        std::printf("  csv: load %.1f ms (%.2f of the XML load), export %.1f ms (%.2f of the XML save)\n",
                    f.csvLoad, f.csvLoad / f.load, f.csvExport, f.csvExport / f.save);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
