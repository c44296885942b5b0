#include "tools/bench/BenchTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace BenchTable {

namespace {

constexpr std::size_t kFields = 6;

std::string clean(const std::string& text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return out.empty() ? "-" : out;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

}  // namespace

const char* verdict(bool met) { return met ? "pass" : "FAIL"; }

std::string toLine(const BenchRow& row) {
    return "ROW\t" + clean(row.measurement) + "\t" + clean(row.value) + "\t" + clean(row.ratio) + "\t" +
           clean(row.target) + "\t" + clean(row.result);
}

bool parseLine(const std::string& text, BenchRow& row) {
    std::string line(text);
    // Lines from a Windows console end in CR LF.
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    const std::vector<std::string> fields = split(line);
    if (fields.size() != kFields || fields[0] != "ROW" || fields[1].empty()) return false;
    row = BenchRow{fields[1], fields[2], fields[3], fields[4], fields[5]};
    return true;
}

std::string format(const std::vector<BenchRow>& rows) {
    const std::vector<std::string> header = {"measurement", "value", "ratio to reference", "target", "result"};
    std::vector<std::vector<std::string>> cells;
    cells.push_back(header);
    for (const BenchRow& r : rows) cells.push_back({r.measurement, r.value, r.ratio, r.target, r.result});
    std::vector<std::size_t> width(header.size(), 0);
    for (const auto& line : cells) {
        for (std::size_t i = 0; i < line.size(); ++i) width[i] = std::max(width[i], line[i].size());
    }
    std::string out;
    auto emit = [&](const std::vector<std::string>& line) {
        std::string text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) text += std::string(width[i] - line[i].size() + 2, ' ');
        }
        out += text + "\n";
    };
    emit(cells[0]);
    std::size_t total = 0;
    for (std::size_t w : width) total += w + 2;
    out += std::string(total - 2, '-') + "\n";
    for (std::size_t i = 1; i < cells.size(); ++i) emit(cells[i]);
    return out;
}

std::string number(double value) {
    char text[64];
    const double magnitude = std::fabs(value);
    if (magnitude >= 100 || value == 0) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else if (magnitude >= 10) {
        std::snprintf(text, sizeof text, "%.1f", value);
    } else if (magnitude >= 1) {
        std::snprintf(text, sizeof text, "%.2f", value);
    } else {
        std::snprintf(text, sizeof text, "%.3g", value);
    }
    return text;
}

std::string micros(double us) {
    if (std::fabs(us) >= 1000) return number(us / 1000) + " ms";
    return number(us) + " us";
}

std::string ratio(double value, const std::string& reference) { return number(value) + "x " + reference; }

}  // namespace BenchTable
