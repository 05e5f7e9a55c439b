/* The header compiles as C and the library links and answers. */
#include "nxtka.h"

#include <stdio.h>

int main(void) {
    ActivationParams p = {7, 10, 0, 38400};
    double v = 0.0;
    char name[NXTKA_DEVICE_NAME_MAX];
    int failures = 0;
    if (TKAversion() != 0x00010035) { puts("TKAversion"); ++failures; }
    if (TKArevision() != 0x00000020) { puts("TKArevision"); ++failures; }
    if (TKAactivateExtended(5, &p) != -1) { puts("size 7 accepted"); ++failures; }
    if (TKAread(5, &v) != -1) { puts("read on an inactive port"); ++failures; }
    if (NXgetDeviceName(5, name, (int32_t)sizeof name) <= 0) { puts("NXgetDeviceName"); ++failures; }
    printf("%d passed, %d failed\n", 5 - failures, failures);
    return failures == 0 ? 0 : 1;
}
