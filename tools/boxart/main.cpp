#include "boxart_text.h"

int main(int argc, char **argv) { return boxart_main(argc, argv, stdout, stderr); }
