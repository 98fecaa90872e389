#pragma once

// The program: reads the options, decodes the directory argument and runs
// the application body. Returns the exit status.
int runFromCommandLine(int argc, char** argv);
