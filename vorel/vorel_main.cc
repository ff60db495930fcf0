// Placeholder entry point until the command frame lands.
#include <cstdio>
int main() {
    std::fprintf(stderr, "vorel: not built yet\n");
    return 1;
}
