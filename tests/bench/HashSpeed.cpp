// Benchmark, not part of the updater: the result file's SHA-256 over 256 MiB of one 32 KiB
// buffer, fed to it as the extraction feeds it, on the path that this processor takes and on
// the portable one. Prints one line per path, in MB/s (10^6 bytes a second).
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "Sha256.h"

namespace {

double MegabytesPerSecond(Sha256::Path path)
{
    static uint8_t buffer[0x8000];
    for (size_t i = 0; i < sizeof buffer; ++i)
        buffer[i] = static_cast<uint8_t>(i * 131 + 7);
    const int pieces = 8192;  // 256 MiB
    Sha256 hash(path);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < pieces; ++i)
        hash.Add(buffer, sizeof buffer);
    uint8_t digest[32];
    hash.Finish(digest);
    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    return double(pieces) * sizeof buffer / seconds / 1e6;
}

}  // namespace

int wmain()
{
    Sha256::Path fastest = Sha256::FastestPath();
    if (fastest == Sha256::Path::ShaExtensions)
        std::printf("SHA-256, SHA extensions (this processor's path): %.0f MB/s\n",
                    MegabytesPerSecond(Sha256::Path::ShaExtensions));
    std::printf("SHA-256, portable code%s: %.0f MB/s\n",
                fastest == Sha256::Path::Portable ? " (this processor's path)" : "",
                MegabytesPerSecond(Sha256::Path::Portable));
    return 0;
}
