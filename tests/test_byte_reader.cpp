#include <gtest/gtest.h>

#include "formats/byte_reader.h"
#include "formats/checksum.h"

using namespace modtext;

namespace {
Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string str(ByteView v) { return std::string(v.begin(), v.end()); }
}  // namespace

TEST(ByteReader, ReadsLittleEndianAndRefusesToLeaveTheBuffer) {
    const Bytes data{0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x0A};
    ByteReader reader(data);
    std::uint32_t u = 0;
    std::int32_t i = 0;
    std::uint16_t h = 0;
    ASSERT_TRUE(reader.read_u32(u));
    EXPECT_EQ(u, 0x04030201u);
    ASSERT_TRUE(reader.read_i32(i));
    EXPECT_EQ(i, -1);
    EXPECT_FALSE(reader.read_u16(h));  // one byte left
    EXPECT_EQ(reader.position(), 8u);
    EXPECT_FALSE(reader.read_u32(u));
    EXPECT_EQ(u, 0x04030201u);  // a failed read leaves the destination alone

    std::array<std::uint8_t, 2> two{};
    EXPECT_FALSE(reader.read_bytes(two));
    EXPECT_EQ(reader.position(), 8u);
    EXPECT_TRUE(reader.seek(9));
    EXPECT_TRUE(reader.at_end());
    EXPECT_FALSE(reader.seek(10));
    EXPECT_FALSE(reader.seek(0xFFFFFFFFFFull));
    EXPECT_TRUE(reader.seek(2));
    EXPECT_FALSE(reader.skip(8));
    EXPECT_TRUE(reader.skip(7));
    ByteView view;
    EXPECT_FALSE(reader.read_view(1, view));
    EXPECT_TRUE(reader.read_view(0, view));
}

TEST(ByteReader, ExtentCheckDoesNotOverflow) {
    EXPECT_TRUE(extent_within(0, 0, 0));
    EXPECT_TRUE(extent_within(10, 5, 15));
    EXPECT_FALSE(extent_within(10, 6, 15));
    EXPECT_FALSE(extent_within(16, 0, 15));
    EXPECT_FALSE(extent_within(0xFFFFFFFFu, 0xFFFFFFFFu, 0x100));
    EXPECT_FALSE(extent_within(1, ~std::uint64_t{0}, 100));
}

TEST(ByteReader, LinesEndAtLineFeedsWithOrWithoutCarriageReturn) {
    const Bytes data = bytes_of("ab\r\n\r\ncd\nef\r\r\nlast\r");
    ByteReader reader(data);
    std::vector<std::string> lines;
    while (!reader.at_end()) lines.push_back(str(reader.read_line()));
    // Only the carriage return right before a line feed is part of the line end;
    // the last line, with no line feed, is taken whole.
    EXPECT_EQ(lines, (std::vector<std::string>{"ab", "", "cd", "ef\r", "last\r"}));
}

TEST(ByteReader, LongLinesAreReadWhole) {
    std::string line(100000, 'x');
    line += "SpeakString";
    const Bytes data = bytes_of(line + "\r\nnext");
    ByteReader reader(data);
    EXPECT_EQ(str(reader.read_line()), line);
    EXPECT_EQ(str(reader.read_line()), "next");
    EXPECT_TRUE(reader.at_end());
}

TEST(ByteReader, StoresAndLoadsWords) {
    Bytes out;
    append_u32(out, 0xA1B2C3D4u);
    EXPECT_EQ(out, (Bytes{0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_EQ(load_u32(out.data()), 0xA1B2C3D4u);
    EXPECT_EQ(load_u16(out.data() + 2), 0xA1B2u);
}

TEST(Checksum, TellsBytesApartWhateverTheirPieces) {
    Bytes data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    Checksum whole;
    whole.update(data);
    // Fed in uneven pieces, the same bytes give the same checksum.
    Checksum pieces;
    for (std::size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 37 + 1) {
        pieces.update(ByteView(data).subspan(at, std::min(step, data.size() - at)));
    }
    EXPECT_EQ(pieces.value(), whole.value());
    // One bit changed anywhere, a byte more or less: another checksum.
    for (std::size_t at : {0u, 31u, 32u, 500u, 999u}) {
        Bytes changed = data;
        changed[at] ^= 0x10;
        Checksum other;
        other.update(changed);
        EXPECT_NE(other.value(), whole.value()) << at;
    }
    Checksum shorter, zero_longer;
    shorter.update(ByteView(data).first(999));
    Bytes longer = data;
    longer.push_back(0);
    zero_longer.update(longer);
    EXPECT_NE(shorter.value(), whole.value());
    EXPECT_NE(zero_longer.value(), whole.value());
}
