#include <nxtka.h>
#include <stdio.h>

int main(void) {
    const int32_t v = TKAversion();
    printf("version %08x\n", (unsigned)v);
    return v == 0x00010035 ? 0 : 1;
}
