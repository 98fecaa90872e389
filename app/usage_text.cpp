#include "app/usage_text.h"

#include "app/options.h"

const char kUsageLine[] = "Usage: avdconv [OPTIONS] [DIRECTORY]\n";

std::string helpText() {
  return std::string(kUsageLine) +
         "       avdconv --help | -h | --version\n"
         "\n"
         "Finds every archive NAME.avd (any file whose name ends in avd) in DIRECTORY\n"
         "and below it, converts H.264 recordings to NAME.flv (NAME.mp4 with --format\n"
         "mp4) and MJPEG recordings to NAME.avi next to them, and deletes an archive\n"
         "once its output is complete and on stable storage.\n"
         "\n"
         "Without DIRECTORY, or with \"\", \".\" or \"./\", the program's own directory\n"
         "is converted.\n"
         "\n"
         "Options come before DIRECTORY; \"--\" ends them:\n" +
         optionHelpLines() +
         "\n"
         "A file already at an output's name is replaced by the new output only once\n"
         "that is complete. An archive that cannot be converted is kept, and listed\n"
         "with the reason on standard error.\n"
         "\n"
         "Exit status:\n"
         "  0      every archive was converted, or kept for its content or because\n"
         "         it is in use\n"
         "  1      something failed\n"
         "  2      a bad option or value; nothing was scanned\n"
         "  128+N  interrupted by signal N (130 for Ctrl-C)\n";
}

const char kVersionText[] = "Vantrel Archiv File Converter 1.1\n";
