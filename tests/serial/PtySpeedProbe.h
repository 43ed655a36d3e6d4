#pragma once
// Reads a terminal's output speed as a number (termios2), which tcgetattr cannot do for rates without
// a classic speed code. Apart from the tests' <termios.h>, with which <asm/termbits.h> clashes.

// 0 when the terminal cannot be read. On a pty master it is the slave's speed.
unsigned ExactOutputSpeed(int fd);
