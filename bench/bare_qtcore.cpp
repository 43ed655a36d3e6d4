// The floor of starting a program on Qt Core: it loads the library, prints a version line as
// `uavctl --version` does, and ends. bench_uavctl_get times it beside uavctl, in the same run.
#include <QtGlobal>
#include <cstdio>

int main() {
    std::printf("bare Qt Core program, Qt %s\n", qVersion());
    return 0;
}
