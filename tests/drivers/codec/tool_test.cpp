// tovik-codec as a user runs it: text on stdin, lines on stdout and stderr,
// the exit status.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>

#include "../../common/scratch.h"

using tovik::test::readFile;
using tovik::test::writeFile;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the tool with the input through files, so no pipe can fill up.
ToolRun runTool(const std::string& args, const std::string& input) {
    tovik::test::ScratchDir dir;
    writeFile(dir / "in", input);
    const std::string cmd = std::string(TOVIK_CODEC_TOOL) + " " + args + " < " + (dir / "in").string() + " > " +
                            (dir / "out").string() + " 2> " + (dir / "err").string();
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir / "out"), readFile(dir / "err")};
}

} // namespace

TEST(CodecTool, ToHexPrintsOneLineHeaderThenBody) {
    const ToolRun r = runTool("to-hex", "s1f13w{\t<a'M'>\t<a'1'>}\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0000810d800100000000"
                     "0102"
                     "41014d"
                     "410131\n");
    EXPECT_EQ(r.err, "");
}

TEST(CodecTool, ToSmlPrintsTheProgramDialect) {
    const ToolRun r = runTool("to-sml", "0000810d800100000000010241014d410131\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "s1f13w\n{\n\t<a'M'>\n\t<a'1'>\n}\n");
}

TEST(CodecTool, ExampleMessagesConvertBothWays) {
    for (const char* name : {"s1f13.sml", "s2f41.sml"}) {
        const std::string sml = readFile(std::string(TOVIK_EXAMPLES_DIR) + "/" + name);
        ASSERT_FALSE(sml.empty()) << name;
        const ToolRun hex = runTool("to-hex", sml);
        ASSERT_EQ(hex.status, 0) << hex.err;
        const ToolRun back = runTool("to-sml", hex.out);
        ASSERT_EQ(back.status, 0) << back.err;
        EXPECT_EQ(runTool("to-hex", back.out).out, hex.out) << name;
    }
    const std::string hex = readFile(std::string(TOVIK_EXAMPLES_DIR) + "/s6f11.hex");
    const ToolRun r = runTool("check", hex);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("hex: s6f11w, HSMS header, ", 0), 0u) << r.out;
}

// Texts that end in a backslash: a Windows folder, and a Shift-JIS
// character whose second byte is 0x5c; a quote inside a text prints as
// \x27, so the printed text loads back as it was.
TEST(CodecTool, TextsEndingInABackslashConvertBothWays) {
    ToolRun r = runTool("to-hex", "s7f3w {<a'C:\\RECIPES\\'> <a'\x95\x5c'>}");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "00008703800100000000" "0102" "410b433a5c524543495045535c" "4102955c\n");
    r = runTool("to-sml", "00000703800100000000" "0102" "4103275c27" "4102955c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "s7f3\n{\n\t<a'\\x27\\\\\\x27'>\n\t<a'\\x95\\\\'>\n}\n");
    EXPECT_EQ(runTool("to-hex", r.out).out, "00000703800100000000" "0102" "4103275c27" "4102955c\n");
}

TEST(CodecTool, CheckSaysWhatItRead) {
    EXPECT_EQ(runTool("check", "ffff0000000100000000").out, "hex: s0f0, HSMS header, 0-byte body\n");
    EXPECT_EQ(runTool("check", "S1F1 W\n<L [1] <U2 5>>\n.\n").out, "sml: s1f1w, SECS-I header, 6-byte body\n");
    EXPECT_EQ(runTool("check", "<b 0>").out, "sml: no stream/function, SECS-I header, 3-byte body\n");
}

TEST(CodecTool, BadInputExitsOneWithOneLine) {
    ToolRun r = runTool("to-hex", "s1f1w <u1 300>");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tovik-codec: SML line 1, column 11: bad or out-of-range u1 value '300'\n");
    r = runTool("to-sml", "00018101800100000000410541");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tovik-codec: hex: a item claims 5 bytes but only 1 follow at body byte 0\n");
    r = runTool("check", "");
    EXPECT_EQ(r.status, 1);
}

TEST(CodecTool, UsageErrorsExitTwo) {
    EXPECT_EQ(runTool("", "").status, 2);
    EXPECT_EQ(runTool("to-json", "").status, 2);
    EXPECT_EQ(runTool("to-hex extra", "").status, 2);
    const ToolRun help = runTool("--help", "");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("check"), std::string::npos);
}

// The message-file subcommands through the real executable: a script sees the
// definitions of a file in order, and the stored layout byte for byte.
TEST(CodecTool, ListsAndFormatsMessageFiles) {
    tovik::test::ScratchDir dir;
    const std::string file = (dir / "doc.tvkm").string();
    writeFile(file, "'Reply'\nbegin msg\n0000010200000000002a\nend msg\n"
                    "'Ask' /* online? */\nBegin List\ns1f1w\nEnd List\n"
                    "'Broken'\nBegin List\ns1f3w\n");

    const ToolRun list = runTool("list " + file, "");
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.out, "Reply\tS1F2\tHEX\nAsk\tS1F1\tSML\n");
    EXPECT_NE(list.err.find("Syntax error"), std::string::npos) << list.err;

    writeFile(file, "'Ask'\nBegin List\ns1f1w\nEnd List\n");
    const ToolRun format = runTool("format " + file, "");
    EXPECT_EQ(format.status, 0);
    EXPECT_NE(format.out.find("'Ask'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n"), std::string::npos) << format.out;

    // Texts whose last byte before the closing quote is a backslash load.
    writeFile(file, "'Path'\r\nBegin List\r\ns7f3\r\n<a'C:\\RECIPES\\'>\r\nEnd List\r\n"
                    "'\x95\x5c'\r\nBegin List\r\ns7f5\r\n<a'\x95\x5c'>\r\nEnd List\r\n");
    EXPECT_EQ(runTool("list " + file, "").out, "Path\tS7F3\tSML\n\x95\x5c\tS7F5\tSML\n");

    const ToolRun missing = runTool("list " + (dir / "none.tvkm").string(), "");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
}
