// The fixed file version read from a version resource block as it lies in memory.
#include "platform/version_resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace qxr::platform {
namespace {

// The layout as Windows lays it out, written here rather than taken from the reader, so that
// a wrong constant there fails: the fixed part after the header and the key "VS_VERSION_INFO"
// (6 + 32 bytes, padded to 40), 52 bytes long, beginning with its signature.
constexpr std::size_t kAt = 40;
constexpr std::size_t kSize = 52;
constexpr uint32_t kSignature = 0xFEEF04BD;

// A block with the file version 1.2.3.4 and nothing after its fixed part.
std::vector<unsigned char> Block() {
    std::vector<unsigned char> block(kAt + kSize, 0);
    const auto put16 = [&block](std::size_t at, uint32_t value) {
        block[at] = static_cast<unsigned char>(value);
        block[at + 1] = static_cast<unsigned char>(value >> 8);
    };
    const auto put32 = [&put16](std::size_t at, uint32_t value) {
        put16(at, value & 0xFFFF);
        put16(at + 2, value >> 16);
    };
    put16(0, static_cast<uint32_t>(block.size()));
    put16(2, kSize);
    const char key[] = "VS_VERSION_INFO";
    for (std::size_t i = 0; i < sizeof key; ++i)
        put16(6 + 2 * i, static_cast<unsigned char>(key[i]));
    put32(kAt, kSignature);
    put32(kAt + 8, 0x00010002);
    put32(kAt + 12, 0x00030004);
    return block;
}

TEST(VersionResourceTest, FixedFileVersionOrNothing) {
    const struct {
        const char* name;
        std::size_t at;  // byte changed, or past the end for none
        unsigned char value;
        std::size_t size;  // 0: the whole block
        bool found;
    } cases[] = {
        {"the shipped form", 9999, 0, 0, true},
        {"empty fixed part", 2, 0, 0, false},
        {"other key", 6, 'X', 0, false},
        {"bad signature", kAt, 0, 0, false},
        {"cut short", 9999, 0, kAt + kSize - 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> block = Block();
        if (c.at < block.size()) block[c.at] = c.value;
        FileVersion version{9, 9, 9, 9};
        EXPECT_EQ(ReadFixedFileVersion(block.data(), c.size != 0 ? c.size : block.size(), &version),
                  c.found);
        if (c.found) {
            EXPECT_EQ(version.major, 1);
            EXPECT_EQ(version.minor, 2);
            EXPECT_EQ(version.build, 3);
            EXPECT_EQ(version.revision, 4);
        }
    }
}

}  // namespace
}  // namespace qxr::platform
