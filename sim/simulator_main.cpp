#include <cstdio>
int main() { std::fprintf(stderr, "echogauge-sim: not built yet\n"); return 1; }
