// tovik-codec list and format over real files: the shipped examples and
// broken files, with their exact output and exit status.
#include "MsgFileCommands.h"
#include "MsgFileFormat.h"

#include <gtest/gtest.h>

#include <sstream>

#include "../common/files.h"

namespace fs = std::filesystem;
using namespace tovik;

namespace {

const fs::path kExamples = TOVIK_EXAMPLES_DIR;

struct CommandRun {
    int status;
    std::string out, err;
};

using Command = int (*)(const std::string&, std::ostream&, std::ostream&);

template <Command command> CommandRun run(const fs::path& p) {
    std::ostringstream out, err;
    const int status = command(p.string(), out, err);
    return {status, out.str(), err.str()};
}
const auto list = run<RunListCommand>;
const auto format = run<RunFormatCommand>;

// A message file in a scratch folder of its own.
struct TempFile {
    explicit TempFile(const std::string& bytes) { test::writeFile(path(), bytes); }
    fs::path path() const { return dir / "doc.tvkm"; }
    test::ScratchDir dir;
};

} // namespace

TEST(ListCommand, ExamplesListEveryDefinitionDecoded) {
    const CommandRun r = list(kExamples / "equipment.tvkm");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "S1F2 On Line Data\tS1F2\tSML\n"
                     "S1F4 Selected Status Data\tS1F4\tSML\n"
                     "S1F14 Establish Communications Ack\tS1F14\tSML\n"
                     "S2F18 Date and Time Data\tS2F18\tSML\n"
                     "S2F32 Date and Time Set Ack\tS2F32\tSML\n"
                     "S2F34 Define Report Ack\tS2F34\tSML\n"
                     "S2F36 Link Event Report Ack\tS2F36\tSML\n"
                     "S2F38 Enable Event Report Ack\tS2F38\tSML\n"
                     "S2F42 Host Command Ack\tS2F42\tSML\n"
                     "S5F2 Alarm Report Ack\tS5F2\tSML\n"
                     "S6F12 Event Report Ack\tS6F12\tHEX\n"
                     "S10F2 Terminal Display Ack\tS10F2\tHEX\n");
    EXPECT_EQ(list(kExamples / "handwritten.tvkm").out, "S1F1 Are You There\tS1F1\tSML\n"
                                                        "S1F2 On Line Data\tS1F2\tSML\n"
                                                        "S10F2 Terminal Display Ack\tS10F2\tHEX\n");
}

// The parser's report, then the file and line as a compiler gives them.
TEST(ListCommand, SyntaxErrorIsReportedWithFileAndLineAndFails) {
    TempFile f("'good'\nBegin List\ns1f1w\nEnd List\n'bad'\nBegin Lst\nEnd List\n");
    CommandRun r = list(f.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "good\tS1F1\tSML\n");
    EXPECT_EQ(r.err, "(6) parse error\nLast token was \"B\"\n" + f.path().string() + ":6: Syntax error\n");
    r = format(f.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "") << "no partial document";
    EXPECT_EQ(r.err, "(6) parse error\nLast token was \"B\"\n" + f.path().string() + ":6: Syntax error\n");
}

TEST(ListCommand, UndecodableTextsListAsTheCodecReadsThemAnUnreadableFileFails) {
    TempFile f("'junk'\nBegin List\nnot sml at all\nEnd List\n'short'\nBegin Msg\n0001\nEnd Msg\n");
    CommandRun r = list(f.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "junk\tS0F0\tSML\nshort\tS0F0\tHEX\n");
    r = list(f.dir / "no such file.tvkm");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind((f.dir / "no such file.tvkm").string() + ": cannot read: ", 0), 0u) << r.err;
}

TEST(FormatCommand, ShippedDocumentsAreInTheStoredForm) {
    for (const char* name : {"equipment.tvkm", "host.tvkm"}) {
        const CommandRun r = format(kExamples / name);
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, test::readFile(kExamples / name)) << name;
    }
}

TEST(FormatCommand, HandWrittenFileComesOutInTheStoredForm) {
    TempFile f("// note\n'a' begin list\ns1f1w\n\nend list\n'b'\n/** why\n*/\nBEGIN MSG 00 00 01 "
               "01 /* x */\nEND MSG");
    const CommandRun r = format(f.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, StoreMsgFile({}) + "'a'\r\nBegin List\r\ns1f1w\r\nEnd List\r\n\r\n"
                                    "'b'\r\n/**\r\n why\r\n*/\r\nBegin Msg\r\n00000101\r\nEnd Msg\r\n\r\n");
    // The stored form is a fixed point.
    TempFile again(r.out);
    EXPECT_EQ(format(again.path()).out, r.out);
}
