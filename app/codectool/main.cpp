// tovik-codec: converts one SECS-II message between SML text and hex text.
// main() only picks a subcommand from the table below; each subcommand is a
// function over its arguments and the standard streams.
#include "CVeltSecsII.h"
#include "MsgFileCommands.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

constexpr int kOk = 0;
constexpr int kBadInput = 1;
constexpr int kUsage = 2;

std::string readAll(std::FILE* in) {
    std::string text;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
        text.append(buf, n);
    return text;
}

// Hex text holds nothing but hex digits and blank space.
bool looksLikeHex(const std::string& text) {
    bool digit = false;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            digit = true;
        else if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return digit;
}

int fail(const std::string& error) {
    std::cerr << "tovik-codec: " << error << '\n';
    return kBadInput;
}

int toHex(const Args&) {
    tovik::CVeltSecsII codec;
    codec.SetSmlText(readAll(stdin));
    if (!codec.GetLastError().empty())
        return fail(codec.GetLastError());
    std::cout << codec.GetHexMessage() << '\n';
    return kOk;
}

int toSml(const Args&) {
    tovik::CVeltSecsII codec;
    codec.SetHexMessage(readAll(stdin));
    if (!codec.GetLastError().empty())
        return fail(codec.GetLastError());
    std::cout << codec.GetSmlText() << '\n';
    return kOk;
}

int check(const Args&) {
    const std::string input = readAll(stdin);
    tovik::CVeltSecsII codec;
    const bool hex = looksLikeHex(input);
    bool withStreamFunction = true;
    if (hex) {
        codec.SetHexMessage(input);
    } else {
        codec.SetSmlText(input);
        // A bare body prints back without its first line.
        withStreamFunction = codec.GetSmlText().rfind('s', 0) == 0;
    }
    if (!codec.GetLastError().empty())
        return fail(codec.GetLastError());
    std::cout << (hex ? "hex: " : "sml: ") << codec.Summary(withStreamFunction) << '\n';
    return kOk;
}

struct Command {
    const char* name;
    const char* arguments; // shown in the usage text
    std::size_t argumentCount;
    int (*run)(const Args&);
    const char* help;
};

int listFile(const Args& args) {
    return tovik::RunListCommand(args[0], std::cout, std::cerr);
}

int formatFile(const Args& args) {
    return tovik::RunFormatCommand(args[0], std::cout, std::cerr);
}

const Command kCommands[] = {
    {"to-hex", "", 0, toHex,
     "SML text on stdin -> the message's hex text (header, then body) as one line"},
    {"to-sml", "", 0, toSml, "hex text on stdin -> the message's SML text"},
    {"check", "", 0, check,
     "SML or hex text on stdin -> one line: '<hex|sml>: <s1f13w>, <HSMS|SECS-I> header, "
     "<n>-byte body'"},
    {"list", "FILE", 1, listFile,
     "message file -> one line per definition: name TAB S<s>F<f> TAB SML|HEX"},
    {"format", "FILE", 1, formatFile,
     "message file -> the file exactly as Tovik stores it (CR LF line ends)"},
};

void usage(std::ostream& out) {
    out << "usage: tovik-codec COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& c : kCommands) {
        std::string head = std::string(c.name) + (*c.arguments ? " " : "") + c.arguments;
        out << "  " << head << std::string(head.size() < 12 ? 12 - head.size() : 1, ' ')
            << c.help << '\n';
    }
    out << "\nexit status: 0 success, 1 bad input (one line on stderr), 2 usage error\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(std::cout);
        return kOk;
    }
    if (argc < 2) {
        usage(std::cerr);
        return kUsage;
    }
    const Args args(argv + 2, argv + argc);
    for (const auto& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0)
            continue;
        if (args.size() != c.argumentCount) {
            std::cerr << "tovik-codec: " << c.name << " takes "
                      << (c.argumentCount ? c.arguments : "no arguments") << '\n';
            return kUsage;
        }
        return c.run(args);
    }
    std::cerr << "tovik-codec: unknown command '" << argv[1] << "' (see --help)\n";
    return kUsage;
}
