// tovik-codec as a user runs it: text on stdin, lines on stdout and stderr,
// the exit status.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>

#include "../../common/files.h"

using tovik::test::readFile;
using tovik::test::writeFile;

namespace {

struct ToolRun {
    int status = -1;
    std::string out, err;
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

TEST(CodecTool, ConvertsBothWaysOneMessagePerRun) {
    ToolRun r = runTool("to-hex", "s1f13w{\t<a'M'>\t<a'1'>}\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0000810d800100000000" "0102" "41014d" "410131\n");
    EXPECT_EQ(r.err, "");
    r = runTool("to-sml", "0000810d800100000000010241014d410131\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "s1f13w\n{\n\t<a'M'>\n\t<a'1'>\n}\n");
}

TEST(CodecTool, ExampleMessagesConvertBothWays) {
    const std::string examples = TOVIK_EXAMPLES_DIR;
    for (const char* name : {"s1f13.sml", "s2f41.sml"}) {
        const ToolRun hex = runTool("to-hex", readFile(examples + "/" + name));
        ASSERT_EQ(hex.status, 0) << hex.err;
        EXPECT_EQ(runTool("to-hex", runTool("to-sml", hex.out).out).out, hex.out) << name;
    }
    const ToolRun r = runTool("check", readFile(examples + "/s6f11.hex"));
    EXPECT_EQ(r.out.rfind("hex: s6f11w, HSMS header, ", 0), 0u) << r.out;
}

TEST(CodecTool, CheckSaysWhatItReadAndFaultsSetTheExitStatus) {
    EXPECT_EQ(runTool("check", "ffff0000000100000000").out, "hex: s0f0, HSMS header, 0-byte body\n");
    EXPECT_EQ(runTool("check", "S1F1 W\n<L [1] <U2 5>>\n.\n").out, "sml: s1f1w, SECS-I header, 6-byte body\n");
    EXPECT_EQ(runTool("check", "<b 0>").out, "sml: no stream/function, SECS-I header, 3-byte body\n");
    // Bad input: status 1 and one line on stderr.
    ToolRun r = runTool("to-hex", "s1f1w <u1 300>");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tovik-codec: SML line 1, column 11: bad or out-of-range u1 value '300'\n");
    r = runTool("to-sml", "00018101800100000000410541");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tovik-codec: hex: a item claims 5 bytes but only 1 follow at body byte 0\n");
    EXPECT_EQ(runTool("check", "").status, 1);
    // Usage errors: status 2.
    for (const char* args : {"", "to-json", "to-hex extra"})
        EXPECT_EQ(runTool(args, "").status, 2) << args;
    const ToolRun help = runTool("--help", "");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("check"), std::string::npos);
}

// The message-file subcommands reach the real executable; what they print is
// tested with the commands themselves.
TEST(CodecTool, ListsAndFormatsMessageFiles) {
    tovik::test::ScratchDir dir;
    const std::string file = (dir / "doc.tvkm").string();
    writeFile(file, "'Ask'\nBegin List\ns1f1w\nEnd List\n'Broken'\nBegin List\n");
    const ToolRun list = runTool("list " + file, "");
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.out, "Ask\tS1F1\tSML\n");
    EXPECT_NE(list.err.find("Syntax error"), std::string::npos) << list.err;
    writeFile(file, "'Ask'\nBegin List\ns1f1w\nEnd List\n");
    const ToolRun format = runTool("format " + file, "");
    EXPECT_EQ(format.status, 0);
    EXPECT_NE(format.out.find("'Ask'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n"), std::string::npos) << format.out;
}
