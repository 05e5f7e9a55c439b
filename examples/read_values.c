/* The first example of the README as a whole program: activates port 3 on a
 * device, prints its protocol level, then waits for values with poll() on the
 * port's event and prints them until `count` have come (or the line fails).
 *
 *   read_values /dev/ttyUSB0 100
 */
#include <nxtka.h>

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    const char *device = argc > 1 ? argv[1] : "/dev/ttyUSB0";
    long count = argc > 2 ? strtol(argv[2], NULL, 10) : 100;

    NXsetDeviceName(3, device);              /* port 3 opens this device (default /dev/ttyS3) */
    if (TKAactivate(3, 10000) != 0) {        /* ring of 10000 values, 38400 bit/s */
        fprintf(stderr, "no amplifier on %s\n", device);
        return 1;                            /* not there, busy, or not answering */
    }
    printf("protocol level %d\n", TKAmodel(3));

    struct pollfd wait = {NXrequestEvent(3), POLLIN, 0};  /* readable while values wait */
    double v;
    unsigned char status;
    long seen = 0;
    while (seen < count) {
        if (poll(&wait, 1, 2000) == 0) {     /* nothing for 2 s: the stream may be off */
            fprintf(stderr, "no values for 2 s\n");
            break;
        }
        int r = 0;
        while (seen < count && (r = TKAreadStatus(3, &v, &status)) == 1) {
            printf("%f (status %u)\n", v, status);
            ++seen;
        }
        if (r < 0) break;                    /* the line failed: release the port */
    }
    TKArelease(3);
    return seen == count ? 0 : 1;
}
