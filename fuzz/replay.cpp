// Runs a fuzz target over files and directories of seeds without libFuzzer, as regression tests.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

int main(int argc, char* argv[]) {
    namespace fs = std::filesystem;
    std::freopen("/dev/null", "w", stdout);  // the readers' progress
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> paths{argv[i]};
        if (fs::is_directory(argv[i])) paths.assign(fs::directory_iterator(argv[i]), {});
        for (const fs::path& path : paths) {
            if (fs::is_directory(path)) continue;
            std::ifstream in(path, std::ios::binary);
            if (!in.is_open()) return std::fprintf(stderr, "cannot read %s\n", path.c_str()), 2;
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            std::fprintf(stderr, "%s\n", path.c_str()), ++inputs;
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        }
    }
    return std::fprintf(stderr, "%d inputs passed\n", inputs), inputs > 0 ? 0 : 2;
}
