#include "boxart_cli.h"

int main(int argc, char **argv) { return boxart_main(argc, argv, stdout, stderr); }
