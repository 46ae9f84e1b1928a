// Runs the dialogue fuzz target once over each file of the checked-in corpus,
// for builds without libFuzzer; a mismatch aborts, as it does under the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    int inputs = 0;
    for (int a = 1; a < argc; a++) {
        for (const auto &entry : std::filesystem::directory_iterator(argv[a])) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                   bytes.size());
            inputs++;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    // an empty or missing corpus would otherwise pass unseen
    return inputs > 0 ? 0 : 1;
}
