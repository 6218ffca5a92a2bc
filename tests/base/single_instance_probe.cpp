// A stand-in for the window's start: exits with 3 at once when another
// instance runs; otherwise says "ready" and holds the lock until its
// standard input closes.
#include <unistd.h>

#include <cstdio>

#include "app/single_instance.h"

int main() {
    if (rk::AnotherInstanceRunning()) return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}
