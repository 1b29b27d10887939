#include <cstdio>
int main() { std::fprintf(stderr, "flashldr.exe: not built yet\n"); return 1; }
