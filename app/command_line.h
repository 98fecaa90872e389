#pragma once

// The program: decodes the directory argument and runs the application
// body. Returns the exit status.
int runFromCommandLine(int argc, char** argv);
