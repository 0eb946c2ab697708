#include "run/ProgramVersion.h"

#include "run/Version.h"

std::string ProgramVersionText(std::string_view programName) {
    std::string text(programName);
    text += ' ';
    text += version::kProgramVersion;
    return text;
}
