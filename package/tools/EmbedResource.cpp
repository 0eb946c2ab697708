// Build tool: turns one data file into a C++ source holding its bytes.
// Usage: flashwright_embed_resource INPUT OUTPUT.cpp SYMBOL
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT.cpp SYMBOL\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string symbol = argv[3];

    std::string text;
    text.reserve(bytes.size() * 4 + 512);
    text += "// Generated from " + std::string(argv[1]) + "; do not edit.\n#include <cstddef>\n";
    text += "extern const unsigned char " + symbol + "[];\n";
    text += "extern const std::size_t " + symbol + "_size;\n";
    text += "alignas(16) const unsigned char " + symbol + "[] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 24 == 0) text += "\n";
        text += std::to_string(bytes[i]);
        text += ',';
    }
    if (bytes.empty()) text += "0";
    text += "\n};\nconst std::size_t " + symbol + "_size = " + std::to_string(bytes.size()) + ";\n";

    // Write to a temporary name first so an interrupted build never leaves half a file.
    const std::string output = argv[2];
    const std::string partial = output + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            std::fprintf(stderr, "cannot write %s\n", partial.c_str());
            return 1;
        }
    }
    if (std::rename(partial.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
