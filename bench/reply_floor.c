/* The floor of the reply latency: the least any program can do on a pseudo-terminal. It opens the
 * line raw, blocks in read() and answers every read that holds a GS with one ACK. No event loop,
 * no second thread, no parsing: what is left is the kernel's wake-up and the tty layer.
 *
 *   reply_floor PATH     prints "ready" on standard output once the line is open */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: reply_floor PATH\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &tio);
    }
    if (write(STDOUT_FILENO, "ready\n", 6) != 6)
        return 1;
    char buffer[4096];
    const char ack = 0x06;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        if (memchr(buffer, 0x1d, (size_t)n) != NULL && write(fd, &ack, 1) != 1)
            return 1;
    }
}
