#pragma once
// The one result table of the benchmark. Each program of it writes its rows as tab-separated
// lines ("ROW", measurement, value, ratio, target, result) so that scripts/bench can gather the
// rows of several programs and print them as one table. Portable.
#include <string>
#include <vector>

struct BenchRow {
    std::string measurement;
    std::string value;   // with its unit: "412 us", "1520 /s"
    std::string ratio;   // to its reference, with the reference named: "3.8x floor"; "-" when none
    std::string target;  // "<= 12x", ">= 1.6x"; "-" when the issue sets none
    std::string result;  // "pass", "FAIL" or "-"
};

namespace BenchTable {

// The verdict for a measured figure against its target.
const char* verdict(bool met);

// "ROW\t..." (tabs and line breaks inside fields become blanks).
std::string toLine(const BenchRow& row);
// False (row untouched) for a line that is not a row of six fields.
bool parseLine(const std::string& line, BenchRow& row);

// A header, a rule and one line per row, columns aligned, two blanks between columns.
std::string format(const std::vector<BenchRow>& rows);

// Figures with a fitting number of digits: 3 significant digits, no exponent.
std::string number(double value);
// Microseconds: "87.5 us", "1.42 ms" from 1000 us on.
std::string micros(double us);
std::string ratio(double value, const std::string& reference);

}  // namespace BenchTable
