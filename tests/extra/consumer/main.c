#include <nxtka.h>
#include <stdio.h>

/* Calls with 0, 4 and 8 bytes of arguments: under 32-bit Windows each is a
   differently decorated name, and a wrong one would not link. */
int main(void) {
    const ActivationParams p = {7, 10, 0, 38400};
    double v = 0.0;
    const int32_t version = TKAversion();
    const int32_t model = TKAmodel(1023);
    const int32_t activated = TKAactivateExtended(1023, &p);
    const int32_t read = TKAread(1023, &v);
    printf("version %08x, model %d, activate %d, read %d\n", (unsigned)version, (int)model, (int)activated,
           (int)read);
    return version == 0x00010035 && model == -1 && activated == -1 && read == -1 ? 0 : 1;
}
