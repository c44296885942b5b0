// The entry point of every test program. Output is unbuffered: under Wine a test program's
// standard output is a file, and a program that ends abruptly would otherwise take everything
// it printed with it. It also means a test program that ran always leaves output behind (the
// filter note or the listing come first), which is how scripts/wine-run tells a program that
// Wine never started from one that failed.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
