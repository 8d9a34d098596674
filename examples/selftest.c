/* Code-memory self test.
 *
 * The program carries a table that fills its chip's code memory up to the
 * last 512 bytes. Every table byte is a function of its index (low and high
 * byte both count, so an address line that is stuck or shorted shows), and at
 * start the program reads the table back with MOVC and compares each byte.
 * When all of them match, the LED on P1.0 blinks slowly (once a second);
 * when one does not, the LED on P1.1 blinks fast. A chip that passes was
 * programmed correctly over its whole memory.
 *
 * Built once per memory size with -DMEMORY_KB=2, 4, 8 or 12:
 *   2 KB  AT89S2051
 *   4 KB  AT89S51, AT89S4051
 *   8 KB  AT89S52, AT89S8252
 *  12 KB  AT89S53, AT89S8253
 * Crystal 11.0592 MHz. */
#include <8051.h>

#define LED_GOOD P1_0
#define LED_BAD P1_1

#define PATTERN(i) ((unsigned char)(((i) & 0xFF) * 37u + (((i) >> 8) & 0xFF) * 101u + 11u))

#define R1(i) PATTERN(i)
#define R4(i) R1(i), R1((i) + 1), R1((i) + 2), R1((i) + 3)
#define R16(i) R4(i), R4((i) + 4), R4((i) + 8), R4((i) + 12)
#define R64(i) R16(i), R16((i) + 16), R16((i) + 32), R16((i) + 48)
#define R256(i) R64(i), R64((i) + 64), R64((i) + 128), R64((i) + 192)
#define R512(i) R256(i), R256((i) + 256)
#define R1K(i) R512(i), R512((i) + 512)
#define R2K(i) R1K(i), R1K((i) + 1024)
#define R4K(i) R2K(i), R2K((i) + 2048)
#define R8K(i) R4K(i), R4K((i) + 4096)

__code const unsigned char table[] = {
#if MEMORY_KB == 2
    R1K(0), R512(1024)
#elif MEMORY_KB == 4
    R2K(0), R1K(2048), R512(3072)
#elif MEMORY_KB == 8
    R4K(0), R2K(4096), R1K(6144), R512(7168)
#elif MEMORY_KB == 12
    R8K(0), R2K(8192), R1K(10240), R512(11264)
#else
#error "MEMORY_KB must be 2, 4, 8 or 12"
#endif
};

#define TICKS_50MS 46080u
#define RELOAD (65536u - TICKS_50MS)

static void wait_50ms(void)
{
    TR0 = 0;
    TH0 = RELOAD >> 8;
    TL0 = RELOAD & 0xFF;
    TF0 = 0;
    TR0 = 1;
    while (!TF0)
        ;
    TR0 = 0;
}

static void wait_ms50(unsigned char n)
{
    while (n--)
        wait_50ms();
}

static __bit table_good(void)
{
    unsigned int i;
    for (i = 0; i < sizeof table; ++i)
        if (table[i] != PATTERN(i))
            return 0;
    return 1;
}

void main(void)
{
    TMOD = (TMOD & 0xF0) | 0x01;
    LED_GOOD = 1;
    LED_BAD = 1;
    if (table_good()) {
        for (;;) {
            LED_GOOD = !LED_GOOD;
            wait_ms50(10);
        }
    } else {
        for (;;) {
            LED_BAD = !LED_BAD;
            wait_ms50(2);
        }
    }
}
