// qxrprobe: proves that programs of this build's architecture run under Wine here; the
// harness looks for this exact line (a program that cannot start may exit 0 silently).
#include <cstdio>

int main() {
#if defined(_WIN64)
    std::puts("qxrprobe runs: x86_64");
#else
    std::puts("qxrprobe runs: i686");
#endif
    return 0;
}
