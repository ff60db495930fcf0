// Option parsing with the semantics every handler was written for.
//
// This is the classic BSD parser: arguments are taken in order and never
// permuted (parsing stops at the first word that is not an option, or after
// "--"), a letter is looked up from the start of the option string (so a
// letter listed twice keeps its first form), and vorel_optreset = 1 with
// vorel_optind = 1 starts a new parse of a new (or the same) vector.
// glibc's getopt permutes by default and resets differently, hence our own.
#pragma once

extern int vorel_optind;   // index of the next word to parse (starts at 1)
extern int vorel_optopt;   // the letter last looked at
extern int vorel_opterr;   // nonzero: complain on standard error (default 1)
extern int vorel_optreset; // set to 1 (with vorel_optind = 1) to restart
extern char *vorel_optarg; // argument of the option just returned

// The next option letter, '?' for an unknown letter or a missing argument
// (':' for a missing argument when optstring begins with ':'), or -1 when
// the options end.
int vorel_getopt(int argc, char *const argv[], const char *optstring);

// Restarts parsing at the first argument.
void vorel_getopt_reset();

// For options that also consume the word after their argument: the word at
// vorel_optind (advancing past it), or null when the vector has ended.
// vorel_optind never passes argc.
const char *vorel_getopt_next_word(int argc, char *const argv[]);
