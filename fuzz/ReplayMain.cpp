// Runs a libFuzzer harness over every file of the folders given on the command line, so that
// the corpus and the kept crash inputs replay as an ordinary test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    unsigned count = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::error_code ec;
        if (!fs::is_directory(argv[i], ec))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(argv[i]))
        {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++count;
        }
    }
    // An empty input always runs, so that a harness with no corpus is still exercised.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %u inputs\n", count + 1);
    return 0;
}
