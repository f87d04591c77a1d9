// Runs a fuzz target's entry function over saved inputs without libFuzzer:
//   fuzz_TARGET_replay [--allow-empty] PATH...
// Each PATH is a file, or a folder whose files (not those starting with
// ".") are taken in name order. A failing input ends the process the way
// it ends under the fuzzer (a sanitizer report or a failed check), so the
// corpora and the saved findings replay as a regression suite. At least
// one input must have run unless --allow-empty is given.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> filesOf(const std::string& folder)
{
    std::vector<std::string> files;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string path = folder + "/" + entry->d_name;
            if (!isFolder(path))
                files.push_back(path);
        }
        ::closedir(dir);
    } else {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", folder.c_str(), std::strerror(errno));
        std::exit(2);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    bool allowEmpty = false;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--allow-empty") {
            allowEmpty = true;
            continue;
        }
        if (isFolder(arg)) {
            const std::vector<std::string> files = filesOf(arg);
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.push_back(arg);
        }
    }
    for (const std::string& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 2;
        }
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "replay: %zu input(s) ran\n", inputs.size());
    if (inputs.empty() && !allowEmpty) {
        std::fprintf(stderr, "replay: no input found\n");
        return 1;
    }
    return 0;
}
