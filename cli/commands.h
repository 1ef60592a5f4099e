// The command front end: the five commands of the command table and the
// legacy option mode.
#ifndef CLI_COMMANDS_H_
#define CLI_COMMANDS_H_

// A command receives its own argument vector: argv[0] is the command word, so
// that the option parser's diagnostics name the command. It returns the exit
// status and may throw.
using CommandHandler = int (*)(int argc, char** argv);

int ListCommand(int argc, char** argv);
int LoadCommand(int argc, char** argv);
int UnloadCommand(int argc, char** argv);
int EnableCommand(int argc, char** argv);
int DisableCommand(int argc, char** argv);

// The older calling convention on one group path; takes the program's own
// arguments, returns 0 to 4 and never throws.
int LegacyMain(int argc, char** argv);

// The whole program: signature check, routing, error report.
int PoolctlMain(int argc, char** argv);

#endif  // CLI_COMMANDS_H_
