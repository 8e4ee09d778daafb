// The result file's SHA-256 on each of its paths: the standard's test vectors, fed whole and in
// pieces, and the processor's SHA instructions against the portable code on random data cut
// at random places. The extraction hands the hash 32 KiB pieces, but a short read or a file
// that ends inside a block leaves a block half full before whole blocks arrive. And the pipe
// that hashes on a second thread what the extraction copies through its buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Sha256.h"
#include "Sha256Pipe.h"

namespace {

std::string Hex(const uint8_t (&digest)[32])
{
    std::string hex;
    for (uint8_t byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

// The paths that this processor can run: always the portable one.
std::vector<Sha256::Path> PathsHere()
{
    std::vector<Sha256::Path> paths = {Sha256::Path::Portable};
    if (Sha256::FastestPath() == Sha256::Path::ShaExtensions)
        paths.push_back(Sha256::Path::ShaExtensions);
    return paths;
}

const char* PathName(Sha256::Path path)
{
    return path == Sha256::Path::ShaExtensions ? "SHA extensions" : "portable";
}

// The data in pieces whose sizes repeat the given cycle.
std::string DigestInPieces(Sha256& hash, const std::string& data, const std::vector<size_t>& pieces)
{
    size_t at = 0;
    for (size_t i = 0; at < data.size(); ++i) {
        size_t piece = std::min(pieces[i % pieces.size()], data.size() - at);
        hash.Add(data.data() + at, piece);
        at += piece;
    }
    uint8_t digest[32];
    hash.Finish(digest);
    return Hex(digest);
}

}  // namespace

TEST(Sha256, MatchesTheStandardsTestVectorsOnEveryPathThisProcessorHas)
{
    std::printf("SHA-256 on this processor: %s\n", PathName(Sha256::FastestPath()));
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (Sha256::Path path : PathsHere()) {
        Sha256 hash(path);
        for (const Case& c : cases) {
            std::string shown = c.message.substr(0, 20);
            EXPECT_EQ(DigestInPieces(hash, c.message, {c.message.size() + 1}), c.digest)
                << PathName(path) << ": " << shown;
            // The object starts over after each digest, so the same one serves again.
            EXPECT_EQ(DigestInPieces(hash, c.message, {0x8000}), c.digest) << PathName(path) << ": " << shown;
            EXPECT_EQ(DigestInPieces(hash, c.message, {1, 63, 65, 1000, 4097, 64, 127}), c.digest)
                << PathName(path) << ": " << shown;
        }
    }
}

TEST(Sha256, ProcessorsInstructionsAgreeWithThePortableCodeOnRandomDataAndSplits)
{
    if (Sha256::FastestPath() != Sha256::Path::ShaExtensions)
        GTEST_SKIP() << "this processor has no SHA extensions: only the portable path runs here";
    std::mt19937 random(23);
    std::string data(20000, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    Sha256 portable(Sha256::Path::Portable);
    Sha256 extensions(Sha256::Path::ShaExtensions);
    for (int round = 0; round < 300; ++round) {
        std::string message = data.substr(0, random() % data.size());
        std::vector<size_t> pieces;
        for (int i = 0; i < 5; ++i)
            pieces.push_back(1 + random() % 300);
        std::string expected = DigestInPieces(portable, message, {message.size() + 1});
        ASSERT_EQ(DigestInPieces(extensions, message, pieces), expected) << message.size() << " bytes";
        ASSERT_EQ(DigestInPieces(portable, message, pieces), expected) << message.size() << " bytes";
    }
}

TEST(Sha256Pipe, DigestsWhatIsCopiedThroughItsBuffersAsTheHashInLineDoes)
{
    // Several files in a row, as an extraction copies them: full and short buffers, data
    // that is not one of the pipe's buffers between them, more buffers than the pipe has
    // at once, and a reset in the middle of a file.
    std::mt19937 random(7);
    Sha256Pipe pipe;
    uint8_t own[Sha256Pipe::BufferSize];
    for (int file = 0; file < 12; ++file) {
        SCOPED_TRACE(file);
        Sha256 expected;
        if (file == 5) {
            pipe.Buffer(own);
            pipe.Add("discarded", 9);
            pipe.Reset();
        }
        size_t pieces = random() % 40;
        for (size_t piece = 0; piece < pieces; ++piece) {
            size_t size = random() % 3 == 0 ? random() % Sha256Pipe::BufferSize : Sha256Pipe::BufferSize;
            uint8_t* buffer = piece % 7 == 3 ? own : pipe.Buffer(own);
            for (size_t i = 0; i < size; ++i)
                buffer[i] = static_cast<uint8_t>(random());
            expected.Add(buffer, size);
            pipe.Add(buffer, size);
        }
        uint8_t want[32], got[32];
        expected.Finish(want);
        pipe.Finish(got);
        EXPECT_EQ(Hex(got), Hex(want));
    }
}

TEST(Sha256Pipe, GivesTheSameBufferUntilItIsHandedBack)
{
    Sha256Pipe pipe;
    uint8_t own[Sha256Pipe::BufferSize];
    uint8_t* first = pipe.Buffer(own);
    EXPECT_EQ(pipe.Buffer(own), first) << "a copy that failed takes the same buffer again";
    pipe.Add(first, 1);
    uint8_t* second = pipe.Buffer(own);
    // With one processor the pipe hashes in line in the caller's own buffer.
    if (first != own) {
        EXPECT_NE(second, first);
    } else {
        EXPECT_EQ(second, own);
    }
    uint8_t digest[32];
    pipe.Finish(digest);
}
