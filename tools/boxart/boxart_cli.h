// The boxart command, callable in-process: boxart dump FILE.dat | boxart
// build TEXT -o FILE.dat, writing to `out` and `err`; returns the exit status.
#ifndef BOXART_CLI_H
#define BOXART_CLI_H

#include <cstdio>

int boxart_main(int argc, char **argv, FILE *out, FILE *err);

#endif
