// Without libFuzzer: feeds each file of the folders (or the files) named on the command line
// to the target once, in name order, so the seeds and the reproducers of past crashes are
// replayed as a test. Names starting with "." or "README" are left out.
#include <dirent.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        DIR *dir = ::opendir(argv[i]);
        if (dir == nullptr) {
            inputs.emplace_back(argv[i]);
            continue;
        }
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name[0] != '.' && name.rfind("README", 0) != 0)
                inputs.push_back(std::string(argv[i]) + "/" + name);
        }
        ::closedir(dir);
    }
    std::sort(inputs.begin(), inputs.end());
    for (const std::string &input : inputs) {
        std::ifstream file(input, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 1;
        }
        const std::string data((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
