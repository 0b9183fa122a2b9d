#include "image/HexReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/HexWriter.h"
#include "image/SrecReader.h"
#include "tests/engine/Sha256.h"

namespace {

constexpr std::uint8_t kUntouched = 0xAA;

// One record as a toolchain writes it: upper-case digits and a correct checksum.
std::string Record(std::uint8_t type, std::uint16_t address,
                   const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                       static_cast<std::uint8_t>(address >> 8),
                                       static_cast<std::uint8_t>(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string line = ":";
    for (std::uint8_t b : bytes) {
        line += kDigits[b >> 4];
        line += kDigits[b & 0xF];
    }
    return line;
}

std::string Data(std::uint16_t address, const std::vector<std::uint8_t>& data) {
    return Record(0, address, data);
}
std::string Linear(std::uint16_t value) {
    return Record(4, 0, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
std::string Segment(std::uint16_t value) {
    return Record(2, 0, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
const std::string kEnd = ":00000001FF";

std::vector<std::uint8_t> Bytes(std::uint8_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

std::string Lines(const std::vector<std::string>& lines, const char* ending = "\n") {
    std::string text;
    for (const auto& line : lines) text += line + ending;
    return text;
}

// A 2 MiB storage like the workspace's, marked so that writes beyond the capacity show.
class HexReaderTest : public ::testing::Test {
protected:
    HexReaderTest() : storage_(kImageStorageSize, kUntouched) {
        image_.imageBuffer = storage_.data();
    }

    // The text in a buffer of exactly its size, so that the sanitizer build sees any read
    // past its end.
    HexResult Read(const std::string& text) {
        std::fill(storage_.begin(), storage_.end(), kUntouched);
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        return ReadHexText(bytes.data(), bytes.size(), image_);
    }
    std::vector<std::uint8_t> ImageBytes(std::size_t from, std::size_t count) const {
        return std::vector<std::uint8_t>(storage_.begin() + from, storage_.begin() + from + count);
    }

    std::vector<std::uint8_t> storage_;
    FirmwareImage image_;
};

TEST_F(HexReaderTest, EndRecordAloneGivesEmptyImageAndErasedCapacity) {
    ASSERT_EQ(Read(kEnd + "\n"), HexOk);
    EXPECT_EQ(image_.imageStart, 0u);
    EXPECT_EQ(image_.imageLength, 0u);
    EXPECT_EQ(ImageBytes(0, kImageCapacity), std::vector<std::uint8_t>(kImageCapacity, 0xFF));
    EXPECT_EQ(storage_[kImageCapacity], kUntouched);  // the fill stops at the capacity
}

TEST_F(HexReaderTest, StartIsTheFirstDataRecordAndGapsStayErased) {
    ASSERT_EQ(Read(Lines({Linear(0x0800), Data(0x0000, Bytes(0x10, 16)),
                          Data(0x0020, Bytes(0x40, 16)), kEnd})),
              HexOk);
    EXPECT_EQ(image_.imageStart, 0x08000000u);
    EXPECT_EQ(image_.imageLength, 0x30u);
    EXPECT_EQ(ImageBytes(0x00, 16), Bytes(0x10, 16));
    EXPECT_EQ(ImageBytes(0x10, 16), std::vector<std::uint8_t>(16, 0xFF));
    EXPECT_EQ(ImageBytes(0x20, 16), Bytes(0x40, 16));
}

TEST_F(HexReaderTest, ImageSpansTheLowestToTheHighestRecordInAnyOrder) {
    // The same three records in every order give the same image: a record below the first
    // one read, and a last one that is not the highest, neither cut nor refused.
    const std::vector<std::string> records = {
        Data(0x1000, Bytes(0, 16)), Data(0x1020, Bytes(0x20, 16)), Data(0x1080, Bytes(0x80, 16))};
    std::vector<std::size_t> order = {0, 1, 2};
    do {
        std::vector<std::string> lines = {Linear(0x0800)};
        for (std::size_t i : order) lines.push_back(records[i]);
        lines.push_back(kEnd);
        ASSERT_EQ(Read(Lines(lines)), HexOk) << order[0] << order[1] << order[2];
        EXPECT_EQ(image_.imageStart, 0x08001000u);
        ASSERT_EQ(image_.imageLength, 0x90u);
        EXPECT_EQ(ImageBytes(0x00, 16), Bytes(0, 16));
        EXPECT_EQ(ImageBytes(0x10, 16), std::vector<std::uint8_t>(16, 0xFF));
        EXPECT_EQ(ImageBytes(0x20, 16), Bytes(0x20, 16));
        EXPECT_EQ(ImageBytes(0x30, 0x50), std::vector<std::uint8_t>(0x50, 0xFF));
        EXPECT_EQ(ImageBytes(0x80, 16), Bytes(0x80, 16));
        EXPECT_EQ(ImageBytes(0x90, kImageCapacity - 0x90),
                  std::vector<std::uint8_t>(kImageCapacity - 0x90, 0xFF));
    } while (std::next_permutation(order.begin(), order.end()));

    // Where records overlap, the later one wins, also below the first record read.
    ASSERT_EQ(Read(Lines({Data(0x0108, Bytes(0x10, 8)), Data(0x0100, Bytes(0x20, 12)),
                          Data(0x0104, {0xEE}), kEnd})),
              HexOk);
    EXPECT_EQ(image_.imageStart, 0x100u);
    EXPECT_EQ(ImageBytes(0, 16),
              (std::vector<std::uint8_t>{0x20, 0x21, 0x22, 0x23, 0xEE, 0x25, 0x26, 0x27, 0x28, 0x29,
                                         0x2A, 0x2B, 0x14, 0x15, 0x16, 0x17}));

    // Records in another memory region make the span too large in either order; so does
    // RAM at 0x20000000, a whole multiple of 128 MiB above flash.
    for (std::uint16_t region : {0x0900, 0x2000, 0x0000}) {
        EXPECT_EQ(Read(Lines({Linear(0x0800), Data(0, {1}), Linear(region), Data(0, {2}), kEnd})),
                  HexTooLarge)
            << region;
        EXPECT_EQ(Read(Lines({Linear(region), Data(0, {2}), Linear(0x0800), Data(0, {1}), kEnd})),
                  HexTooLarge)
            << region;
    }
}

TEST_F(HexReaderTest, CapacityMayBeReachedExactlyButNotPassed) {
    // The last record ends at offset 0x100000 from a start of 0x08000000.
    const std::vector<std::string> body = {Linear(0x0800), Data(0, {0x11}), Linear(0x080F),
                                           Data(0xFFF0, Bytes(0x80, 16))};
    std::vector<std::string> exact = body;
    exact.push_back(kEnd);
    ASSERT_EQ(Read(Lines(exact)), HexOk);
    EXPECT_EQ(image_.imageLength, kImageCapacity);
    EXPECT_EQ(ImageBytes(kImageCapacity - 16, 16), Bytes(0x80, 16));
    EXPECT_EQ(storage_[kImageCapacity], kUntouched);

    std::vector<std::string> over = {Linear(0x0800), Data(0, {0x11}), Linear(0x080F),
                                     Data(0xFFF1, Bytes(0x80, 16)), kEnd};
    EXPECT_EQ(Read(Lines(over)), HexTooLarge);
    EXPECT_EQ(storage_[kImageCapacity], kUntouched);

    // The same span reached downwards: the highest record first, then the lowest.
    ASSERT_EQ(Read(Lines({Linear(0x080F), Data(0xFFF0, Bytes(0x80, 16)), Linear(0x0800),
                          Data(0x0010, {0x22}), Data(0, {0x11}), kEnd})),
              HexOk);
    EXPECT_EQ(image_.imageStart, 0x08000000u);
    EXPECT_EQ(image_.imageLength, kImageCapacity);
    EXPECT_EQ(ImageBytes(0, 2), (std::vector<std::uint8_t>{0x11, 0xFF}));
    EXPECT_EQ(storage_[0x10], 0x22);
    EXPECT_EQ(ImageBytes(kImageCapacity - 16, 16), Bytes(0x80, 16));
    EXPECT_EQ(Read(Lines({Linear(0x080F), Data(0xFFF1, Bytes(0x80, 16)), Linear(0x0800),
                          Data(0x0010, {0x22}), Data(0, {0x11}), kEnd})),
              HexTooLarge);
}

TEST_F(HexReaderTest, ImageMustEndWithinTheAddressSpace) {
    // Ending exactly at the top is fine; one record byte beyond it is not, nor a start
    // address that the linear and the segment base carry beyond 32 bits.
    ASSERT_EQ(Read(Lines({Linear(0xFFFF), Data(0xFFF0, Bytes(1, 16)), kEnd})), HexOk);
    EXPECT_EQ(image_.imageStart, 0xFFFFFFF0u);
    EXPECT_EQ(image_.imageLength, 16u);
    EXPECT_EQ(Read(Lines({Linear(0xFFFF), Data(0xFFF8, Bytes(1, 16)), kEnd})), HexTooLarge);
    EXPECT_EQ(Read(Lines({Linear(0xFFFF), Segment(0x1000), Data(0, {1}), kEnd})), HexTooLarge);
    // The upload pads the image to whole words, which must not wrap round to address 0.
    EXPECT_EQ(Read(Lines({Linear(0xFFFF), Data(0xFFFC, Bytes(1, 3)), kEnd})), HexOk);
    EXPECT_EQ(Read(Lines({Linear(0xFFFF), Data(0xFFFD, Bytes(1, 3)), kEnd})), HexTooLarge);
}

TEST_F(HexReaderTest, SegmentAndLinearBasesBothApply) {
    // 0x00010000 + 0x1000 * 16 + 0x0004.
    ASSERT_EQ(Read(Lines({Linear(0x0001), Segment(0x1000), Data(0x0004, {0xAB}), kEnd})), HexOk);
    EXPECT_EQ(image_.imageStart, 0x00020004u);
    // A later segment record shifts the following data too.
    ASSERT_EQ(Read(Lines({Data(0x0000, {1}), Segment(0x0001), Data(0x0000, {2}), kEnd})), HexOk);
    EXPECT_EQ(image_.imageLength, 0x11u);
    EXPECT_EQ(storage_[0x10], 2);
}

TEST_F(HexReaderTest, LowerCaseCrLfBlanksAndBlankLinesAreAccepted) {
    std::string lower = Data(0x0000, Bytes(0xA0, 16));
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string text =
        "\r\n  " + Linear(0x0800) + " \t\r\n\r\n" + lower + "\r\n   \r\n" + kEnd + "  \r\n";
    ASSERT_EQ(Read(text), HexOk);
    EXPECT_EQ(image_.imageStart, 0x08000000u);
    EXPECT_EQ(image_.imageLength, 16u);
    EXPECT_EQ(ImageBytes(0, 16), Bytes(0xA0, 16));

    // Lines that end in a carriage return alone, with and without a last line end.
    const std::string lines =
        Lines({Linear(0x0800), Data(0, Bytes(0xA0, 16)), Data(0x10, {7})}, "\r");
    std::vector<std::uint8_t> expected = Bytes(0xA0, 16);
    expected.push_back(7);
    for (const std::string& crOnly : {lines + kEnd + "\r", lines + kEnd, lines + " \r\r" + kEnd}) {
        ASSERT_EQ(Read(crOnly), HexOk) << crOnly;
        EXPECT_EQ(ImageBytes(0, image_.imageLength), expected) << crOnly;
    }
}

TEST_F(HexReaderTest, StartRecordsAndUnknownTypesChangeNothing) {
    const std::string plain = Lines({Data(0x0200, Bytes(1, 8)), kEnd});
    const std::string mixed =
        Lines({Record(3, 0, {0x12, 0x34, 0x56, 0x78}), Data(0x0200, Bytes(1, 8)),
               Record(5, 0, {0x08, 0x00, 0x01, 0x01}), Record(0x06, 0x10, {1}), Record(0xFF, 0, {}),
               kEnd});
    ASSERT_EQ(Read(plain), HexOk);
    const auto expected = storage_;
    const FirmwareImage expectedImage = image_;
    ASSERT_EQ(Read(mixed), HexOk);
    EXPECT_EQ(image_.imageStart, expectedImage.imageStart);
    EXPECT_EQ(image_.imageLength, expectedImage.imageLength);
    EXPECT_TRUE(storage_ == expected);
}

TEST_F(HexReaderTest, ChecksumUsesTheLowEightBitsOfItsField) {
    std::string bad = Data(0x0000, {1, 2, 3});
    bad.back() = bad.back() == '0' ? '1' : '0';
    EXPECT_EQ(Read(Lines({bad, kEnd})), HexBadChecksum);

    // Sums far above 255 wrap: 16 bytes of 0xFF.
    EXPECT_EQ(Read(Lines({Data(0x0000, std::vector<std::uint8_t>(16, 0xFF)), kEnd})), HexOk);

    // 01 0000 00 FE sums to 0xFF, so its checksum is 0x01; "-F" reads as 0xFFFFFFF1,
    // whose low 8 bits are 0xF1.
    EXPECT_EQ(Read(":01000000FE01\n" + kEnd), HexOk);
    EXPECT_EQ(Read(":01000000FE-F\n" + kEnd), HexBadChecksum);
    // A record whose checksum is 0xFF, written as "-1" (0xFFFFFFFF), passes.
    EXPECT_EQ(Read(":0000000001-1\n" + kEnd), HexOk);
}

TEST_F(HexReaderTest, MalformedRecordsAreBadFormat) {
    EXPECT_EQ(Read(""), HexBadFormat);
    EXPECT_EQ(Read(":00000001F\n"), HexBadFormat);         // 10 characters
    EXPECT_EQ(Read("00000001FF\n" + kEnd), HexBadFormat);  // no colon
    EXPECT_EQ(Read(";00000001FF\n"), HexBadFormat);
    EXPECT_EQ(Read(Lines({Record(4, 0, {0x08, 0x00, 0x00}), kEnd})), HexBadFormat);  // count 3
    EXPECT_EQ(Read(Lines({Record(2, 0, {0x10}), kEnd})), HexBadFormat);              // count 1
}

TEST_F(HexReaderTest, TextWithoutEndRecordIsBadFormat) {
    EXPECT_EQ(Read(Lines({Data(0x0000, Bytes(0, 16))})), HexBadFormat);
    EXPECT_EQ(Read("\n\n  \r\n"), HexBadFormat);
    // Anything after the end record is not read.
    EXPECT_EQ(Read(Lines({Data(0x0000, {7}), kEnd, "garbage"})), HexOk);
    EXPECT_EQ(image_.imageLength, 1u);
}

TEST_F(HexReaderTest, FieldsBeyondTheEndOfTheLineAreBadFormat) {
    // Byte count 0x10 with 2 data bytes and a matching checksum: 10+00+00+00+01+02 = 0x13.
    EXPECT_EQ(Read(":10000000"
                   "0102"
                   "ED\n" +
                   kEnd),
              HexBadFormat);
    // Extended linear address with byte count 2 in an 11-character line: 02+00+00+04 = 06.
    EXPECT_EQ(Read(":020000"
                   "04"
                   "FA\n" +
                   kEnd),
              HexBadFormat);
    // Promising 255 bytes in a 13-character line.
    EXPECT_EQ(Read(":FF000000"
                   "01"
                   "00\n" +
                   kEnd),
              HexBadFormat);
    // One byte too many: 3 bytes where the line holds 2 with the checksum as the second.
    EXPECT_EQ(Read(":03000000AB52\n" + kEnd), HexBadFormat);
    // The same as the text's last line, with nothing after it to read.
    EXPECT_EQ(Read(":03000000AB52"), HexBadFormat);
    EXPECT_EQ(Read(":03000000AFD"), HexBadFormat);  // 12 characters: the exact path
}

TEST_F(HexReaderTest, FieldsMayReachExactlyToTheEndOfTheLine) {
    // Count 1 in an 11-character line: the data byte is the checksum's two characters.
    ASSERT_EQ(Read(":01000000FF\n" + kEnd), HexOk);
    EXPECT_EQ(image_.imageLength, 1u);
    EXPECT_EQ(storage_[0], 0xFF);
    // Count 2 in a 12-character line: the second byte is the single last character, "E".
    ASSERT_EQ(Read(":020000001FE\n" + kEnd), HexOk);
    EXPECT_EQ(image_.imageLength, 2u);
    EXPECT_EQ(storage_[0], 0x1F);
    EXPECT_EQ(storage_[1], 0x0E);
    // A linear address record of 12 characters takes its value from the last three, "0FA",
    // which are also the checksum's "FA" (02+00+00+04 = 6).
    ASSERT_EQ(Read(":020000040FA\n" + Data(0, {1}) + "\n" + kEnd), HexOk);
    EXPECT_EQ(image_.imageStart, 0x00FA0000u);
}

TEST_F(HexReaderTest, FieldsReadAsCConversionReadsThem) {
    // Address "0x10" (prefix, lower case): the checksum groups read "0x" as 0 and "10".
    // 01 00 10 00 5A -> sum 0x6B, checksum 0x95.
    ASSERT_EQ(Read(":010x10005A95\n" + kEnd), HexOk);
    EXPECT_EQ(image_.imageStart, 0x10u);
    EXPECT_EQ(storage_[0], 0x5A);
    // A blank inside a field and a plus sign: " 1" is 1, "+3" is 3. Record 01 0200 00 03:
    // sum 0x06, checksum 0xFA.
    ASSERT_EQ(Read(": 1020000+3FA\n" + kEnd), HexOk);
    EXPECT_EQ(image_.imageStart, 0x200u);
    EXPECT_EQ(storage_[0], 0x03);
    // Conversion stops at the first non-digit: "3G" is 3; "GG" is 0. Record 02 0000 00 03 00.
    ASSERT_EQ(Read(":020000003GGGFB\n" + kEnd), HexOk);
    EXPECT_EQ(storage_[0], 0x03);
    EXPECT_EQ(storage_[1], 0x00);
}

TEST_F(HexReaderTest, NulEndsTheLine) {
    // The line is taken up to its first NUL, so what follows it is never seen.
    const std::string withNul = std::string(":00000001FF") + '\0' + "junk\n";
    EXPECT_EQ(Read(withNul), HexOk);
    const std::string cut =
        Data(0, Bytes(0, 16)).substr(0, 20) + '\0' + Data(0, Bytes(0, 16)).substr(20);
    EXPECT_EQ(Read(cut + "\n" + kEnd), HexBadChecksum);
    // A line that is empty up to its NUL is a blank line.
    EXPECT_EQ(Read(std::string(1, '\0') + "xyz\n" + kEnd), HexOk);
}

TEST_F(HexReaderTest, NonAsciiBytesAreNeitherDigitsNorBlanks) {
    EXPECT_EQ(Read("\xA0" + kEnd + "\n"), HexBadFormat);  // not trimmed as a blank
    std::string record = Data(0, {0xAB});                 // ":01000000ABxx"
    record[9] = static_cast<char>(0xC1);                  // no digit: the byte reads as 0
    EXPECT_EQ(Read(record + "\n" + kEnd), HexBadChecksum);
}

TEST_F(HexReaderTest, ZeroLengthRecordAtOffsetZeroKeepsStoredBytesInPlace) {
    // Once data is stored, a record bringing the write position back to 0 must not make
    // the next record the image start again (that would move the stored bytes).
    ASSERT_EQ(
        Read(Lines({Data(0x0100, Bytes(1, 4)), Data(0x0100, {}), Data(0x0104, Bytes(5, 4)), kEnd})),
        HexOk);
    EXPECT_EQ(image_.imageStart, 0x100u);
    EXPECT_EQ(image_.imageLength, 8u);
    EXPECT_EQ(ImageBytes(0, 8), Bytes(1, 8));
    // Before anything is stored, each data record still sets the start.
    ASSERT_EQ(Read(Lines({Data(0x0200, {}), Data(0x0100, Bytes(1, 4)), kEnd})), HexOk);
    EXPECT_EQ(image_.imageStart, 0x100u);
    EXPECT_EQ(image_.imageLength, 4u);
}

TEST_F(HexReaderTest, DiagnosisNamesTheLine) {
    const std::string text = Lines({Data(0, {1}), "", ":0100000001FF", kEnd});
    HexDiagnosis diagnosis;
    EXPECT_EQ(ReadHexText(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), image_,
                          diagnosis),
              HexBadChecksum);
    EXPECT_EQ(diagnosis.lineNumber, 3u);
    EXPECT_STREQ(diagnosis.reason, "the record's checksum does not match");
    // Blank lines count, also right after a record whose byte count overstates its line.
    const std::string blanks = ":01000000FF\n\n\n:0100000001FF\n" + kEnd;
    EXPECT_EQ(ReadHexText(reinterpret_cast<const std::uint8_t*>(blanks.data()), blanks.size(),
                          image_, diagnosis),
              HexBadChecksum);
    EXPECT_EQ(diagnosis.lineNumber, 4u);
    const std::string noEnd = Lines({Data(0, {1}), Data(1, {2})});
    EXPECT_EQ(ReadHexText(reinterpret_cast<const std::uint8_t*>(noEnd.data()), noEnd.size(), image_,
                          diagnosis),
              HexBadFormat);
    EXPECT_STREQ(diagnosis.reason, "the text ends without an end-of-file record");
    EXPECT_STREQ(HexResultName(HexTooLarge), "HexTooLarge");
    // A span too large names the addresses it would have taken.
    const std::string wide =
        Lines({Linear(0x0810), Data(0, {1}), Linear(0x0800), Data(0, {2}), kEnd});
    EXPECT_EQ(ReadHexText(reinterpret_cast<const std::uint8_t*>(wide.data()), wide.size(), image_,
                          diagnosis),
              HexTooLarge);
    EXPECT_EQ(diagnosis.lineNumber, 4u);
    EXPECT_EQ(diagnosis.spanFirst, 0x08000000u);
    EXPECT_EQ(diagnosis.spanEnd, 0x08100001u);
}

// The fast path for plain records must give what the exact conversion gives, on texts
// that are mostly plain but carry every kind of damage. Undamaged texts, whose records
// come in any order, must give the image their records describe.
TEST_F(HexReaderTest, FastPathAgreesWithExactConversion) {
    std::mt19937 random(20240611);
    const std::string alphabet = "0123456789ABCDEFabcdef:xX+- \t\r\n\0G\xC1";
    // A small capacity keeps the rounds quick; the records stay well inside it.
    constexpr std::uint32_t kCapacity = 0x1000;
    std::vector<std::uint8_t> fastStorage(2 * kCapacity);
    std::vector<std::uint8_t> exactStorage(2 * kCapacity);
    int okCount = 0;
    int modelCount = 0;
    for (int round = 0; round < 5000; ++round) {
        std::vector<std::string> lines;
        std::map<std::uint32_t, std::uint8_t> model;  // address to byte, the last record's
        std::uint32_t linear = 0;
        std::uint32_t segment = 0;
        if (random() % 2) {
            linear = static_cast<std::uint32_t>(random() % 3);
            lines.push_back(Linear(static_cast<std::uint16_t>(linear)));
        }
        const int records = 1 + static_cast<int>(random() % 6);
        for (int r = 0; r < records; ++r) {
            const auto kind = random() % 10;
            // Mostly close together, in any order; now and then far enough to pass the capacity.
            const auto address =
                static_cast<std::uint16_t>(random() % (random() % 8 ? 0x80 : 0x1400));
            if (kind == 0) {
                segment = static_cast<std::uint32_t>(random() % 4);
                lines.push_back(Segment(static_cast<std::uint16_t>(segment)));
            } else if (kind == 1) {
                lines.push_back(Record(5, 0, {8, 0, 0, 0}));
            } else {
                const auto bytes = Bytes(static_cast<std::uint8_t>(random()), random() % 20);
                lines.push_back(Data(address, bytes));
                for (std::size_t k = 0; k < bytes.size(); ++k)
                    model[(linear << 16) + (segment << 4) + address +
                          static_cast<std::uint32_t>(k)] = bytes[k];
            }
        }
        lines.push_back(kEnd);
        std::string text = Lines(lines, random() % 2 ? "\n" : "\r\n");
        const int damage = std::max(0, static_cast<int>(random() % 6) - 2);
        for (int d = 0; d < damage; ++d) {
            const std::size_t at = random() % text.size();
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
                case 0:
                    text[at] = c;
                    break;
                case 1:
                    text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c);
                    break;
                default:
                    text.erase(at, 1);
                    break;
            }
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        FirmwareImage fast{fastStorage.data(), 0, 0, kCapacity};
        FirmwareImage exact{exactStorage.data(), 0, 0, kCapacity};
        std::fill(fastStorage.begin(), fastStorage.end(), kUntouched);
        std::fill(exactStorage.begin(), exactStorage.end(), kUntouched);
        const HexResult fastResult = ReadHexText(bytes, text.size(), fast);
        const HexResult exactResult = ReadHexTextExact(bytes, text.size(), exact);
        ASSERT_EQ(fastResult, exactResult) << "text:\n" << text;
        if (damage == 0) {
            ++modelCount;
            const std::uint32_t lowest = model.empty() ? 0 : model.begin()->first;
            const std::uint32_t end = model.empty() ? 0 : model.rbegin()->first + 1;
            ASSERT_EQ(fastResult, end - lowest <= kCapacity ? HexOk : HexTooLarge) << text;
            if (fastResult == HexOk) {
                ASSERT_EQ(fast.imageStart, lowest) << text;
                ASSERT_EQ(fast.imageLength, end - lowest) << text;
                std::vector<std::uint8_t> expected(kCapacity, 0xFF);
                for (const auto& [address, value] : model) expected[address - lowest] = value;
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), fastStorage.begin()))
                    << text;
            }
        }
        if (fastResult != HexOk) continue;
        ++okCount;
        ASSERT_EQ(fast.imageStart, exact.imageStart) << text;
        ASSERT_EQ(fast.imageLength, exact.imageLength) << text;
        ASSERT_TRUE(fastStorage == exactStorage) << text;
    }
    EXPECT_GT(okCount, 1000) << "too few rounds loaded an image to compare: " << okCount;
    EXPECT_GT(modelCount, 1000) << "too few undamaged rounds: " << modelCount;
}

// A job read back is written as HEX text; the reader must take it back to the very
// same span, erased bytes at both ends included, or a restored job would differ.
TEST_F(HexReaderTest, WrittenTextReadsBackToTheSameImage) {
    struct Case {
        std::uint32_t start;
        std::uint32_t length;
    };
    const Case cases[] = {
        {0x0800FFF5, 40},              // a record would cross 64 KiB: split there
        {0xFFFFFFC0, 64},              // ends at the top of the address space
        {0x08000000, kImageCapacity},  // the whole capacity, many address records
        {0x08000000, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes(c.length);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
        if (!bytes.empty()) bytes.front() = bytes.back() = 0xFF;
        const std::string text = HexTextOf(bytes.data(), bytes.size(), c.start);

        ASSERT_EQ(Read(text), HexOk) << std::hex << c.start;
        EXPECT_EQ(image_.imageLength, c.length) << std::hex << c.start;
        if (c.length != 0) {
            EXPECT_EQ(image_.imageStart, c.start);
        }
        EXPECT_TRUE(ImageBytes(0, c.length) == bytes) << std::hex << c.start;
        for (std::size_t at = 0; (at = text.find(':', at)) != std::string::npos; ++at) {
            const unsigned count = std::stoul(text.substr(at + 1, 2), nullptr, 16);
            const unsigned address = std::stoul(text.substr(at + 3, 4), nullptr, 16);
            EXPECT_LE(address + count, 0x10000u) << text.substr(at, 12);
            EXPECT_LE(count, kHexRecordBytes);
        }
    }
}

TEST(NextLine, SplitsAtLineFeedsAndLoneCarriageReturns) {
    const std::string text = "a\r\n\nbc\nd";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    LineCursor cursor;
    std::string_view line;
    std::vector<std::string> lines;
    std::vector<std::size_t> ends;
    while (NextLine(bytes, text.size(), cursor, line)) {
        lines.emplace_back(line);
        ends.push_back(cursor.lineEnd);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a\r", "", "bc", "d"}));
    EXPECT_EQ(ends, (std::vector<std::size_t>{2, 3, 6, 8}));
    EXPECT_FALSE(NextLine(bytes, text.size(), cursor, line));  // stays exhausted

    const std::string returns = "a\rb\r\r\nc\r";
    cursor = LineCursor{};
    lines.clear();
    while (NextLine(reinterpret_cast<const std::uint8_t*>(returns.data()), returns.size(), cursor,
                    line))
        lines.emplace_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "\r", "c"}));
}

TEST(NextLine, FinalLineFeedGivesNoExtraLine) {
    for (const std::string text : {"x\n", "x"}) {
        LineCursor cursor;
        std::string_view line;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        ASSERT_TRUE(NextLine(bytes, text.size(), cursor, line));
        EXPECT_EQ(line, "x");
        EXPECT_FALSE(NextLine(bytes, text.size(), cursor, line)) << text.size();
    }
    LineCursor cursor;
    std::string_view line;
    EXPECT_FALSE(NextLine(nullptr, 0, cursor, line));
}

TEST(HexReaderFile, MissingFileIsOpenFailedAndLeavesTheBufferAlone) {
    std::vector<std::uint8_t> storage(kImageStorageSize, kUntouched);
    FirmwareImage image;
    image.imageBuffer = storage.data();
    image.imageStart = 0x1234;
    image.imageLength = 0x5678;
    std::string detail;
    EXPECT_EQ(ReadHexFile("/nonexistent/dir/x.hex", image, detail), HexOpenFailed);
    EXPECT_EQ(image.imageStart, 0u);
    EXPECT_EQ(image.imageLength, 0u);
    EXPECT_EQ(storage[0], kUntouched);
    EXPECT_NE(detail.find("No such file"), std::string::npos) << detail;
}

TEST(Sha256, StandardCheckValues) {
    using testing_sha256::Sha256Hex;
    const std::string abc = "abc";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 448 bits: the padding spills into a second block.
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(two.data()), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::vector<std::uint8_t> million(1000000, 'a');
    EXPECT_EQ(Sha256Hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Real files from other toolchains, and files split and reordered from them, with the
// images that objcopy makes of them.
struct RealHexFile {
    const char* path;  // in the test data folder
    HexResult result;
    std::uint32_t start;
    std::uint32_t length;
    const char* sha256;
};

const RealHexFile kRealHexFiles[] = {
    {"real-hex/keil_smartcar_bt_f103.hex", HexOk, 0x08000000, 8100,
     "379e6f965c076ea0e47d411a44192b3520bcf56fc7f9bb87eb3423968890866c"},
    {"real-hex/st_stemwin_STM32100B.hex", HexOk, 0x08000000, 115708,
     "8a18e80ce7f997724734b8d6b774b77526385c338d63b849e7394ab5bad6c8f5"},
    {"real-hex/st_stemwin_STM324xG.hex", HexOk, 0x08000000, 746548,
     "8411d0249328399b10983a29728eace1d8dbc7cc3bb18720f5a94593005dbab2"},
    {"real-hex/st_cubef1_nucleo_f103rb_demo.hex", HexOk, 0x08000000, 34575,
     "397aeac3f2dd41ccc1024dda66895b021408dbca8af297089e151a87359e9090"},
    {"real-hex/gcc_artificial_skin_f103.hex", HexOk, 0x08000000, 21440,
     "385f17f6aa1a0017fa8603bb37bf0b2469736fbb9495652183548d0464853afb"},
    {"real-hex/bluescsi_usb_bootloader_f103.hex", HexOk, 0x08000000, 6560,
     "8484039e3fe1e604adea025bfce472d9043f37764a0e2e1490a56ad5dd805a5e"},
    // Its 2,100,736-byte span is more than the capacity.
    {"real-hex/bincopy_empty_main.hex", HexTooLarge, 0, 0, ""},
    // Bootloader, configuration block at the end of flash, application: the last record
    // read is not the highest.
    {"split-hex/boot_config_app.hex", HexOk, 0x08000000, 131072,
     "4549cd245d0f41fcf4ae59d75272a06ad77743417d3fa3ddba0546e775d9cd58"},
    {"split-hex/descending_cubef1_demo.hex", HexOk, 0x08000000, 34575,
     "397aeac3f2dd41ccc1024dda66895b021408dbca8af297089e151a87359e9090"},
    {"split-hex/interleaved_boot_app.hex", HexOk, 0x08000000, 29632,
     "1832f316389ed44679b385cddeb8be8ccdf458059cee66f1a1511049af6e8430"},
    {"split-hex/cr_only_keil_smartcar.hex", HexOk, 0x08000000, 8100,
     "379e6f965c076ea0e47d411a44192b3520bcf56fc7f9bb87eb3423968890866c"},
    // S-record files made from the HEX files above: the same images (one moved to 0).
    {"real-srec/st_cubef1_nucleo_f103rb_demo.srec", HexOk, 0x08000000, 34575,
     "397aeac3f2dd41ccc1024dda66895b021408dbca8af297089e151a87359e9090"},
    {"real-srec/keil_smartcar_bt_f103_at0.s19", HexOk, 0x00000000, 8100,
     "379e6f965c076ea0e47d411a44192b3520bcf56fc7f9bb87eb3423968890866c"},
    {"real-srec/bincopy_empty_main.s28", HexTooLarge, 0, 0, ""},
};

class RealHexFileTest : public ::testing::TestWithParam<RealHexFile> {};

TEST_P(RealHexFileTest, GivesTheImageObjcopyGives) {
    const RealHexFile& file = GetParam();
    std::vector<std::uint8_t> storage(kImageStorageSize, kUntouched);
    FirmwareImage image;
    image.imageBuffer = storage.data();
    std::string detail;
    const std::filesystem::path path = std::filesystem::path(MARRO_TEST_DATA_DIR) / file.path;
    const bool hex = path.extension() == ".hex";
    const HexResult result =
        hex ? ReadHexFile(path, image, detail) : ReadSrecFile(path, image, detail);
    ASSERT_EQ(result, file.result) << detail;
    if (file.result != HexOk) return;
    EXPECT_EQ(image.imageStart, file.start);
    ASSERT_EQ(image.imageLength, file.length);
    EXPECT_EQ(testing_sha256::Sha256Hex(image.imageBuffer, image.imageLength), file.sha256);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealHexFileTest, ::testing::ValuesIn(kRealHexFiles),
                         [](const ::testing::TestParamInfo<RealHexFile>& info) {
                             std::string name = info.param.path;
                             name = name.substr(name.rfind('/') + 1);
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

}  // namespace
