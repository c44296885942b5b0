// tolvex-bench-table: reads the "ROW" lines of the benchmark programs from standard input (other
// lines are ignored) and prints them as one table. Exit code 1 when no row came.
#include "tools/bench/BenchTable.h"

#include <cstdio>
#include <iostream>
#include <string>

int main() {
    std::vector<BenchRow> rows;
    std::string line;
    while (std::getline(std::cin, line)) {
        BenchRow row;
        if (BenchTable::parseLine(line, row)) rows.push_back(row);
    }
    if (rows.empty()) {
        std::fprintf(stderr, "tolvex-bench-table: no result rows on standard input\n");
        return 1;
    }
    std::fputs(BenchTable::format(rows).c_str(), stdout);
    return 0;
}
