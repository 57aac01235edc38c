// zygomet-plot-qq NUMBERS FILE: draws the Q-Q plot whose numbers
// zygomet-test --qq wrote into NUMBERS to FILE.png or FILE.svg. zygomet-test
// runs it, so that it starts without the toolkit itself.

#include <cstdio>
#include <string>

#include "charts/QqChart.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zygomet-plot-qq NUMBERS.csv FILE.png|FILE.svg\n");
        return 2;
    }
    const std::string fault = zyg::plotQqFile(argv[1], argv[2]);
    if (fault.empty()) return 0;
    std::fprintf(stderr, "%s\n", fault.c_str());
    return 1;
}
