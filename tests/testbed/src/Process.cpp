#include "testbed/Process.h"

#include "platform/System.h"
#include "testbed/Files.h"

namespace testbed {

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
    ChildProcess process(program, arguments, options);
    return process.Wait();
}

std::vector<std::string> SplitArguments(std::string_view commandLine) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    char quote = '\0';
    for (const char c : commandLine) {
        if (quote != '\0') {
            if (c == quote)
                quote = '\0';
            else
                current += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inArgument = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inArgument) arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) arguments.push_back(std::move(current));
    return arguments;
}

std::size_t OpenFileCount() { return system::OpenFileCount(); }

ProcessResult RunCli(std::string_view commandLine, const ProcessOptions& options) {
    return RunProcess(BuiltProgram("flashwright-cli"), SplitArguments(commandLine), options);
}

}  // namespace testbed
