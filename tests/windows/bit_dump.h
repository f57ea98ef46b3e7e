/* The bit dump of representative library results (bit_dump.c), callable
 * from a test as well as from its own main program. */
#ifndef ORVEK_TESTS_WINDOWS_BIT_DUMP_H
#define ORVEK_TESTS_WINDOWS_BIT_DUMP_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes one line "label index value" per result: integers in decimal,
 * reals as the hexadecimal bits of their IEEE single-precision encoding. */
void orvek_bit_dump(FILE *stream);

#ifdef __cplusplus
}
#endif

#endif
