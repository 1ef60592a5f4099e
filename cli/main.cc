#include "cli/commands.h"

int main(int argc, char** argv) { return PoolctlMain(argc, argv); }
