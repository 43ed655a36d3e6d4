#pragma once
// Reads a terminal's output speed as a number (termios2), which tcgetattr cannot do for rates without
// a classic speed code. Apart from the tests' <termios.h>, with which <asm/termbits.h> clashes.
#include <string>

// 0 when the terminal cannot be read.
unsigned ExactOutputSpeed(int fd);
