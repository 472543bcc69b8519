// omatool's commands. Each takes its own arguments (after the command name) and returns the
// process exit code: 0 success, 1 a failure reported as {"error": ...}, 2 a usage error.
#pragma once

#include <string>
#include <vector>

using TArgs = std::vector<std::string>;

int CmdParse(const TArgs& args);
int CmdBuild(const TArgs& args);
int CmdDecodeBlock(const TArgs& args);
int CmdMeasure(const TArgs& args);
int CmdReplay(const TArgs& args);
int CmdListen(const TArgs& args);
int CmdExport(const TArgs& args);

// measure's argument names a job trace file when it is not made of a radii group's characters
// alone (digits, blanks, signs) and names an existing file or holds a "." or a path separator;
// anything else is a radii text, as before files were read.
bool NamesJobFile(const std::string& argument);
int CmdMeasureJob(const std::string& fileName);

// Shared by the commands.
// Reads a whole file, or standard input for an empty name or "-". Raises std::runtime_error.
std::string ReadInput(const std::string& file);
// Prints {"error": message} on standard output and returns 1.
int Fail(const std::string& message);
// Prints a usage message on standard error and returns 2.
int Usage(const std::string& message);
