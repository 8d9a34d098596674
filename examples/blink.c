/* Blinks an LED on P1.0 twice a second.
 *
 * Fits every AT89S chip (the AT89S2051 included). Crystal 11.0592 MHz; the
 * LED hangs from VCC through a resistor to P1.0, so a 0 lights it. */
#include <8051.h>

#define LED P1_0

/* Timer 0 in mode 1 counts machine cycles (crystal / 12). 46080 cycles are
 * 50 ms at 11.0592 MHz. */
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

void main(void)
{
    TMOD = (TMOD & 0xF0) | 0x01; /* timer 0, mode 1, 16-bit */
    for (;;) {
        LED = 0;
        wait_ms50(5);
        LED = 1;
        wait_ms50(5);
    }
}
