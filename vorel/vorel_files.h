// Guards for names that come from the command line, the kernel or an agent
// and end up in a file path or in a command: such a name never leaves the
// directory it is meant for.
#pragma once

#include <string>

// A name usable as one path component: not empty, no "/", not "." or "..".
bool vorel_is_safe_file_name(const char *name);

// A name from the kernel made fit for a file name: every "/" becomes "_"
// (so "a/../b" stays inside its directory as "a_.._b").
std::string vorel_file_name_from(const char *name);

// A package name as the package check accepts it: letters, digits, ".",
// "_" and "-" only, not empty.
bool vorel_is_safe_package_name(const char *name);

// Creates (or truncates) a file for writing without following a symbolic
// link at its last component; -1 with errno on failure.
int vorel_create_file(const std::string &path, int extra_flags = 0, int mode = 0644);
