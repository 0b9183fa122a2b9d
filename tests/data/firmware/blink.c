/* A small Cortex-M3 firmware for the loading tests: a vector table, code, initialised data
   that the start-up copies from flash to RAM, and zeroed data. Built freestanding, without
   a C library. */
#include <stdint.h>

extern uint32_t _sidata, _sdata, _edata, _sbss, _ebss, _estack;

void Reset_Handler(void);
void Default_Handler(void);

/* Stored in flash, run from RAM: their bytes in the image are where flash holds them. */
volatile uint32_t blink_period = 0x00C0FFEE;
volatile uint8_t pattern[24] = {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233,
                                 0xA5, 0x5A, 0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
/* Zeroed by the start-up: no part of the image. */
volatile uint32_t ticks;
volatile uint32_t history[64];

__attribute__((section(".isr_vector"), used)) void (*const vector_table[16])(void) = {
    (void (*)(void))&_estack, Reset_Handler,   Default_Handler, Default_Handler,
    Default_Handler,          Default_Handler, Default_Handler, 0,
    0,                        0,               0,               Default_Handler,
    Default_Handler,          0,               Default_Handler, Default_Handler,
};

/* A configuration block of its own further up in flash: the image has a gap before it. */
__attribute__((section(".config"), used)) const uint32_t config_block[4] = {
    0x434F4E46, 0x00000001, 0x08000000, 0xFFFF0000};

#define GPIOC_ODR (*(volatile uint32_t *)0x4001100C)

void Default_Handler(void) {
    for (;;) {
    }
}

static void delay(uint32_t count) {
    while (count--) ticks++;
}

void Reset_Handler(void) {
    for (uint32_t *src = &_sidata, *dst = &_sdata; dst < &_edata;) *dst++ = *src++;
    for (uint32_t *dst = &_sbss; dst < &_ebss;) *dst++ = 0;
    for (uint32_t i = 0;; ++i) {
        GPIOC_ODR ^= 1u << 13;
        history[i % 64] = pattern[i % 24];
        delay(blink_period);
    }
}
