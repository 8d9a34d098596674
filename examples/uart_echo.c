/* Greets on the serial port and echoes every character it receives.
 *
 * 9600 baud, 8 data bits, no parity, 1 stop bit, with an 11.0592 MHz crystal
 * (timer 1 in auto-reload mode as the baud-rate generator). Fits every AT89S
 * chip. P1.0 toggles with each character received. */
#include <8051.h>

#define LED P1_0

static void put(char c)
{
    TI = 0;
    SBUF = c;
    while (!TI)
        ;
}

static void put_text(__code const char *text)
{
    while (*text)
        put(*text++);
}

void main(void)
{
    SCON = 0x50; /* mode 1, receiver on */
    TMOD = (TMOD & 0x0F) | 0x20; /* timer 1, mode 2 (8-bit auto-reload) */
    TH1 = 0xFD; /* 11.0592 MHz / 12 / 32 / 3 = 9600 baud */
    TL1 = 0xFD;
    TR1 = 1;

    put_text("AT89S serial echo, 9600 8N1\r\n");
    for (;;) {
        char c;
        while (!RI)
            ;
        c = SBUF;
        RI = 0;
        LED = !LED;
        put(c);
        if (c == '\r')
            put('\n');
    }
}
