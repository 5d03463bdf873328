// Runs a fuzz target once over every file of the corpus folders (or files)
// given, as libFuzzer does with -runs=0, so the normal test run checks every
// committed input with any compiler. An invariant that fails aborts; the
// file being run is printed first.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else {
            files.push_back(path);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no corpus files given\n");
        return 2;
    }
    for (const auto& file : files) {
        std::fprintf(stderr, "%s\n", file.string().c_str());
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs ran\n", files.size());
    return 0;
}
