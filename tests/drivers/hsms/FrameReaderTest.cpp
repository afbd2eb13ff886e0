// The frame reader must give the same messages however TCP splits the stream,
// and must stop at a bad length field without reading further.
#include "HsmsFrameReader.h"
#include "frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tovik::hsms::FrameReader;
using namespace hsmstest;

namespace {

struct Outcome {
    std::vector<std::string> frames; // hex
    std::string error;
    std::size_t errorOffset = 0;
    bool midFrame = false;
};

// Feeds `stream` in chunks of `chunk` bytes (0: all at once).
Outcome run(const Bytes& stream, std::size_t chunk, std::uint32_t max = 1024) {
    FrameReader reader(max);
    Outcome out;
    std::vector<Bytes> frames;
    const std::size_t step = chunk == 0 ? stream.size() : chunk;
    for (std::size_t pos = 0; pos < stream.size(); pos += step) {
        const std::size_t n = std::min(step, stream.size() - pos);
        const auto error = reader.feed(stream.data() + pos, n, frames);
        if (error) {
            out.error = error->message;
            out.errorOffset = error->offset;
            EXPECT_TRUE(error->fatal);
            break;
        }
    }
    for (const Bytes& f : frames)
        out.frames.push_back(tovik::toHex(f));
    out.midFrame = reader.midFrame();
    return out;
}

const std::size_t kChunks[] = {0, 1, 2, 3, 5, 7, 13, 4096};

} // namespace

TEST(HsmsFrameReader, SameMessagesWholeAndInAnySplit) {
    const std::string select = "ffff0000000100000007";
    const std::string s1f1 = "00018101000000000008";
    const std::string s1f2 = "000101020000000000080102a20341424342"
                             "0101" +
                             std::string(400, 'a');
    const Bytes stream = concat({framed(select), framed(s1f1), framed(s1f2)});
    for (std::size_t chunk : kChunks) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        const Outcome out = run(stream, chunk);
        ASSERT_EQ(out.error, "");
        EXPECT_EQ(out.frames, (std::vector<std::string>{select, s1f1, s1f2}));
        EXPECT_FALSE(out.midFrame);
    }
}

TEST(HsmsFrameReader, IncompleteTailIsHeldNotDelivered) {
    Bytes stream = concat({framed("00018101000000000001"), framed("0001810300000000000200")});
    stream.resize(stream.size() - 1);
    for (std::size_t chunk : kChunks) {
        const Outcome out = run(stream, chunk);
        EXPECT_EQ(out.frames, std::vector<std::string>{"00018101000000000001"});
        EXPECT_TRUE(out.midFrame);
    }
    // Only part of a length field is a partial message too.
    EXPECT_TRUE(run(Bytes{0, 0}, 0).midFrame);
}

TEST(HsmsFrameReader, LengthBelowHeaderIsRejectedAfterEarlierMessages) {
    const Bytes stream =
        concat({framed("00018101000000000001"), Bytes{0, 0, 0, 9}, bytesOf("000181010000000000")});
    for (std::size_t chunk : kChunks) {
        const Outcome out = run(stream, chunk);
        EXPECT_EQ(out.frames, std::vector<std::string>{"00018101000000000001"});
        EXPECT_EQ(out.error, "message length 9 is shorter than the 10-byte header");
        EXPECT_EQ(out.errorOffset, 14u);
    }
    EXPECT_EQ(run(Bytes{0, 0, 0, 0}, 1).error,
              "message length 0 is shorter than the 10-byte header");
}

TEST(HsmsFrameReader, LengthAboveMaximumNamesBothAndNeverWaitsForTheBody) {
    // 2^31 with no body behind it: the error comes from the length alone.
    for (std::size_t chunk : kChunks) {
        const Outcome out = run(Bytes{0x80, 0, 0, 0}, chunk, 16u * 1024 * 1024);
        EXPECT_EQ(out.error, "message length 2147483648 is above the maximum of 16777216 bytes");
    }
    // The configured maximum itself is accepted, one more is not.
    const Bytes atMax = framed("00018101000000000001" + std::string(2 * 6, 'b'));
    EXPECT_EQ(run(atMax, 1, 16).error, "");
    EXPECT_EQ(run(atMax, 1, 16).frames.size(), 1u);
    EXPECT_EQ(run(atMax, 1, 15).error, "message length 16 is above the maximum of 15 bytes");
}

TEST(HsmsFrameReader, RefusesInputAfterAFaultAndResetStartsAfresh) {
    FrameReader reader(64);
    std::vector<Bytes> frames;
    const Bytes good = framed("00018101000000000001");
    reader.feed(good.data(), 9, frames); // a partial message, forgotten by reset()
    const Bytes bad{0xff, 0xff, 0xff, 0xff};
    reader.reset();
    ASSERT_TRUE(reader.feed(bad.data(), bad.size(), frames));
    EXPECT_TRUE(reader.feed(good.data(), good.size(), frames));
    EXPECT_TRUE(frames.empty());
    reader.reset();
    EXPECT_FALSE(reader.midFrame());
    EXPECT_FALSE(reader.feed(good.data(), good.size(), frames));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(tovik::toHex(frames[0]), "00018101000000000001");
}
