#include <cstdio>

int main() {
    std::puts("The Zygomet window is not built yet.");
    return 0;
}
